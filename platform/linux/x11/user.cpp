// Windows, the message queue, input translation and the cursor, over Xlib.
#include "x11.h"

#include "embed.h"
#include "window_core.h"
#include "keys.h"
#include "signals.h"
#include "monitors.h"
#include "resources.h"

#include <X11/XKBlib.h>
#include <X11/cursorfont.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include <poll.h>
#include <strings.h>
#include <sys/socket.h>

namespace x11 {
namespace {

Display *g_dpy = nullptr;
std::string g_dpy_name;
bool g_dpy_dead = false;
bool g_dpy_lost = false; // a connection in use went away; the program ends with an error
XIOErrorHandler g_prev_io_handler = nullptr;
ErrorTrap *g_trap = nullptr;
Atom g_wm_protocols = 0;
Atom g_wm_delete_window = 0;

std::map<Window, WindowRec> g_windows;

Cursor g_blank_cursor = 0;
Cursor g_arrow_cursor = 0;

// Request serials of our own grabs and ungrabs: the focus events they cause are not activation changes.
struct SerialRange {
    unsigned long first, end;
};
std::vector<SerialRange> g_own_grab_serials;

int on_io_error(Display *dpy)
{
    if (dpy == g_dpy) {
        g_dpy_dead = g_dpy_lost = true;
        return 0;
    }
    return g_prev_io_handler ? g_prev_io_handler(dpy) : 0;
}

void on_io_error_exit(Display *dpy, void *)
{
    if (dpy == g_dpy) g_dpy_dead = g_dpy_lost = true;
}

// Keeps our handlers installed: a toolkit initialised later may have replaced them, and its
// handlers end the process on any broken connection.
void install_handlers()
{
    XSetErrorHandler(record_error);
    XIOErrorHandler prev = XSetIOErrorHandler(on_io_error);
    if (prev != on_io_error) g_prev_io_handler = prev;
}

std::string display_env()
{
    const char *d = getenv("DISPLAY");
    return d ? d : "";
}

Cursor blank_cursor()
{
    if (!g_blank_cursor) {
        static const char zero = 0;
        Window root = DefaultRootWindow(g_dpy);
        Pixmap pm = XCreateBitmapFromData(g_dpy, root, &zero, 1, 1);
        XColor black = {};
        g_blank_cursor = XCreatePixmapCursor(g_dpy, pm, pm, &black, &black, 0, 0);
        XFreePixmap(g_dpy, pm);
    }
    return g_blank_cursor;
}

Cursor arrow_cursor()
{
    if (!g_arrow_cursor) {
        ErrorTrap trap(g_dpy);
        Cursor c = XCreateFontCursor(g_dpy, XC_left_ptr);
        if (!trap.failed()) g_arrow_cursor = c;
    }
    return g_arrow_cursor;
}

Cursor current_cursor() { return cursor_hidden() ? blank_cursor() : arrow_cursor(); }

bool own_grab_serial(unsigned long serial)
{
    for (const SerialRange &r : g_own_grab_serials)
        if (serial >= r.first && serial < r.end) return true;
    return false;
}

void note_own_grab_serials(unsigned long first, unsigned long end)
{
    if (g_own_grab_serials.size() >= 8) g_own_grab_serials.erase(g_own_grab_serials.begin());
    g_own_grab_serials.push_back({first, end});
}

constexpr DWORD kGrabRetryMs = 5000;
constexpr DWORD kGrabRetryEveryMs = 100;

bool grab_may_come_free(int result)
{
    return result == AlreadyGrabbed || result == GrabFrozen || result == GrabNotViewable;
}

// One attempt at whichever of the keyboard and the pointer the saver popup does not hold yet.
// A refusal that waiting cannot cure ends the retries.
void try_grabs(WindowRec &rec)
{
    unsigned long first = NextRequest(g_dpy);
    bool hopeless = false;
    if (!rec.keyboard_held) {
        int r = XGrabKeyboard(g_dpy, rec.xid, False, GrabModeAsync, GrabModeAsync, CurrentTime);
        rec.keyboard_held = r == GrabSuccess;
        hopeless |= !rec.keyboard_held && !grab_may_come_free(r);
    }
    if (!rec.pointer_held) {
        int r = XGrabPointer(g_dpy, rec.xid, False, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                             GrabModeAsync, GrabModeAsync, None, current_cursor(), CurrentTime);
        rec.pointer_held = r == GrabSuccess;
        hopeless |= !rec.pointer_held && !grab_may_come_free(r);
    }
    // Events carry the serial of our last request the server has processed, so anything that
    // happens after the sync below, whoever caused it, falls outside our range.
    note_own_grab_serials(first, NextRequest(g_dpy));
    XSync(g_dpy, False);
    rec.grabbed = rec.keyboard_held || rec.pointer_held;
    if (hopeless) rec.grab_retry_until = now_ms();
    rec.next_grab_try = now_ms() + kGrabRetryEveryMs;
}

// Takes the keyboard and the pointer for the saver popup. What another client still holds (a
// launcher's own grab usually ends a moment later) is asked for again by retry_grabs.
void grab_input(WindowRec &rec)
{
    rec.grab_retry_until = now_ms() + kGrabRetryMs;
    try_grabs(rec);
}

bool time_reached(DWORD now, DWORD when) { return static_cast<int32_t>(now - when) >= 0; }

// Called while the loop polls: every ~100 ms, for a few seconds after the popup was shown, asks
// again for the keyboard or pointer that another client held then. A popup still without both
// when the time is up would cover the screen while keys and clicks reach the windows under it:
// it is destroyed and the run ends with status 1 and one line on stderr.
void retry_grabs()
{
    if (!g_dpy || g_dpy_dead) return;
    DWORD now = now_ms();
    std::vector<HWND> refused;
    for (auto &kv : g_windows) {
        WindowRec &rec = kv.second;
        if (!rec.saver_popup || !rec.mapped || rec.destroying || (rec.keyboard_held && rec.pointer_held)) continue;
        if (rec.ex_style & WS_EX_NOACTIVATE) continue; // wants no grabs
        if (time_reached(now, rec.grab_retry_until))
            refused.push_back(hwnd_of(rec.xid));
        else if (time_reached(now, rec.next_grab_try))
            try_grabs(rec);
    }
    for (HWND hwnd : refused) {
        fputs("tidefold: another program holds the keyboard or pointer; not covering the screen without them\n",
              stderr);
        PostQuitMessage(1);
        if (find_window(hwnd)) DestroyWindow(hwnd);
    }
}

void ungrab_input(WindowRec &rec)
{
    if (rec.saver_popup) uncover_unseen_parts();
    if (!rec.grabbed) return;
    unsigned long first = NextRequest(g_dpy);
    if (rec.keyboard_held) XUngrabKeyboard(g_dpy, CurrentTime);
    if (rec.pointer_held) XUngrabPointer(g_dpy, CurrentTime);
    note_own_grab_serials(first, NextRequest(g_dpy));
    XSync(g_dpy, False);
    rec.grabbed = rec.keyboard_held = rec.pointer_held = false;
}

void show(WindowRec &rec, bool visible)
{
    if (visible && !rec.mapped) {
        if (rec.saver_popup)
            XMapRaised(g_dpy, rec.xid);
        else
            XMapWindow(g_dpy, rec.xid);
        rec.mapped = true;
        XSync(g_dpy, False);
    } else if (!visible && rec.mapped) {
        ungrab_input(rec);
        XUnmapWindow(g_dpy, rec.xid);
        rec.mapped = false;
        XSync(g_dpy, False);
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
        for (auto &kv : g_windows)
            if (kv.second.parent == tree[i] && std::find(tree.begin(), tree.end(), kv.first) == tree.end())
                tree.push_back(kv.first);
    return tree;
}

void forget_window(Window xid)
{
    auto it = g_windows.find(xid);
    if (it == g_windows.end()) return;
    if (it->second.gl_child) gl_forget_drawable(it->second.gl_child);
    if (it->second.gl_colormap && g_dpy) XFreeColormap(g_dpy, it->second.gl_colormap);
    g_windows.erase(it);
    purge_window_messages(hwnd_of(xid));
}

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
    if (top_rec && x_window_exists && g_dpy) ungrab_input(*top_rec);
    for (Window w : tree) {
        purge_window_messages(hwnd_of(w));
        call_proc(hwnd_of(w), WM_DESTROY, 0, 0);
    }
    for (Window w : tree) {
        WindowRec *rec = find_window_xid(w);
        if (rec && rec->gl_child) gl_forget_drawable(rec->gl_child);
    }
    if (x_window_exists && g_dpy) {
        ErrorTrap trap(g_dpy);
        XDestroyWindow(g_dpy, top);
        trap.failed();
    }
    for (Window w : tree) forget_window(w);
}

// A connection whose server went away is kept, not closed: closing runs the GL library's clean-up
// of what it drew in, which talks to the gone server and complains on stderr. Such a loss ends
// the program; the connection's memory stays reachable here till then.
void close_connection(Display *dpy)
{
    static std::vector<Display *> dead;
    if (g_dpy_dead)
        dead.push_back(dpy);
    else
        XCloseDisplay(dpy);
}

// The connection is gone or $DISPLAY names another server now: every window went with it.
// With notify, each window still gets its WM_DESTROY, so a program ends the way it would had its
// window been closed.
void drop_connection(bool notify)
{
    if (!g_dpy) return;
    std::vector<Window> windows;
    for (auto &kv : g_windows) {
        kv.second.destroying = true;
        windows.push_back(kv.first);
    }
    gl_shutdown();
    forget_window_dcs();
    forget_pixel_formats();
    for (auto &kv : g_windows) kv.second.gl_child = kv.second.gl_colormap = 0;
    Display *dpy = g_dpy;
    install_handlers();
    close_connection(dpy);
    g_dpy = nullptr;
    g_dpy_dead = false;
    g_dpy_name.clear();
    g_blank_cursor = g_arrow_cursor = 0;
    g_own_grab_serials.clear();
    release_keys();
    if (notify)
        for (Window w : windows) call_proc(hwnd_of(w), WM_DESTROY, 0, 0);
    g_windows.clear();
    purge_all_window_messages();
}

WPARAM mouse_key_state(unsigned state)
{
    WPARAM mk = 0;
    if (state & Button1Mask) mk |= MK_LBUTTON;
    if (state & Button3Mask) mk |= MK_RBUTTON;
    if (state & ShiftMask) mk |= MK_SHIFT;
    if (state & ControlMask) mk |= MK_CONTROL;
    if (state & Button2Mask) mk |= MK_MBUTTON;
    return mk;
}

void translate_key(XKeyEvent &k)
{
    HWND hwnd = hwnd_of(k.window);
    bool press = k.type == KeyPress;
    KeySym ks = XkbKeycodeToKeysym(g_dpy, static_cast<KeyCode>(k.keycode), 0, 0);
    WPARAM vk = input_key(hwnd, k.keycode, ks, k.state & Mod1Mask, k.state & ControlMask, press,
                          static_cast<DWORD>(k.time));

    if (press) {
        char buf[8];
        KeySym sym;
        if (XLookupString(&k, buf, sizeof buf, &sym, nullptr) == 1) {
            note_character(hwnd, static_cast<DWORD>(k.time), vk, static_cast<unsigned char>(buf[0]));
        }
    }
}

void translate_button(XButtonEvent &b)
{
    HWND hwnd = hwnd_of(b.window);
    bool press = b.type == ButtonPress;
    WPARAM mk = mouse_key_state(b.state);
    LPARAM client = MAKELPARAM(b.x, b.y);
    DWORD time = static_cast<DWORD>(b.time);
    static const WPARAM button_mk[4] = {0, MK_LBUTTON, MK_MBUTTON, MK_RBUTTON};
    switch (b.button) {
    case Button1:
    case Button2:
    case Button3: {
        WPARAM bit = button_mk[b.button];
        mk = press ? (mk | bit) : (mk & ~bit);
        static const UINT down[4] = {0, WM_LBUTTONDOWN, WM_MBUTTONDOWN, WM_RBUTTONDOWN};
        static const UINT up[4] = {0, WM_LBUTTONUP, WM_MBUTTONUP, WM_RBUTTONUP};
        queue_message(hwnd, press ? down[b.button] : up[b.button], mk, client, false, time);
        break;
    }
    case 4: case 5: case 6: case 7:
        // The wheel arrives as presses (and releases) of buttons 4 to 7: one notch each press.
        if (press) {
            short delta = (b.button == 4 || b.button == 6) ? WHEEL_DELTA : -WHEEL_DELTA;
            queue_message(hwnd, WM_MOUSEWHEEL, MAKEWPARAM(mk, static_cast<WORD>(delta)),
                          MAKELPARAM(b.x_root, b.y_root), false, time);
        }
        break;
    default:
        break;
    }
}

// The window we draw in for an embedded run keeps filling the target as it changes size; its own
// ConfigureNotify then brings the WM_SIZE.
void follow_target_size(const XConfigureEvent &target)
{
    for (auto &kv : g_windows) {
        WindowRec &rec = kv.second;
        if (rec.embedded && rec.parent == target.window && !rec.destroying)
            XResizeWindow(g_dpy, rec.xid, std::max(target.width + 2 * target.border_width, 1),
                          std::max(target.height + 2 * target.border_width, 1));
    }
}

// Whether a focus event on one of our windows is a change of its activation.
bool activation_changed(const XFocusChangeEvent &f)
{
    // Focus moving between the window and its own inside is no change of activation, and
    // neither is the focus shuffle that our own grab (or its release) causes.
    if (f.detail == NotifyInferior) return false;
    if ((f.mode == NotifyGrab || f.mode == NotifyUngrab) && own_grab_serial(f.serial)) return false;
    if (f.type == FocusIn) {
        // Keys follow the pointer while the focus is the pointer root; the window under it gains
        // nothing worth reporting (and may already be unmapped).
        return f.detail != NotifyPointer;
    }
    // Only another window really taking the focus deactivates. Another client's grab taking the
    // keyboard for a while is not that, and the end of a grab is that only when it was the grab
    // that gave us the focus (ours, ended by our window going away); the end of another client's
    // grab reaches us as the pointer's window, detail NotifyPointer.
    if (f.mode == NotifyGrab) return false;
    return f.detail == NotifyAncestor || f.detail == NotifyVirtual || f.detail == NotifyNonlinear ||
           f.detail == NotifyNonlinearVirtual;
}

void translate(XEvent &ev)
{
    switch (ev.type) {
    case KeyPress:
    case KeyRelease:
        if (find_window_xid(ev.xkey.window)) {
            set_message_point({ev.xkey.x_root, ev.xkey.y_root});
            translate_key(ev.xkey);
        }
        break;
    case ButtonPress:
    case ButtonRelease:
        if (find_window_xid(ev.xbutton.window)) {
            set_message_point({ev.xbutton.x_root, ev.xbutton.y_root});
            translate_button(ev.xbutton);
        }
        break;
    case MotionNotify:
        if (find_window_xid(ev.xmotion.window)) {
            set_message_point({ev.xmotion.x_root, ev.xmotion.y_root});
            queue_message(hwnd_of(ev.xmotion.window), WM_MOUSEMOVE, mouse_key_state(ev.xmotion.state),
                          MAKELPARAM(ev.xmotion.x, ev.xmotion.y), false, static_cast<DWORD>(ev.xmotion.time));
        }
        break;
    case FocusIn:
    case FocusOut: {
        WindowRec *rec = find_window_xid(ev.xfocus.window);
        if (!rec || rec->destroying) break;
        if (activation_changed(ev.xfocus)) queue_activation(hwnd_of(rec->xid), ev.type == FocusIn);
        break;
    }
    case ConfigureNotify: {
        WindowRec *rec = find_window_xid(ev.xconfigure.window);
        if (!rec && ev.xconfigure.window == embed_target()) {
            follow_target_size(ev.xconfigure);
            break;
        }
        if (!rec || rec->destroying) break;
        if (ev.xconfigure.width != rec->width || ev.xconfigure.height != rec->height) {
            rec->width = ev.xconfigure.width;
            rec->height = ev.xconfigure.height;
            if (rec->gl_child) XResizeWindow(g_dpy, rec->gl_child, rec->width, rec->height);
            queue_message(hwnd_of(rec->xid), WM_SIZE, SIZE_RESTORED, MAKELPARAM(rec->width, rec->height), true);
        }
        break;
    }
    case VisibilityNotify: {
        WindowRec *rec = find_window_xid(ev.xvisibility.window);
        if (rec && rec->saver_popup && !rec->destroying && ev.xvisibility.state != VisibilityUnobscured)
            XRaiseWindow(g_dpy, rec->xid);
        break;
    }
    case DestroyNotify: {
        WindowRec *rec = find_window_xid(ev.xdestroywindow.window);
        if (!rec || rec->destroying) break;
        // Destroyed from outside, usually together with a parent of another program's.
        rec->destroying = true;
        rec->mapped = rec->grabbed = rec->keyboard_held = rec->pointer_held = false;
        if (rec->gl_child) gl_forget_drawable(rec->gl_child);
        purge_window_messages(hwnd_of(rec->xid));
        queue_message(hwnd_of(rec->xid), WM_DESTROY, 0, 0, true);
        break;
    }
    case ClientMessage:
        if (find_window_xid(ev.xclient.window) && ev.xclient.message_type == g_wm_protocols &&
            static_cast<Atom>(ev.xclient.data.l[0]) == g_wm_delete_window)
            queue_message(hwnd_of(ev.xclient.window), WM_SYSCOMMAND, SC_CLOSE, 0, false);
        break;
    default:
        break;
    }
}

// Moves what the server has sent into the queue, after what is already there. With sync, first
// waits for the server to answer, so everything it produced before this call is included.
void read_x_events(bool sync)
{
    if (!g_dpy || g_dpy_dead) return;
    install_handlers();
    if (sync)
        XSync(g_dpy, False);
    else
        XFlush(g_dpy);
    while (!g_dpy_dead && XEventsQueued(g_dpy, QueuedAfterReading) > 0) {
        XEvent ev;
        XNextEvent(g_dpy, &ev);
        translate(ev);
    }
    // Requests made while translating (resizing a GL child, raising the saver) go out now.
    if (!g_dpy_dead) XFlush(g_dpy);
}

// A termination signal destroys each of our windows that is not inside another of ours, so every
// one gets its WM_DESTROY and the program ends the way it would had the window been closed.
void close_for_termination()
{
    std::vector<HWND> tops;
    for (auto &kv : g_windows)
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

Display *display()
{
    if (g_dpy && display_env() != g_dpy_name) drop_connection(false);
    if (g_dpy && !g_dpy_dead) {
        // A server that went away shows as an end of file on the socket, even while Xlib still
        // holds events it read before.
        int fd = ConnectionNumber(g_dpy);
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 0) > 0) {
            char c;
            ssize_t n = recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                g_dpy_dead = g_dpy_lost = true;
        }
    }
    if (g_dpy && g_dpy_dead) {
        // With windows still on it, the next PeekMessageA tells them; otherwise start afresh.
        bool windows = std::any_of(g_windows.begin(), g_windows.end(),
                                   [](const std::pair<const Window, WindowRec> &kv) { return !kv.second.destroying; });
        if (windows) return nullptr;
        drop_connection(false);
    }
    if (!g_dpy) {
        std::string name = display_env();
        g_dpy = XOpenDisplay(nullptr);
        if (!g_dpy) return nullptr;
        g_dpy_name = name;
        g_dpy_dead = false;
        install_handlers();
        XSetIOErrorExitHandler(g_dpy, on_io_error_exit, nullptr);
        g_wm_protocols = XInternAtom(g_dpy, "WM_PROTOCOLS", False);
        g_wm_delete_window = XInternAtom(g_dpy, "WM_DELETE_WINDOW", False);
        Bool supported;
        XkbSetDetectableAutoRepeat(g_dpy, True, &supported);
        release_keys();
    }
    return g_dpy;
}

Display *display_if_open() { return g_dpy_dead ? nullptr : g_dpy; }

bool connection_lost() { return g_dpy_lost; }

void shutdown()
{
    drop_connection(false);
    g_dpy_lost = false;
    reset_queue();
    reset_window_core();
}

ErrorTrap::ErrorTrap(Display *dpy) : dpy_(dpy), first_serial_(dpy ? NextRequest(dpy) : 0), outer_(g_trap)
{
    install_handlers();
    g_trap = this;
}

ErrorTrap::~ErrorTrap() { g_trap = outer_; }

bool ErrorTrap::failed()
{
    if (dpy_ && !g_dpy_dead) XSync(dpy_, False);
    return code_ != 0 || g_dpy_dead;
}

int record_error(Display *dpy, XErrorEvent *ev)
{
    if (dpy != g_dpy) return 0;
    for (ErrorTrap *t = g_trap; t; t = t->outer_)
        if (ev->serial >= t->first_serial_ && !t->code_) t->code_ = ev->error_code ? ev->error_code : -1;
    return 0;
}

WindowRec *find_window_xid(Window xid)
{
    auto it = g_windows.find(xid);
    return it == g_windows.end() ? nullptr : &it->second;
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

void read_events() { read_x_events(true); }

void finish_destroy(HWND hwnd) { destroy_tree(xid_of(hwnd), false); }

void cursor_visibility_changed()
{
    Display *dpy = display_if_open();
    if (!dpy) return;
    Cursor c = current_cursor();
    for (auto &kv : g_windows) {
        if (kv.second.destroying || kv.second.embedded) continue;
        XDefineCursor(dpy, kv.first, c);
        if (kv.second.pointer_held)
            XChangeActivePointerGrab(dpy, ButtonPressMask | ButtonReleaseMask | PointerMotionMask, c, CurrentTime);
    }
    XSync(dpy, False);
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
        XSetWMProtocols(dpy, xid, &g_wm_delete_window, 1);
        XClassHint hint;
        std::string res_class = cls->name;
        hint.res_name = const_cast<char *>(res_class.c_str());
        hint.res_class = const_cast<char *>(res_class.c_str());
        XSetClassHint(dpy, xid, &hint);
    }

    WindowRec &rec = g_windows[xid];
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
    if ((dwStyle & WS_VISIBLE) && g_dpy) show(*r, true);
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
    destroy_tree(rec->xid, g_dpy != nullptr);
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
    if (g_dpy && g_dpy_dead) drop_connection(true);
    if (platform::take_termination_request()) close_for_termination();
    retry_grabs();
    read_x_events(queued_messages().empty());
    deliver_sent_messages();
    return peek_queued(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg, is_window_or_child);
}

BOOL WINAPI GetCursorPos(LPPOINT lpPoint)
{
    Display *dpy = display();
    if (!dpy || !lpPoint) return FALSE;
    Window root_ret, child_ret;
    int rx, ry, wx, wy;
    unsigned mask;
    if (!XQueryPointer(dpy, DefaultRootWindow(dpy), &root_ret, &child_ret, &rx, &ry, &wx, &wy, &mask)) return FALSE;
    lpPoint->x = rx;
    lpPoint->y = ry;
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
