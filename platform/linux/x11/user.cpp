// The X side of our windows: creating, showing and destroying them, and the rectangles and
// device contexts of windows that are not ours.
#include "x11.h"

#include "embed.h"
#include "monitors.h"
#include "window_core.h"

#include <algorithm>
#include <string>
#include <vector>

namespace x11 {
namespace {

void show(WindowRec &rec, bool visible)
{
    if (visible && !rec.mapped) {
        if (rec.saver_popup)
            XMapRaised(g_state.dpy, rec.xid);
        else
            XMapWindow(g_state.dpy, rec.xid);
        rec.mapped = true;
        XSync(g_state.dpy, False);
    } else if (!visible && rec.mapped) {
        ungrab_input(rec);
        XUnmapWindow(g_state.dpy, rec.xid);
        rec.mapped = false;
        XSync(g_state.dpy, False);
    }
    // A saver that takes no activation (one monitor's of several) leaves the input to the first.
    if (visible && rec.saver_popup && !rec.grabbed && !(rec.ex_style & WS_EX_NOACTIVATE)) {
        grab_input(rec);
        cover_unseen_parts();
    }
}

} // namespace

WindowRec *find_window_xid(Window xid) { return static_cast<WindowRec *>(window_record(hwnd_of(xid))); }

WindowRec *find_window(HWND hwnd) { return static_cast<WindowRec *>(live_window(hwnd)); }

std::vector<WindowRec *> windows() { return all_windows_as<WindowRec>(); }

bool show_surface(WindowRecord &w, bool visible)
{
    if (!display_if_open()) return false;
    show(static_cast<WindowRec &>(w), visible);
    return true;
}

void flush()
{
    if (Display *dpy = display_if_open()) XFlush(dpy);
}

void surface_closing(WindowRecord &top)
{
    if (g_state.dpy) ungrab_input(static_cast<WindowRec &>(top));
}

// No GL context stays on the windows' GL children; the first window (and the rest inside it) is
// destroyed on the server when it still exists there.
void destroy_surfaces(const std::vector<WindowRecord *> &tree, bool destroy_first)
{
    for (WindowRecord *w : tree)
        if (Window gl_child = static_cast<WindowRec *>(w)->gl_child) gl_forget_drawable(gl_child);
    if (destroy_first && g_state.dpy && !tree.empty()) {
        ErrorTrap trap(g_state.dpy);
        XDestroyWindow(g_state.dpy, xid_of(tree[0]->hwnd));
        trap.failed();
    }
    for (WindowRecord *w : tree) {
        auto *rec = static_cast<WindowRec *>(w);
        if (rec->gl_colormap && g_state.dpy) XFreeColormap(g_state.dpy, rec->gl_colormap);
    }
}

bool foreign_window_rect(HWND hwnd, RECT *client)
{
    Display *dpy = display();
    if (!dpy) return false;
    ErrorTrap trap(dpy);
    XWindowAttributes wa;
    if (!XGetWindowAttributes(dpy, xid_of(hwnd), &wa) || trap.failed()) return false;
    *client = {0, 0, wa.width, wa.height};
    return true;
}

} // namespace x11

