// The Wayland backend's table.
#include "wayland.h"

namespace platform {

const Backend wayland_backend = {
    "wayland",
    [] { return wl::connection() != nullptr; },
    wl::connection_lost,
    wl::copy_from_screen,
    [](int, int, BitmapRec &, int, int, int, int) { return false; },
    [] { return false; },
#define TIDEFOLD_BACKEND_CALL(ret, name, params, args) wl::api::name,
#include "backend_calls.h"
#undef TIDEFOLD_BACKEND_CALL
};

} // namespace platform
