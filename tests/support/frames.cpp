#include "frames.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <ctime>
#include <string>
#include <poll.h>

namespace {

long long now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

int ignore_error(Display *, XErrorEvent *) { return 0; }

} // namespace

bool FrameCounter::watch(Display *dpy, unsigned long window)
{
    int error_base;
    if (!XDamageQueryExtension(dpy, &event_base_, &error_base)) return false;
    XWindowAttributes wa;
    if (!XGetWindowAttributes(dpy, window, &wa)) return false;
    dpy_ = dpy;
    min_area_ = long(wa.width) * wa.height / 2;
    damage_ = XDamageCreate(dpy, window, XDamageReportRawRectangles);
    XSync(dpy, False);
    return damage_ != 0;
}

// The damage object goes away with its window; when the window is gone first, destroying it
// again is an error nobody needs to hear about.
FrameCounter::~FrameCounter()
{
    if (!damage_) return;
    XSync(dpy_, False);
    XErrorHandler previous = XSetErrorHandler(ignore_error);
    XDamageDestroy(dpy_, damage_);
    XSync(dpy_, False);
    XSetErrorHandler(previous);
}

int FrameCounter::count_for(int ms)
{
    if (!damage_) return -1;
    // Drop what came before the count starts.
    XSync(dpy_, False);
    XEvent ev;
    while (XCheckTypedEvent(dpy_, event_base_ + XDamageNotify, &ev)) {
    }
    int frames = 0;
    long long end = now_ms() + ms;
    for (long long left; (left = end - now_ms()) > 0;) {
        while (XPending(dpy_)) {
            XNextEvent(dpy_, &ev);
            if (ev.type != event_base_ + XDamageNotify) continue;
            auto *d = reinterpret_cast<XDamageNotifyEvent *>(&ev);
            if (long(d->area.width) * d->area.height >= min_area_) frames++;
        }
        pollfd p = {ConnectionNumber(dpy_), POLLIN, 0};
        poll(&p, 1, int(left < 5 ? left : 5));
    }
    return frames;
}

unsigned long first_child(Display *dpy, unsigned long window)
{
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy, window, &root, &parent, &children, &n)) return 0;
    unsigned long child = n ? children[0] : 0;
    if (children) XFree(children);
    return child;
}

static unsigned long top_level_saver(Display *dpy)
{
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &n)) return 0;
    Window found = 0;
    for (unsigned i = 0; i < n && !found; i++) {
        char *name = nullptr;
        if (XFetchName(dpy, children[i], &name) && name) {
            if (std::string(name) == "screensaver") found = children[i];
            XFree(name);
        }
    }
    if (children) XFree(children);
    return found;
}

unsigned long wait_for_gl_window(Display *dpy, int timeout_ms)
{
    for (long long end = now_ms() + timeout_ms; now_ms() < end; poll(nullptr, 0, 20)) {
        unsigned long top = top_level_saver(dpy), gl = top ? first_child(dpy, top) : 0;
        if (gl) return gl;
    }
    return 0;
}