namespace x11::api {

int WINAPI GetSystemMetrics(int nIndex)
{
    Display *dpy = display();
    if (!dpy) return 0;
    // An embedded run's screen is the window it was given.
    int width, height;
    bool target = embed_target() && embed_target_size(&width, &height);
    switch (nIndex) {
    case SM_CXSCREEN: return target ? width : DisplayWidth(dpy, DefaultScreen(dpy));
    case SM_CYSCREEN: return target ? height : DisplayHeight(dpy, DefaultScreen(dpy));
    default: return 0;
    }
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam)
{
    WindowClass *cls = find_class(lpClassName);
    if (!cls) return nullptr;
    Display *dpy = display();
    if (!dpy) return nullptr;
    int screen = DefaultScreen(dpy);
    Window root = RootWindow(dpy, screen);
    bool child = dwStyle & WS_CHILD;
    Window parent = root;
    if (child) {
        if (!hWndParent) return nullptr;
        parent = xid_of(hWndParent);
        WindowRec *prec = find_window_xid(parent);
        if (prec && prec->destroying) return nullptr;
        XWindowAttributes wa;
        ErrorTrap trap(dpy);
        Status ok = XGetWindowAttributes(dpy, parent, &wa);
        if (trap.failed() || !ok) return nullptr;
    }
    bool saver = !child && (dwStyle & WS_POPUP) && (dwExStyle & WS_EX_TOPMOST);
    bool embedded = child && embed_target() && parent == embed_target();
    if (saver) {
        // The saver popup covers its whole monitor (the whole X screen when there is one), above
        // everything, with no window manager frame.
        RECT area = saver_area_at(X, Y);
        X = area.left;
        Y = area.top;
        nWidth = area.right - area.left;
        nHeight = area.bottom - area.top;
    }
    nWidth = std::max(nWidth, 0);
    nHeight = std::max(nHeight, 0);

    XSetWindowAttributes a = {};
    unsigned long mask = CWBackPixmap | CWEventMask | CWCursor;
    a.background_pixmap = None;
    a.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                   FocusChangeMask | StructureNotifyMask | VisibilityChangeMask;
    a.cursor = current_cursor();
    if (saver) {
        a.override_redirect = True;
        mask |= CWOverrideRedirect;
    }
    // A window that takes no activation hears nothing of the focus: the keys that follow the
    // pointer over it, and their loss to the first saver's grab, are no activation of its own.
    if (dwExStyle & WS_EX_NOACTIVATE) a.event_mask &= ~FocusChangeMask;
    if (embedded) {
        // Input passes through to the target's owner, and so does the choice of pointer shape
        // (a daemon's blank one, say). Inside the root we are the desktop's backdrop, which no
        // window manager should frame.
        a.event_mask = StructureNotifyMask;
        mask &= ~CWCursor;
        if (parent == root) {
            a.override_redirect = True;
            mask |= CWOverrideRedirect;
        }
    }
    Window xid;
    {
        ErrorTrap trap(dpy);
        xid = XCreateWindow(dpy, parent, X, Y, std::max(nWidth, 1), std::max(nHeight, 1), 0, CopyFromParent,
                            InputOutput, CopyFromParent, mask, &a);
        if (trap.failed() || !xid) return nullptr;
    }
    if (embedded) {
        if (parent == root) XLowerWindow(dpy, xid);
        embed_watch_target();
    }
    if (lpWindowName) XStoreName(dpy, xid, lpWindowName);
    if (!child) {
        XSetWMProtocols(dpy, xid, &g_state.conn.wm_delete_window, 1);
        XClassHint hint;
        std::string res_class = cls->name;
        hint.res_name = const_cast<char *>(res_class.c_str());
        hint.res_class = const_cast<char *>(res_class.c_str());
        XSetClassHint(dpy, xid, &hint);
    }

    auto rec = std::make_unique<WindowRec>();
    rec->hwnd = hwnd_of(xid);
    rec->xid = xid;
    rec->parent = hwnd_of(parent);
    rec->proc = cls->wc.lpfnWndProc;
    rec->style = dwStyle;
    rec->ex_style = dwExStyle;
    rec->x = X;
    rec->y = Y;
    rec->width = nWidth;
    rec->height = nHeight;
    rec->saver_popup = saver;
    rec->embedded = embedded;
    return finish_creation(std::move(rec), lpClassName, lpWindowName, hMenu, hInstance, lpParam);
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect)
{
    Display *dpy = display();
    if (!dpy || !hWnd || !lpRect) return FALSE;
    WindowRec *rec = find_window_xid(xid_of(hWnd));
    if (rec && rec->destroying) return FALSE;
    ErrorTrap trap(dpy);
    XWindowAttributes wa;
    if (!XGetWindowAttributes(dpy, xid_of(hWnd), &wa) || trap.failed()) return FALSE;
    int x = 0, y = 0;
    Window child;
    if (!XTranslateCoordinates(dpy, xid_of(hWnd), wa.root, 0, 0, &x, &y, &child) || trap.failed()) return FALSE;
    // The outer rectangle takes in the border; the translated origin is the inside corner.
    lpRect->left = x - wa.border_width;
    lpRect->top = y - wa.border_width;
    lpRect->right = x + wa.width + wa.border_width;
    lpRect->bottom = y + wa.height + wa.border_width;
    return TRUE;
}

HWND WINAPI GetDesktopWindow(void)
{
    Display *dpy = display();
    return dpy ? hwnd_of(DefaultRootWindow(dpy)) : nullptr;
}

HDC WINAPI GetDC(HWND hWnd)
{
    Display *dpy = display();
    if (!dpy) return nullptr;
    if (!hWnd) return new_window_dc(nullptr, DefaultRootWindow(dpy));
    WindowRec *rec = find_window_xid(xid_of(hWnd));
    if (rec) return rec->destroying ? nullptr : new_window_dc(hWnd, rec->xid);
    ErrorTrap trap(dpy);
    XWindowAttributes wa;
    if (!XGetWindowAttributes(dpy, xid_of(hWnd), &wa) || trap.failed()) return nullptr;
    return new_window_dc(hWnd, xid_of(hWnd));
}

} // namespace x11::api
