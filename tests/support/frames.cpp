#include "frames.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <algorithm>
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

std::vector<unsigned long> saver_gl_windows(Display *dpy)
{
    std::vector<std::pair<int, unsigned long>> found;
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &n)) return {};
    for (unsigned i = 0; i < n; i++) {
        char *name = nullptr;
        XWindowAttributes wa;
        bool saver = XFetchName(dpy, children[i], &name) && name && std::string(name) == "screensaver";
        if (name) XFree(name);
        unsigned long gl = saver ? first_child(dpy, children[i]) : 0;
        if (gl && XGetWindowAttributes(dpy, children[i], &wa)) found.push_back({wa.x, gl});
    }
    if (children) XFree(children);
    std::sort(found.begin(), found.end());
    std::vector<unsigned long> out;
    for (const auto &f : found) out.push_back(f.second);
    return out;
}

unsigned long wait_for_gl_window(Display *dpy, int timeout_ms)
{
    for (long long end = now_ms() + timeout_ms; now_ms() < end; poll(nullptr, 0, 20)) {
        std::vector<unsigned long> gl = saver_gl_windows(dpy);
        if (!gl.empty()) return gl[0];
    }
    return 0;
}
