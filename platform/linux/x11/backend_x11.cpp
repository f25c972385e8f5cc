// The X11 backend's table.
#include "x11.h"

namespace platform {

const Backend x11_backend = {
    "x11",
    [] { return x11::display() != nullptr; },
    x11::connection_lost,
    x11::copy_from_screen,
    x11::copy_wallpaper,
    x11::started_by_xscreensaver,
#define TIDEFOLD_BACKEND_CALL(ret, name, params, args) x11::api::name,
#include "backend_calls.h"
#undef TIDEFOLD_BACKEND_CALL
};

} // namespace platform
