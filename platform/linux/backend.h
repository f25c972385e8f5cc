// The display backends: X11 (Xlib and GLX), Wayland (libwayland-client and EGL) and, for tests,
// null (no server). One is chosen when the program first needs a display, and every call in
// backend_calls.h goes to it; the rules the backends share are kept once, in window_core.h.
// Internal to platform/linux and its tests; the program itself sees only win32.h.
#pragma once

#include "bitmaps.h"
#include "win32.h"

#include <vector>

namespace platform {

struct WindowRecord;

enum class BackendKind { x11, wayland, null };

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
    // Moves what the server sent so far into the queue.
    void (*read_events)();
    // As the program peeks: notices a lost connection (its windows go), asks again for what the
    // server refused (grabs) and moves what the server sent into the queue.
    void (*pump_events)();
    // Shows or hides the window's surface; false when there is no connection.
    bool (*show_surface)(WindowRecord &w, bool visible);
    // Sends what is buffered for the server.
    void (*flush)();
    // The program destroys the window (and our windows inside it): it lets go of what it holds
    // for it (grabs) before the procedures hear WM_DESTROY.
    void (*surface_closing)(WindowRecord &top);
    // The windows' WM_DESTROY was delivered: their surfaces go, the first one's destroyed on the
    // server when it still exists there.
    void (*destroy_surfaces)(const std::vector<WindowRecord *> &tree, bool destroy_first);
    // The client rectangle of a window that is not ours (another program's, the root); false
    // when there is no such window.
    bool (*foreign_window_rect)(HWND hwnd, RECT *client);
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
