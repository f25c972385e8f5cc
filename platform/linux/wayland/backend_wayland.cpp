// The Wayland backend's table.
#include "wayland.h"

namespace platform {

const Backend wayland_backend = {
    [] { return wl::connection() != nullptr; },
    wl::connection_lost,
    wl::copy_from_screen,
    [](int, int, BitmapRec &, int, int, int, int) { return false; },
    [] { return false; },
    [] { return 0ul; },
    [](unsigned long) {},
    wl::open_gtk,
    [](void *) { return 0ul; },
    wl::window_state,
    wl::read_events,
    wl::finish_destroy,
    wl::cursor_visibility_changed,
#define TIDEFOLD_BACKEND_CALL(ret, name, params, args) wl::api::name,
#include "backend_calls.h"
#undef TIDEFOLD_BACKEND_CALL
};

} // namespace platform
