// The X11 backend's table.
#include "embed.h"

namespace platform {

const Backend x11_backend = {
    [] { return x11::display() != nullptr; },
    x11::connection_lost,
    x11::copy_from_screen,
    x11::copy_wallpaper,
    x11::started_by_xscreensaver,
    [] {
        Display *dpy = x11::display();
        return dpy ? static_cast<unsigned long>(DefaultRootWindow(dpy)) : 0ul;
    },
    [](unsigned long window) { x11::embed_into(window); },
    x11::open_gtk,
    x11::dialog_window_id,
    x11::read_events,
    x11::pump_events,
    x11::show_surface,
    x11::flush,
    x11::surface_closing,
    x11::destroy_surfaces,
    x11::foreign_window_rect,
    x11::cursor_visibility_changed,
#define TIDEFOLD_BACKEND_CALL(ret, name, params, args) x11::api::name,
#include "backend_calls.h"
#undef TIDEFOLD_BACKEND_CALL
};

} // namespace platform
