// The display connection over Xlib: opening it from $DISPLAY, noticing that it broke, letting it
// go, and the error trap that keeps X errors on it from ending the process.
#include "x11.h"

#include "window_core.h"

#include <X11/XKBlib.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include <poll.h>
#include <sys/socket.h>

namespace x11 {

State g_state;

namespace {

int on_io_error(Display *dpy)
{
    if (dpy == g_state.dpy) {
        g_state.dpy_dead = g_state.dpy_lost = true;
        return 0;
    }
    return g_state.prev_io_handler ? g_state.prev_io_handler(dpy) : 0;
}

void on_io_error_exit(Display *dpy, void *)
{
    if (dpy == g_state.dpy) g_state.dpy_dead = g_state.dpy_lost = true;
}

} // namespace

void install_handlers()
{
    XSetErrorHandler(record_error);
    XIOErrorHandler prev = XSetIOErrorHandler(on_io_error);
    if (prev != on_io_error) g_state.prev_io_handler = prev;
}

namespace {

// A connection whose server went away is kept, not closed: closing runs the GL library's clean-up
// of what it drew in, which talks to the gone server and complains on stderr. Such a loss ends
// the program; the connection's memory stays reachable here till then.
void close_connection(Display *dpy)
{
    static std::vector<Display *> dead;
    if (g_state.dpy_dead)
        dead.push_back(dpy);
    else
        XCloseDisplay(dpy);
}

} // namespace

// The connection is gone (or the tests are done with the server): every window went with it. With
// notify, each window still gets its WM_DESTROY, so a program ends the way it would had its
// window been closed.
void drop_connection(bool notify)
{
    if (!g_state.dpy) return;
    for (WindowRecord *w : all_windows()) w->destroying = true;
    gl_shutdown();
    forget_window_dcs();
    for (WindowRec *w : windows()) w->gl_child = w->gl_colormap = 0;
    Display *dpy = g_state.dpy;
    install_handlers();
    close_connection(dpy);
    g_state.dpy = nullptr;
    g_state.dpy_dead = false;
    g_state.conn = {};
    release_keys();
    drop_all_windows(notify);
}

Display *display()
{
    if (g_state.dpy && !g_state.dpy_dead) {
        // A server that went away shows as an end of file on the socket, even while Xlib still
        // holds events it read before.
        int fd = ConnectionNumber(g_state.dpy);
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 0) > 0) {
            char c;
            ssize_t n = recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                g_state.dpy_dead = g_state.dpy_lost = true;
        }
    }
    if (g_state.dpy && g_state.dpy_dead) {
        // With windows still on it, the next PeekMessageA tells them; otherwise start afresh.
        for (WindowRecord *w : all_windows())
            if (!w->destroying) return nullptr;
        drop_connection(false);
    }
    if (!g_state.dpy) {
        g_state.dpy = XOpenDisplay(nullptr);
        if (!g_state.dpy) return nullptr;
        g_state.dpy_dead = false;
        install_handlers();
        XSetIOErrorExitHandler(g_state.dpy, on_io_error_exit, nullptr);
        g_state.conn.wm_protocols = XInternAtom(g_state.dpy, "WM_PROTOCOLS", False);
        g_state.conn.wm_delete_window = XInternAtom(g_state.dpy, "WM_DELETE_WINDOW", False);
        Bool supported;
        XkbSetDetectableAutoRepeat(g_state.dpy, True, &supported);
        release_keys();
    }
    return g_state.dpy;
}

Display *display_if_open() { return g_state.dpy_dead ? nullptr : g_state.dpy; }

bool connection_lost() { return g_state.dpy_lost; }

void shutdown()
{
    drop_connection(false);
    g_state.dpy_lost = false;
    g_state.embed_target = 0;
    reset_queue();
    reset_window_core();
}

ErrorTrap::ErrorTrap(Display *dpy) : dpy_(dpy), first_serial_(dpy ? NextRequest(dpy) : 0), outer_(g_state.trap)
{
    install_handlers();
    g_state.trap = this;
}

ErrorTrap::~ErrorTrap() { g_state.trap = outer_; }

bool ErrorTrap::failed()
{
    if (dpy_ && !g_state.dpy_dead) XSync(dpy_, False);
    return code_ != 0 || g_state.dpy_dead;
}

int record_error(Display *dpy, XErrorEvent *ev)
{
    if (dpy != g_state.dpy) return 0;
    for (ErrorTrap *t = g_state.trap; t; t = t->outer_)
        if (ev->serial >= t->first_serial_ && !t->code_) t->code_ = ev->error_code ? ev->error_code : -1;
    return 0;
}

} // namespace x11
