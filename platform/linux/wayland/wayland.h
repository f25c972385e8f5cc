// What the Wayland backend's files share (connection.cpp, input.cpp, user.cpp, gdi.cpp, wgl.cpp,
// monitors.cpp): the compositor connection, its globals and outputs, our windows' surfaces, and
// the one State struct the files keep between calls.
// Internal to platform/linux and its tests; the program itself sees only win32.h.
#pragma once

#include "backend.h"
#include "bitmaps.h"
#include "capture.h"
#include "frame_clock.h"
#include "queue.h"
#include "win32.h"
#include "window_core.h"

#include <EGL/egl.h>
#include <wayland-client.h>
#include <wayland-egl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct xdg_wm_base;
struct xdg_surface;
struct xdg_toplevel;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;
struct xkb_context;
struct xkb_keymap;
struct xkb_state;

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

// A window this process created with CreateWindowExA: what the core keeps, and a surface of its
// own on an output.
struct WindowRec : WindowRecord {
    Output *output = nullptr;
    wl_surface *surface = nullptr;
    zwlr_layer_surface_v1 *layer = nullptr;
    xdg_surface *xdg = nullptr;
    xdg_toplevel *toplevel = nullptr;
    bool configured = false;
    bool active = false;
    // The EGL surface that carries the pixel format.
    wl_egl_window *egl_window = nullptr;
    EGLSurface egl_surface = EGL_NO_SURFACE;
};
// Our window while it is alive; the one with this surface; all of them.
WindowRec *find_window(HWND hwnd);
WindowRec *find_window_surface(wl_surface *surface);
std::vector<WindowRec *> windows();
// The backend table's calls into the windows (see backend.h).
void pump_events();
bool show_surface(WindowRecord &w, bool visible);
void destroy_surfaces(const std::vector<WindowRecord *> &tree, bool destroy_first);

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
// Before the connection closes: every context goes.
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
// The keymap goes.
void release_input();

// BitBlt from the desktop DC: the photograph of the output under the area (gdi.cpp).
bool copy_from_screen(const DcRec &src, int x1, int y1, BitmapRec &dst, int x, int y, int cx, int cy);

// What the backend's files keep between calls; shutdown lets go of what it holds and starts afresh
// with a new one.
struct GlContext {
    EGLContext ctx = EGL_NO_CONTEXT;
    int format = 0;
};
struct State {
    // The connection (connection.cpp): null until made; lost once one in use broke; the sync
    // sent after the last frame, until answered.
    Connection *conn = nullptr;
    bool lost = false;
    wl_callback *frame_answer = nullptr;
    // The keyboard and pointer (input.cpp).
    xkb_context *xkb = nullptr;
    xkb_keymap *keymap = nullptr;
    xkb_state *keyboard_state = nullptr;
    WindowRec *key_focus = nullptr;
    WindowRec *pointer_focus = nullptr;
    WindowRec *left_window = nullptr; // the keyboard left it at left_at (see keyboard_leave)
    DWORD left_at = 0;
    uint32_t pointer_serial = 0;
    WPARAM buttons = 0; // MK_ bits of the buttons held
    // Where the pointer is in the layout as the saver sees it (see input.cpp).
    bool position_known = false;
    POINT position = {0, 0};
    bool anchor_given = false;
    POINT anchor = {0, 0};
    bool offset_set = false;
    POINT offset = {0, 0};
    // EGL and its contexts (wgl.cpp).
    EGLDisplay egl = EGL_NO_DISPLAY;
    bool egl_tried = false;
    std::vector<PixelFormat> formats;
    std::unordered_map<uintptr_t, GlContext> contexts;
    HGLRC current = nullptr;
    WindowRec *current_window = nullptr;
    FrameClock clock;
    const Output *rated_output = nullptr;
    // The frame callback asked with the last frame shown, until the compositor answers it: its
    // word that it showed that frame and wants the next. A surface it shows nowhere (its output
    // off, or nothing repainting it) gets no answer.
    wl_callback *frame_callback = nullptr;
    const WindowRec *frame_callback_window = nullptr;
    bool frame_callbacks_come = false; // the compositor has answered one
    int64_t frame_callback_asked_ns = 0; // when the callback waiting now was asked
};
extern State g_state;

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
