// The display backends: X11 (Xlib and GLX), Wayland (libwayland-client and EGL) and, for tests,
// null (no server). One is chosen when the program first needs a display, and every call in
// backend_calls.h goes to it; the rules the backends share are kept once, in window_core.h.
// Internal to platform/linux and its tests; the program itself sees only win32.h.
#pragma once

#include "bitmaps.h"
#include "win32.h"

namespace platform {

enum class BackendKind { x11, wayland, null };

// Where one of the backend's windows stands: not ours (or gone), alive, or destroyed with its
// WM_DESTROY still to come.
enum class WindowState { none, alive, destroying };

struct Backend {
    // Connects to the display server; false when none answers.
    bool (*connect)();
    // Whether a connection in use broke (the server went away).
    bool (*lost)();
    // BitBlt from a window DC (the desktop's, for the photograph) into the block of dst at x, y.
    // False when no photograph can be had (none left by a host, a capture refused or failed).
    bool (*copy_from_screen)(const DcRec &src, int x1, int y1, BitmapRec &dst, int x, int y, int cx, int cy);
    // The wallpaper a desktop publishes, from the screen point x1, y1 of the saver's area into the
    // block of dst at x, y; false when none is published.
    bool (*copy_wallpaper)(int x1, int y1, BitmapRec &dst, int x, int y, int cx, int cy);
    // Whether the xscreensaver daemon started this run in a window of its own.
    bool (*started_by_xscreensaver)();
    // The screen's root window, for --root; 0 where there is none (or no display).
    unsigned long (*root_window)();
    // Makes the run draw inside the window another program handed over (see arguments.h).
    void (*embed_into)(unsigned long window);
    // Starts GTK, for the dialogs, on the same server as the windows; false when it cannot.
    bool (*open_gtk)();
    // The server's id of a dialog's GdkWindow, for tests that look at it from outside.
    unsigned long (*dialog_window_id)(void *gdk_window);
    // The window's state and, when proc is given, its procedure.
    WindowState (*window_state)(HWND hwnd, WNDPROC *proc);
    // Moves what the server sent so far into the queue.
    void (*read_events)();
    // Delivers the WM_DESTROY of a window destroyed from outside (and of its own windows inside
    // it), then lets it go.
    void (*finish_destroy)(HWND hwnd);
    // The pointer over our windows follows cursor_hidden() now.
    void (*cursor_visibility_changed)();
#define TIDEFOLD_BACKEND_CALL(ret, name, params, args) ret(WINAPI *name) params;
#include "backend_calls.h"
#undef TIDEFOLD_BACKEND_CALL
};

extern const Backend x11_backend;
extern const Backend wayland_backend;
extern const Backend null_backend;

// The backend in use. Chosen on first use: $TIDEFOLD_BACKEND (x11 or wayland) when set, else
// Wayland when $WAYLAND_DISPLAY (or the default socket named by it) has a compositor answering,
// else X11.
const Backend &backend();
BackendKind backend_kind();
// Settles the choice before first use (the X screen-saver conventions always mean X11; tests
// choose null).
void choose_backend(BackendKind kind);
// False, with one line on stderr, when $TIDEFOLD_BACKEND names a backend that does not exist.
bool backend_request_valid();

// The one line on stderr with which a run that lost its display ends (with status 1).
void report_lost_display();

} // namespace platform
