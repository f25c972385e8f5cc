// Windows and the message loop on Wayland. The saver's full-screen popup becomes a surface of its
// own on the overlay layer of its output (layer shell), or a full-screen toplevel where the
// compositor has no layer shell; other top-level windows are plain toplevels. Child windows are an
// X11 matter (previews) and are not made here.
#include "wayland.h"

#include "layer_shell.h"
#include "signals.h"
#include "window_core.h"
#include "xdg-shell-client.h"

#include <algorithm>
#include <map>

namespace wl {
namespace {

const HWND kDesktop = reinterpret_cast<HWND>(uintptr_t(0x10));

void resize(WindowRec &w, int width, int height)
{
    if (width <= 0 || height <= 0 || (width == w.width && height == w.height)) return;
    w.width = width;
    w.height = height;
    if (w.egl_window) wl_egl_window_resize(w.egl_window, width, height, 0, 0);
    queue_message(w.hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(width, height), true);
}

void layer_configure(void *data, zwlr_layer_surface_v1 *layer, uint32_t serial, uint32_t width, uint32_t height)
{
    auto *w = static_cast<WindowRec *>(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    w->configured = true;
    resize(*w, int(width), int(height));
}

// The output went away, or the compositor took the surface back: the window is gone.
void layer_closed(void *data, zwlr_layer_surface_v1 *) { surface_closed(static_cast<WindowRec *>(data)->hwnd); }

const zwlr_layer_surface_v1_listener layer_listener = {layer_configure, layer_closed};

void xdg_surface_configure(void *data, xdg_surface *surface, uint32_t serial)
{
    xdg_surface_ack_configure(surface, serial);
    static_cast<WindowRec *>(data)->configured = true;
}

const xdg_surface_listener xdg_surface_listener_ = {xdg_surface_configure};

void toplevel_configure(void *data, xdg_toplevel *, int32_t width, int32_t height, wl_array *)
{
    resize(*static_cast<WindowRec *>(data), width, height);
}

void toplevel_close(void *data, xdg_toplevel *)
{
    auto *w = static_cast<WindowRec *>(data);
    if (!w->destroying) queue_message(w->hwnd, WM_SYSCOMMAND, SC_CLOSE, 0, false);
}

void toplevel_bounds(void *, xdg_toplevel *, int32_t, int32_t) {}
void toplevel_capabilities(void *, xdg_toplevel *, wl_array *) {}

const xdg_toplevel_listener toplevel_listener = {toplevel_configure, toplevel_close, toplevel_bounds,
                                                 toplevel_capabilities};

// The saver's surface: above everything on its output, stretched over panels' reserved areas,
// holding the keyboard unless it is one monitor's of several (the first saver holds it then).
bool make_layer_surface(Connection *c, WindowRec &w)
{
    w.layer = zwlr_layer_shell_v1_get_layer_surface(c->layer_shell, w.surface, w.output ? w.output->output : nullptr,
                                                    ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "tidefold");
    zwlr_layer_surface_v1_add_listener(w.layer, &layer_listener, &w);
    zwlr_layer_surface_v1_set_anchor(w.layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                                  ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    zwlr_layer_surface_v1_set_size(w.layer, 0, 0);
    zwlr_layer_surface_v1_set_exclusive_zone(w.layer, -1);
    bool takes_keys = !(w.ex_style & WS_EX_NOACTIVATE);
    zwlr_layer_surface_v1_set_keyboard_interactivity(
        w.layer, takes_keys ? ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE : ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    return true;
}

bool make_toplevel(Connection *c, WindowRec &w, LPCSTR title, bool fullscreen)
{
    if (!c->wm_base) return false;
    w.xdg = xdg_wm_base_get_xdg_surface(c->wm_base, w.surface);
    xdg_surface_add_listener(w.xdg, &xdg_surface_listener_, &w);
    w.toplevel = xdg_surface_get_toplevel(w.xdg);
    xdg_toplevel_add_listener(w.toplevel, &toplevel_listener, &w);
    if (title) xdg_toplevel_set_title(w.toplevel, title);
    xdg_toplevel_set_app_id(w.toplevel, "tidefold");
    if (fullscreen) xdg_toplevel_set_fullscreen(w.toplevel, w.output ? w.output->output : nullptr);
    return true;
}

void destroy_surface(WindowRec &w)
{
    if (w.egl_surface != EGL_NO_SURFACE) gl_forget_surface(w.egl_surface);
    w.egl_surface = EGL_NO_SURFACE;
    if (w.egl_window) wl_egl_window_destroy(w.egl_window);
    w.egl_window = nullptr;
    Connection *c = connection();
    if (!c) return; // the connection broke: its objects stay with it
    if (w.layer) zwlr_layer_surface_v1_destroy(w.layer);
    if (w.toplevel) xdg_toplevel_destroy(w.toplevel);
    if (w.xdg) xdg_surface_destroy(w.xdg);
    if (w.surface) wl_surface_destroy(w.surface);
    wl_display_flush(c->display);
}

void set_visible(WindowRec &w, bool visible)
{
    if (visible && !w.configured && w.surface && connection()) {
        // Shown again after hiding: the compositor configures the surface afresh first.
        wl_surface_commit(w.surface);
        round_trip();
    }
    w.mapped = visible;
    if (!visible && w.surface && connection()) {
        // Without a buffer the surface leaves the screen; its role stays for the next showing.
        wl_surface_attach(w.surface, nullptr, 0, 0);
        wl_surface_commit(w.surface);
        w.configured = false;
        read_events();
    }
}

} // namespace

WindowRec *find_window(HWND hwnd) { return static_cast<WindowRec *>(live_window(hwnd)); }

WindowRec *find_window_surface(wl_surface *surface)
{
    if (!surface) return nullptr;
    for (WindowRec *w : windows())
        if (w->surface == surface && !w->destroying) return w;
    return nullptr;
}

std::vector<WindowRec *> windows() { return all_windows_as<WindowRec>(); }

bool show_surface(WindowRecord &w, bool visible)
{
    if (!connection()) return false;
    set_visible(static_cast<WindowRec &>(w), visible);
    return true;
}

void destroy_surfaces(const std::vector<WindowRecord *> &tree, bool)
{
    for (WindowRecord *w : tree) {
        forget_input_window(static_cast<WindowRec *>(w));
        destroy_surface(static_cast<WindowRec &>(*w));
    }
}

// A compositor that went away takes every window with it; each gets its WM_DESTROY, so the program
// ends the way it would had its windows been closed.
void pump_events()
{
    if (connection_lost()) drop_all_windows(true);
    read_events();
    if (connection_lost()) drop_all_windows(true);
    settle_keyboard_leave();
}

void shutdown()
{
    drop_all_windows(false);
    gl_shutdown();
    close_connection();
    release_input();
    g_state = State();
    reset_queue();
    reset_window_core();
}

namespace api {

int WINAPI GetSystemMetrics(int nIndex)
{
    Connection *c = connection();
    if (!c) return 0;
    switch (nIndex) {
    case SM_CXSCREEN: return c->capture.layout_width;
    case SM_CYSCREEN: return c->capture.layout_height;
    default: return 0;
    }
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam)
{
    WindowClass *cls = find_class(lpClassName);
    Connection *c = connection();
    if (!cls || !c || (dwStyle & WS_CHILD)) return nullptr;
    bool saver = (dwStyle & WS_POPUP) && (dwExStyle & WS_EX_TOPMOST);
    auto owned = std::make_unique<WindowRec>();
    WindowRec &w = *owned;
    w.hwnd = reinterpret_cast<HWND>(new_handle());
    w.proc = cls->wc.lpfnWndProc;
    w.style = dwStyle;
    w.ex_style = dwExStyle;
    w.output = output_at(X, Y);
    if (saver && w.output) {
        // The saver covers its whole output.
        RECT area = output_rect(*w.output);
        X = area.left;
        Y = area.top;
        nWidth = area.right - area.left;
        nHeight = area.bottom - area.top;
    }
    w.x = X;
    w.y = Y;
    w.width = std::max(nWidth, 1);
    w.height = std::max(nHeight, 1);
    w.surface = wl_compositor_create_surface(c->compositor);
    bool made = saver && c->layer_shell ? make_layer_surface(c, w) : make_toplevel(c, w, lpWindowName, saver);
    if (!made) {
        wl_surface_destroy(w.surface);
        return nullptr;
    }
    wl_surface_commit(w.surface);
    round_trip();
    return finish_creation(std::move(owned), lpClassName, lpWindowName, hMenu, hInstance, lpParam);
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect)
{
    WindowRec *w = find_window(hWnd);
    if (!w || !lpRect) return FALSE;
    *lpRect = {w->x, w->y, w->x + w->width, w->y + w->height};
    return TRUE;
}

BOOL WINAPI GetCursorPos(LPPOINT lpPoint)
{
    if (!lpPoint || !connection()) return FALSE;
    return pointer_position(lpPoint);
}

HWND WINAPI GetDesktopWindow(void) { return connection() ? kDesktop : nullptr; }

HDC WINAPI GetDC(HWND hWnd)
{
    if (!connection()) return nullptr;
    if (!hWnd || hWnd == kDesktop) return new_window_dc(nullptr, 0);
    WindowRec *w = find_window(hWnd);
    return w ? new_window_dc(hWnd, reinterpret_cast<uintptr_t>(hWnd)) : nullptr;
}

} // namespace api
} // namespace wl
