// What the X11 backend's files share: the display connection and its error trap (connection.cpp),
// events, the pointer and grabs (input.cpp), the X side of our windows (user.cpp), the GL visuals
// offered as pixel formats (wgl.cpp) and the screen's pictures (gdi.cpp).
// Internal to platform/linux and its tests; the program itself sees only win32.h.
#pragma once

#include "backend.h"
#include "bitmaps.h"
#include "queue.h"
#include "win32.h"
#include "frame_clock.h"
#include "window_core.h"

#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace x11 {

using namespace platform;

// The process's display connection, opened on first use from $DISPLAY; null when no server answers
// (a later call tries again).
Display *display();
// The connection if it is already open, without opening it.
Display *display_if_open();

// Closes the display and forgets every window, window device context, GL context and queued
// message; classes stay registered and memory bitmaps stay alive. The next call that needs the
// display opens $DISPLAY afresh (tests start a new server for each case).
void shutdown();

// Records X errors on our connection for the duration of a call instead of letting the default
// handler end the process. failed() waits for the server to answer everything sent so far.
class ErrorTrap {
public:
    explicit ErrorTrap(Display *dpy);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap &) = delete;
    ErrorTrap &operator=(const ErrorTrap &) = delete;

    bool failed();

private:
    Display *dpy_;
    unsigned long first_serial_;
    ErrorTrap *outer_;
    int code_ = 0;
    friend int record_error(Display *, XErrorEvent *);
};
int record_error(Display *dpy, XErrorEvent *ev);

// A window this process created with CreateWindowExA: what the core keeps, and its X side.
struct WindowRec : WindowRecord {
    Window xid = 0;
    bool saver_popup = false;   // full-screen topmost popup: override-redirect, raised, grabbing
    bool embedded = false;      // inside the window of an embedded run: no input, no cursor of ours
    bool grabbed = false;       // holds the keyboard or the pointer
    bool keyboard_held = false;
    bool pointer_held = false;
    // While another client holds what the saver popup wants, it asks again until this time.
    DWORD grab_retry_until = 0;
    DWORD next_grab_try = 0;
    // The GL child window that carries the pixel format's visual.
    Window gl_child = 0;
    Colormap gl_colormap = 0;
};

// Our window while it is alive; our window in any state; all of them.
WindowRec *find_window(HWND hwnd);
WindowRec *find_window_xid(Window xid);
std::vector<WindowRec *> windows();
// The backend table's calls into the windows (user.cpp) and input (input.cpp); see backend.h.
bool show_surface(WindowRecord &w, bool visible);
void flush();
void surface_closing(WindowRecord &top);
void destroy_surfaces(const std::vector<WindowRecord *> &tree, bool destroy_first);
bool foreign_window_rect(HWND hwnd, RECT *client);
void read_events();
void pump_events();
void cursor_visibility_changed();
// The X window a handle names. X ids have 32 bits: a larger handle names no window (None), rather
// than whichever window its low bits happen to name once the request is sent.
inline Window xid_of(HWND hwnd)
{
    uint64_t value = reinterpret_cast<uintptr_t>(hwnd);
    return value >> 32 ? None : static_cast<Window>(value);
}
inline HWND hwnd_of(Window xid) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(xid)); }



// Keeps our Xlib handlers installed: a toolkit initialised later may have replaced them, and its
// handlers end the process on any broken connection (connection.cpp).
void install_handlers();
// The connection is gone: every window went with it (connection.cpp).
void drop_connection(bool notify);
// The pointer shape over our windows, following the cursor count (input.cpp).
Cursor current_cursor();
// The saver popup's hold on the keyboard and the pointer (input.cpp).
void grab_input(WindowRec &rec);
void ungrab_input(WindowRec &rec);
void retry_grabs();
// A shown saver popup (one that wants grabs) still without the keyboard or the pointer.
bool grabs_outstanding(const WindowRec &rec);
// Moves what the server has sent into the queue; with sync, after the server answered (input.cpp).
void read_x_events(bool sync);

