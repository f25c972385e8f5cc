// Input over Xlib: key, button, motion and focus events translated into messages (the rules of
// the keys are the window core's), the pointer's shape, and the saver popup's grabs.
#include "x11.h"

#include "embed.h"
#include "monitors.h"
#include "window_core.h"

#include <X11/XKBlib.h>
#include <X11/cursorfont.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace x11 {
namespace {

Cursor blank_cursor()
{
    if (!g_state.conn.blank_cursor) {
        static const char zero = 0;
        Window root = DefaultRootWindow(g_state.dpy);
        Pixmap pm = XCreateBitmapFromData(g_state.dpy, root, &zero, 1, 1);
        XColor black = {};
        g_state.conn.blank_cursor = XCreatePixmapCursor(g_state.dpy, pm, pm, &black, &black, 0, 0);
        XFreePixmap(g_state.dpy, pm);
    }
    return g_state.conn.blank_cursor;
}

Cursor arrow_cursor()
{
    if (!g_state.conn.arrow_cursor) {
        ErrorTrap trap(g_state.dpy);
        Cursor c = XCreateFontCursor(g_state.dpy, XC_left_ptr);
        if (!trap.failed()) g_state.conn.arrow_cursor = c;
    }
    return g_state.conn.arrow_cursor;
}

} // namespace

Cursor current_cursor() { return cursor_hidden() ? blank_cursor() : arrow_cursor(); }

namespace {

bool own_grab_serial(unsigned long serial)
{
    for (const SerialRange &r : g_state.conn.own_grab_serials)
        if (serial >= r.first && serial < r.end) return true;
    return false;
}

void note_own_grab_serials(unsigned long first, unsigned long end)
{
    if (g_state.conn.own_grab_serials.size() >= 8) g_state.conn.own_grab_serials.erase(g_state.conn.own_grab_serials.begin());
    g_state.conn.own_grab_serials.push_back({first, end});
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
    unsigned long first = NextRequest(g_state.dpy);
    bool hopeless = false;
    if (!rec.keyboard_held) {
        int r = XGrabKeyboard(g_state.dpy, rec.xid, False, GrabModeAsync, GrabModeAsync, CurrentTime);
        rec.keyboard_held = r == GrabSuccess;
        hopeless |= !rec.keyboard_held && !grab_may_come_free(r);
    }
    if (!rec.pointer_held) {
        int r = XGrabPointer(g_state.dpy, rec.xid, False, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                             GrabModeAsync, GrabModeAsync, None, current_cursor(), CurrentTime);
        rec.pointer_held = r == GrabSuccess;
        hopeless |= !rec.pointer_held && !grab_may_come_free(r);
    }
    // Events carry the serial of our last request the server has processed, so anything that
    // happens after the sync below, whoever caused it, falls outside our range.
    note_own_grab_serials(first, NextRequest(g_state.dpy));
    XSync(g_state.dpy, False);
    rec.grabbed = rec.keyboard_held || rec.pointer_held;
    if (hopeless) rec.grab_retry_until = now_ms();
    rec.next_grab_try = now_ms() + kGrabRetryEveryMs;
}

} // namespace

// Takes the keyboard and the pointer for the saver popup. What another client still holds (a
// launcher's own grab usually ends a moment later) is asked for again by retry_grabs.
void grab_input(WindowRec &rec)
{
    rec.grab_retry_until = now_ms() + kGrabRetryMs;
    try_grabs(rec);
}

namespace {

bool time_reached(DWORD now, DWORD when) { return static_cast<int32_t>(now - when) >= 0; }

} // namespace

// Called while the loop polls: every ~100 ms, for a few seconds after the popup was shown, asks
// again for the keyboard or pointer that another client held then. A popup still without both
// when the time is up would cover the screen while keys and clicks reach the windows under it:
// it is destroyed and the run ends with status 1 and one line on stderr.
bool grabs_outstanding(const WindowRec &rec)
{
    return rec.saver_popup && rec.mapped && !rec.destroying && !(rec.ex_style & WS_EX_NOACTIVATE) &&
           !(rec.keyboard_held && rec.pointer_held);
}

