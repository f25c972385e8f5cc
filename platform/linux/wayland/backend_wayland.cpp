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
    wl::read_events,
    wl::pump_events,
    wl::show_surface,
    [] {
        if (wl::Connection *c = wl::connection()) wl_display_flush(c->display);
    },
    [](WindowRecord &) {},
    wl::destroy_surfaces,
    [](HWND, RECT *) { return false; },
    wl::cursor_visibility_changed,
#define TIDEFOLD_BACKEND_CALL(ret, name, params, args) wl::api::name,
#include "backend_calls.h"
#undef TIDEFOLD_BACKEND_CALL
};

} // namespace platform