// The GL-capable visuals of the screen in a fixed order: pixel format n is entry n - 1.
struct PixelFormat {
    XVisualInfo visual;
    bool rgba = false;
    bool double_buffer = false;
    bool stereo = false;
    int level = 0;
    int buffer_size = 0;
    int red = 0, green = 0, blue = 0, alpha = 0;
    int depth_bits = 0, stencil_bits = 0, accum_bits = 0, aux_buffers = 0;
    int samples = 0;
};
const std::vector<PixelFormat> &pixel_formats();
// True when the server offers GLX at all.
bool has_glx();
// Whether the display's GLX extension string names this extension exactly.
bool glx_extension_advertised(const char *name);

// Called by user.cpp: the window's GL child is about to go away, so no context may stay current on it.
void gl_forget_drawable(Window gl_child);
// Called by shutdown: destroy every GL context before the connection closes.
void gl_shutdown();

// A monitor of the X screen: its area, and whether the server calls it the primary one.
struct MonitorArea {
    RECT rect;
    bool primary;
};

// A GL context of ours: the GLX context and the pixel format it was made for.
struct GlContext {
    GLXContext ctx = nullptr;
    int format = 0;
};

// Request serials of our own grabs and ungrabs: the focus events they cause are not activation
// changes.
struct SerialRange {
    unsigned long first, end;
};

// What the backend keeps between calls: one record, reset in one place.
struct State {
    Display *dpy = nullptr;
    bool dpy_dead = false;
    bool dpy_lost = false; // a connection in use went away; the program ends with an error
    XIOErrorHandler prev_io_handler = nullptr;
    ErrorTrap *trap = nullptr;
    // The window an embedded run draws inside (embed.cpp); it outlives connections.
    Window embed_target = 0;
    // What belongs to one connection and goes with it (drop_connection).
    struct OfConnection {
        Atom wm_protocols = 0;
        Atom wm_delete_window = 0;
        Cursor blank_cursor = 0;
        Cursor arrow_cursor = 0;
        std::vector<SerialRange> own_grab_serials;
        // GL contexts and the one current (wgl.cpp).
        std::unordered_map<uintptr_t, GlContext> contexts;
        HGLRC current = nullptr;
        Window current_drawable = 0;
        // The pixel formats, once read (gdi.cpp).
        std::vector<PixelFormat> formats;
        bool formats_loaded = false;
        // The monitors as EnumDisplayMonitors last listed them (HMONITOR n is entry n - 1), the
        // covers over what none shows, and RandR's first event number once its notices are asked
        // for (monitors.cpp).
        std::vector<MonitorArea> listed;
        std::vector<Window> covers;
        bool covering = false;
        int randr_event_base = -1;
        // The frame clock at the rate of the monitor under the drawable, and the monitors' power
        // as last asked (pacing.cpp).
        FrameClock clock;
        Window rated_drawable = 0;
        bool lit_known = false;
        int64_t lit_asked_ns = 0;
    } conn;
};
extern State g_state;

// The X11 implementations of the calls that differ between backends (see backend.h).
namespace api {
#define TIDEFOLD_BACKEND_CALL(ret, name, params, args) ret WINAPI name params;
#include "backend_calls.h"
#undef TIDEFOLD_BACKEND_CALL
} // namespace api

// Whether the display connection in use went away (for the backend table).
bool connection_lost();
// BitBlt from a window's (or the root's) contents (gdi.cpp).
bool copy_from_screen(const DcRec &src, int x1, int y1, BitmapRec &dst, int x, int y, int cx, int cy);
// The wallpaper published on the root, from the screen point x1, y1 of the saver's area; false
// when there is none (gdi.cpp).
bool copy_wallpaper(int x1, int y1, BitmapRec &dst, int x, int y, int cx, int cy);
bool started_by_xscreensaver();
// GTK on the X display, for the dialogs (gtk.cpp).
bool open_gtk();
unsigned long dialog_window_id(void *gdk_window);

} // namespace x11
