// The choice of display backend, and the Win32 calls that forward to it.
#include "backend.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

const Backend *g_backend = nullptr;

bool names_value(const char *value) { return value && *value; }

// What the environment asks for, without connecting.
BackendKind requested_backend()
{
    const char *forced = getenv("TIDEFOLD_BACKEND");
    if (names_value(forced)) return strcmp(forced, "wayland") == 0 ? BackendKind::wayland : BackendKind::x11;
    return names_value(getenv("WAYLAND_DISPLAY")) ? BackendKind::wayland : BackendKind::x11;
}

} // namespace

bool backend_request_valid()
{
    const char *forced = getenv("TIDEFOLD_BACKEND");
    if (!names_value(forced) || strcmp(forced, "x11") == 0 || strcmp(forced, "wayland") == 0) return true;
    fprintf(stderr, "tidefold: TIDEFOLD_BACKEND is \"%s\"; it may be x11 or wayland\n", forced);
    return false;
}

const Backend &backend()
{
    if (!g_backend) {
        const char *forced = getenv("TIDEFOLD_BACKEND");
        bool wayland = requested_backend() == BackendKind::wayland;
        // A stale $WAYLAND_DISPLAY (a session that ended) leaves X11, unless Wayland was asked for by name.
        if (wayland && !names_value(forced) && !wayland_backend.connect()) wayland = false;
        g_backend = wayland ? &wayland_backend : &x11_backend;
    }
    return *g_backend;
}

BackendKind backend_kind()
{
    const Backend *b = &backend();
    return b == &wayland_backend ? BackendKind::wayland : b == &null_backend ? BackendKind::null : BackendKind::x11;
}

void choose_backend(BackendKind kind)
{
    g_backend = kind == BackendKind::wayland ? &wayland_backend : kind == BackendKind::null ? &null_backend : &x11_backend;
}

void report_lost_display() { fputs("tidefold: lost the connection to the display\n", stderr); }

} // namespace platform

#define TIDEFOLD_BACKEND_CALL(ret, name, params, args) \
    ret WINAPI name params { return platform::backend().name args; }
#include "backend_calls.h"
#undef TIDEFOLD_BACKEND_CALL
