// State shared by the Wayland services of this folder (connection.cpp, user.cpp, gdi.cpp, wgl.cpp,
// monitors.cpp): the compositor connection, its globals and outputs, and our window records.
// Internal to platform/linux and its tests; the program itself sees only win32.h.
#pragma once

#include "backend.h"
#include "bitmaps.h"
#include "capture.h"
#include "queue.h"
#include "win32.h"

#include <EGL/egl.h>
#include <wayland-client.h>
#include <wayland-egl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct xdg_wm_base;
struct xdg_surface;
struct xdg_toplevel;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;

namespace wl {

using namespace platform;

// An output and its place in the compositor's logical layout.
struct Output {
    wl_output *output = nullptr;
    uint32_t name = 0;        // the registry name
    zxdg_output_v1 *xdg = nullptr;
    int x = 0, y = 0;         // logical position
    int width = 0, height = 0; // logical size (the mode's size over the scale without xdg-output)
    int mode_width = 0, mode_height = 0;
    int refresh_mhz = 0;
    int scale = 1;
    bool logical_known = false; // xdg-output told the logical place
};

struct Connection {
    wl_display *display = nullptr;
    wl_registry *registry = nullptr;
    wl_compositor *compositor = nullptr;
    wl_shm *shm = nullptr;
    wl_seat *seat = nullptr;
    wl_keyboard *keyboard = nullptr;
    wl_pointer *pointer = nullptr;
    xdg_wm_base *wm_base = nullptr;
    zwlr_layer_shell_v1 *layer_shell = nullptr;
    zxdg_output_manager_v1 *output_manager = nullptr;
    std::vector<std::unique_ptr<Output>> outputs;
    CaptureGlobals capture;
    bool broken = false;
};

// The connection to $WAYLAND_DISPLAY with its globals bound and outputs known; null when no
// compositor answers or the connection in use broke.
Connection *connection();
// Whether a connection in use broke (the compositor went away).
bool connection_lost();
// Sends what is buffered and dispatches what the compositor sent, without blocking. Marks the
// connection broken when it fails.
void read_events();
// Waits up to timeout_ms for the compositor to send something; true when it did.
bool events_waiting(int timeout_ms);
// Round trip: everything sent so far is answered; false when the connection broke.
bool round_trip();
// Whether the compositor answered the sync sent after the last frame (reading what it sent so
// far); and the call that sends one after a frame. A swap needs a buffer back from the compositor,
// so one that stopped answering would hold the swap and the loop with it.
bool caught_up_with_frames();
void ask_frame_answer();
// The output whose logical area holds (x, y), else the first; null when there is none.
Output *output_at(int x, int y);
RECT output_rect(const Output &o);
// An output was added, changed or removed: our windows hear of it (monitors.cpp).
void outputs_changed();

// A window this process created with CreateWindowExA: a surface of its own on an output.
struct WindowRec {
    HWND hwnd = nullptr;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD ex_style = 0;
    int x = 0, y = 0, width = 0, height = 0;
    Output *output = nullptr;
    wl_surface *surface = nullptr;
    zwlr_layer_surface_v1 *layer = nullptr;
    xdg_surface *xdg = nullptr;
    xdg_toplevel *toplevel = nullptr;
    bool configured = false;
    bool mapped = false;
    bool destroying = false;
    bool active = false;
    // The pixel format set on the window and the EGL surface that carries it.
    int pixel_format = 0;
    wl_egl_window *egl_window = nullptr;
    EGLSurface egl_surface = EGL_NO_SURFACE;
    bool swap_interval_set = false;
};
WindowRec *find_window(HWND hwnd);
WindowRec *find_window_surface(wl_surface *surface);
// The backend table's questions about our windows and its calls into them (see backend.h).
WindowState window_state(HWND hwnd, WNDPROC *proc);
void finish_destroy(HWND hwnd);
std::vector<WindowRec *> windows();

// EGL on the connection: the display, initialised for desktop OpenGL; EGL_NO_DISPLAY when it cannot be.
EGLDisplay egl_display();
// The configs offered as pixel formats: format n is entry n - 1.
struct PixelFormat {
    EGLConfig config;
    bool double_buffer;
    int red, green, blue, alpha, depth, stencil;
};
const std::vector<PixelFormat> &pixel_formats();
// The window's EGL surface is going away: no context may stay current on it.
void gl_forget_surface(EGLSurface surface);
// Before the connection closes: every context and surface goes.
void gl_shutdown();
// Shows what the current context drew on the window's surface (single-buffered formats show at
// the release of the context), paced to the output's refresh rate.
void present(WindowRec &rec);

// Input (input.cpp). Where the pointer is in the layout as the saver sees it.
bool pointer_position(POINT *pt);
// Called as the queue is read: a window the keyboard left a moment ago, and did not come back
// to, loses activation (see input.cpp).
void settle_keyboard_leave();
// The window is going away: input no longer goes to it.
void forget_input_window(WindowRec *w);
// Makes the pointer over our surfaces follow a change of cursor_hidden().
void cursor_visibility_changed();
void reset_input();

// BitBlt from the desktop DC: the photograph of the output under the area (gdi.cpp).
bool copy_from_screen(const DcRec &src, int x1, int y1, BitmapRec &dst, int x, int y, int cx, int cy);

// GTK on the compositor, for the dialogs (gtk.cpp).
bool open_gtk();

// Closes the connection (connection.cpp; a broken one is only let go).
void close_connection();
// Closes the connection and forgets every window, context and queued message (tests start
// each case afresh).
void shutdown();

// The Wayland implementations of the calls that differ between backends (see backend.h).
namespace api {
#define TIDEFOLD_BACKEND_CALL(ret, name, params, args) ret WINAPI name params;
#include "backend_calls.h"
#undef TIDEFOLD_BACKEND_CALL
} // namespace api

} // namespace wl
