// Windows over Xlib: creating, showing, placing and destroying them, and the message loop's
// part that is the server's.
#include "x11.h"

#include "embed.h"
#include "monitors.h"
#include "signals.h"
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

// The records of hwnd and of our windows inside it, parent before child (the order Windows
// delivers WM_DESTROY in).
std::vector<Window> window_tree(Window top)
{
    std::vector<Window> tree = {top};
    for (size_t i = 0; i < tree.size(); i++)
        for (auto &kv : g_state.windows)
            if (kv.second.parent == tree[i] && std::find(tree.begin(), tree.end(), kv.first) == tree.end())
                tree.push_back(kv.first);
    return tree;
}

void forget_window(Window xid)
{
    auto it = g_state.windows.find(xid);
    if (it == g_state.windows.end()) return;
    if (it->second.gl_child) gl_forget_drawable(it->second.gl_child);
    if (it->second.gl_colormap && g_state.dpy) XFreeColormap(g_state.dpy, it->second.gl_colormap);
    g_state.windows.erase(it);
    purge_window_messages(hwnd_of(xid));
}

} // namespace

// Delivers WM_DESTROY to the window and to our windows inside it, then lets the X windows go
// (destroying them unless the server already has).
void destroy_tree(Window top, bool x_window_exists)
{
    std::vector<Window> tree = window_tree(top);
    for (Window w : tree) {
        WindowRec *rec = find_window_xid(w);
        if (rec) rec->destroying = true;
    }
    WindowRec *top_rec = find_window_xid(top);
    if (top_rec && x_window_exists && g_state.dpy) ungrab_input(*top_rec);
    for (Window w : tree) {
        purge_window_messages(hwnd_of(w));
        call_proc(hwnd_of(w), WM_DESTROY, 0, 0);
    }
    for (Window w : tree) {
        WindowRec *rec = find_window_xid(w);
        if (rec && rec->gl_child) gl_forget_drawable(rec->gl_child);
    }
    if (x_window_exists && g_state.dpy) {
        ErrorTrap trap(g_state.dpy);
        XDestroyWindow(g_state.dpy, top);
        trap.failed();
    }
    for (Window w : tree) forget_window(w);
}

namespace {

// A termination signal destroys each of our windows that is not inside another of ours, so every
// one gets its WM_DESTROY and the program ends the way it would had the window been closed.
void close_for_termination()
{
    std::vector<HWND> tops;
    for (auto &kv : g_state.windows)
        if (!kv.second.destroying && !find_window_xid(kv.second.parent)) tops.push_back(hwnd_of(kv.first));
    for (HWND hwnd : tops)
        if (find_window(hwnd)) DestroyWindow(hwnd);
}

bool is_window_or_child(HWND filter, HWND hwnd)
{
    for (WindowRec *rec = find_window_xid(xid_of(hwnd)); rec; rec = find_window_xid(rec->parent))
        if (hwnd_of(rec->xid) == filter) return true;
    return false;
}

} // namespace

WindowRec *find_window_xid(Window xid)
{
    auto it = g_state.windows.find(xid);
    return it == g_state.windows.end() ? nullptr : &it->second;
}

WindowRec *find_window(HWND hwnd)
{
    WindowRec *rec = find_window_xid(xid_of(hwnd));
    return rec && !rec->destroying ? rec : nullptr;
}

WindowState window_state(HWND hwnd, WNDPROC *proc)
{
    WindowRec *rec = find_window_xid(xid_of(hwnd));
    if (!rec) return WindowState::none;
    if (proc) *proc = rec->proc;
    return rec->destroying ? WindowState::destroying : WindowState::alive;
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
    WNDPROC proc = cls->wc.lpfnWndProc;
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
        XSetWMProtocols(dpy, xid, &g_state.wm_delete_window, 1);
        XClassHint hint;
        std::string res_class = cls->name;
        hint.res_name = const_cast<char *>(res_class.c_str());
        hint.res_class = const_cast<char *>(res_class.c_str());
        XSetClassHint(dpy, xid, &hint);
    }

    WindowRec &rec = g_state.windows[xid];
    rec.xid = xid;
    rec.parent = parent;
    rec.proc = proc;
    rec.style = dwStyle;
    rec.ex_style = dwExStyle;
    rec.width = nWidth;
    rec.height = nHeight;
    rec.saver_popup = saver;
    rec.embedded = embedded;

    HWND hwnd = hwnd_of(xid);
    CREATESTRUCTA cs = creation_params(dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth, nHeight,
                                       child ? hWndParent : nullptr, hMenu, hInstance, lpParam);
    if (!deliver_creation(hwnd, proc, &cs)) return nullptr;
    WindowRec *r = find_window(hwnd);
    if ((dwStyle & WS_VISIBLE) && g_state.dpy) show(*r, true);
    return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    WindowRec *rec = find_window_xid(xid_of(hWnd));
    if (!rec) return FALSE;
    if (rec->destroying) {
        // Already destroyed by the server, with its WM_DESTROY still waiting: deliver it now.
        if (!take_pending_destroy(hWnd)) return FALSE;
        destroy_tree(rec->xid, false);
        return TRUE;
    }
    destroy_tree(rec->xid, g_state.dpy != nullptr);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd)
{
    if (!hWnd) return FALSE;
    WindowRec *rec = find_window_xid(xid_of(hWnd));
    if (rec) return !rec->destroying;
    Display *dpy = display();
    if (!dpy) return FALSE;
    XWindowAttributes wa;
    ErrorTrap trap(dpy);
    Status ok = XGetWindowAttributes(dpy, xid_of(hWnd), &wa);
    return !trap.failed() && ok;
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

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect)
{
    if (!hWnd || !lpRect) return FALSE;
    WindowRec *rec = find_window_xid(xid_of(hWnd));
    if (rec) {
        if (rec->destroying) return FALSE;
        *lpRect = {0, 0, rec->width, rec->height};
        return TRUE;
    }
    Display *dpy = display();
    if (!dpy) return FALSE;
    ErrorTrap trap(dpy);
    XWindowAttributes wa;
    if (!XGetWindowAttributes(dpy, xid_of(hWnd), &wa) || trap.failed()) return FALSE;
    *lpRect = {0, 0, wa.width, wa.height};
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    WindowRec *rec = find_window(hWnd);
    if (!rec || !display_if_open()) return FALSE;
    BOOL was_visible = rec->mapped;
    show(*rec, nCmdShow != SW_HIDE);
    return was_visible;
}

BOOL WINAPI UpdateWindow(HWND hWnd)
{
    if (!find_window(hWnd)) return FALSE;
    if (Display *dpy = display_if_open()) XFlush(dpy);
    return TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    if (!lpMsg) return FALSE;
    if (g_state.dpy && g_state.dpy_dead) drop_connection(true);
    if (platform::take_termination_request()) close_for_termination();
    retry_grabs();
    read_x_events(queued_messages().empty());
    deliver_sent_messages();
    return peek_queued(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg, is_window_or_child);
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