void retry_grabs()
{
    if (!g_state.dpy || g_state.dpy_dead) return;
    DWORD now = now_ms();
    std::vector<HWND> refused;
    for (WindowRec *rec : windows()) {
        if (!grabs_outstanding(*rec)) continue;
        if (time_reached(now, rec->grab_retry_until))
            refused.push_back(rec->hwnd);
        else if (time_reached(now, rec->next_grab_try))
            try_grabs(*rec);
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
    unsigned long first = NextRequest(g_state.dpy);
    if (rec.keyboard_held) XUngrabKeyboard(g_state.dpy, CurrentTime);
    if (rec.pointer_held) XUngrabPointer(g_state.dpy, CurrentTime);
    note_own_grab_serials(first, NextRequest(g_state.dpy));
    XSync(g_state.dpy, False);
    rec.grabbed = rec.keyboard_held = rec.pointer_held = false;
}

namespace {

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
    KeySym ks = XkbKeycodeToKeysym(g_state.dpy, static_cast<KeyCode>(k.keycode), 0, 0);
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
    POINT screen = {b.x_root, b.y_root};
    DWORD time = static_cast<DWORD>(b.time);
    static const MouseButton buttons[] = {MouseButton::left, MouseButton::middle, MouseButton::right};
    if (b.button >= Button1 && b.button <= Button3)
        input_button(hwnd, buttons[b.button - Button1], press, mk, {b.x, b.y}, screen, time);
    // The wheel arrives as presses (and releases) of buttons 4 to 7: one notch each press.
    else if (press && b.button >= 4 && b.button <= 7)
        input_wheel(hwnd, b.button == 4 || b.button == 6, mk, screen, time);
}

// The window we draw in for an embedded run keeps filling the target as it changes size; its own
// ConfigureNotify then brings the WM_SIZE.
void follow_target_size(const XConfigureEvent &target)
{
    for (WindowRec *rec : windows()) {
        if (rec->embedded && xid_of(rec->parent) == target.window && !rec->destroying)
            XResizeWindow(g_state.dpy, rec->xid, std::max(target.width + 2 * target.border_width, 1),
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
        if (find_window_xid(ev.xbutton.window)) translate_button(ev.xbutton);
        break;
    case MotionNotify:
        if (find_window_xid(ev.xmotion.window))
            input_motion(hwnd_of(ev.xmotion.window), mouse_key_state(ev.xmotion.state), {ev.xmotion.x, ev.xmotion.y},
                         {ev.xmotion.x_root, ev.xmotion.y_root}, static_cast<DWORD>(ev.xmotion.time));
        break;
    case FocusIn:
    case FocusOut:
        if (activation_changed(ev.xfocus)) input_focus(hwnd_of(ev.xfocus.window), ev.type == FocusIn);
        break;
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
            if (rec->gl_child) XResizeWindow(g_state.dpy, rec->gl_child, rec->width, rec->height);
            queue_message(hwnd_of(rec->xid), WM_SIZE, SIZE_RESTORED, MAKELPARAM(rec->width, rec->height), true);
        }
        break;
    }
    case VisibilityNotify: {
        WindowRec *rec = find_window_xid(ev.xvisibility.window);
        if (rec && rec->saver_popup && !rec->destroying && ev.xvisibility.state != VisibilityUnobscured)
            XRaiseWindow(g_state.dpy, rec->xid);
        break;
    }
    case DestroyNotify: {
        WindowRec *rec = find_window_xid(ev.xdestroywindow.window);
        if (!rec || rec->destroying) break;
        // Destroyed from outside, usually together with a parent of another program's.
        rec->grabbed = rec->keyboard_held = rec->pointer_held = false;
        if (rec->gl_child) gl_forget_drawable(rec->gl_child);
        surface_closed(rec->hwnd);
        break;
    }
    case ClientMessage:
        if (find_window_xid(ev.xclient.window) && ev.xclient.message_type == g_state.conn.wm_protocols &&
            static_cast<Atom>(ev.xclient.data.l[0]) == g_state.conn.wm_delete_window)
            queue_message(hwnd_of(ev.xclient.window), WM_SYSCOMMAND, SC_CLOSE, 0, false);
        break;
    default:
        note_monitor_event(ev);
        break;
    }
}

} // namespace

// Moves what the server has sent into the queue, after what is already there. With sync, first
// waits for the server to answer, so everything it produced before this call is included.
void read_x_events(bool sync)
{
    if (!g_state.dpy || g_state.dpy_dead) return;
    install_handlers();
    if (sync)
        XSync(g_state.dpy, False);
    else
        XFlush(g_state.dpy);
    while (!g_state.dpy_dead && XEventsQueued(g_state.dpy, QueuedAfterReading) > 0) {
        XEvent ev;
        XNextEvent(g_state.dpy, &ev);
        translate(ev);
    }
    // Requests made while translating (resizing a GL child, raising the saver) go out now.
    if (!g_state.dpy_dead) XFlush(g_state.dpy);
}

void read_events() { read_x_events(true); }

void pump_events()
{
    if (g_state.dpy && g_state.dpy_dead) drop_connection(true);
    retry_grabs();
    read_x_events(queued_messages().empty());
}

void cursor_visibility_changed()
{
    Display *dpy = display_if_open();
    if (!dpy) return;
    Cursor c = current_cursor();
    for (WindowRec *rec : windows()) {
        if (rec->destroying || rec->embedded) continue;
        XDefineCursor(dpy, rec->xid, c);
        if (rec->pointer_held)
            XChangeActivePointerGrab(dpy, ButtonPressMask | ButtonReleaseMask | PointerMotionMask, c, CurrentTime);
    }
    XSync(dpy, False);
}

} // namespace x11

namespace x11::api {

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

} // namespace x11::api
