#include "xvfb.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

bool PrivateXvfb::start(int width, int height, int depth, const std::string &extra_args)
{
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::ostringstream screen;
    screen << width << "x" << height << "x" << depth;
    std::vector<std::string> args = {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen.str(),
                                     "-noreset", "-nolisten", "tcp"};
    std::istringstream extra(extra_args);
    for (std::string a; extra >> a;) args.push_back(a);

    pid_ = fork();
    if (pid_ == 0) {
        close(fds[0]);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        std::vector<char *> argv;
        for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp("Xvfb", argv.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
        close(fds[0]);
        return false;
    }
    std::string number;
    pollfd p = {fds[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
        stop();
        return false;
    }
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
    return true;
}

void PrivateXvfb::stop()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

void PrivateXvfb::signal(int sig)
{
    if (pid_ > 0) kill(pid_, sig);
}

unsigned long picture_pixmap(Display *dpy, int width, int height, const unsigned *pixels)
{
    int scr = DefaultScreen(dpy);
    int depth = DefaultDepth(dpy, scr);
    Pixmap pm = XCreatePixmap(dpy, RootWindow(dpy, scr), width, height, depth);
    XImage *img = XCreateImage(dpy, DefaultVisual(dpy, scr), depth, ZPixmap, 0, nullptr, width, height, 32, 0);
    img->data = static_cast<char *>(malloc((size_t)img->bytes_per_line * height));
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) XPutPixel(img, x, y, pixels[(size_t)y * width + x]);
    GC gc = XCreateGC(dpy, pm, 0, nullptr);
    XPutImage(dpy, pm, gc, img, 0, 0, 0, 0, width, height);
    XFreeGC(dpy, gc);
    XDestroyImage(img);
    XSync(dpy, False);
    return pm;
}

void send_delete_window(Display *dpy, unsigned long window)
{
    XEvent ev = {};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = window;
    ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = (long)XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, window, False, NoEventMask, &ev);
    XSync(dpy, False);
}

bool paint_root(const std::string &display, int width, int height, const unsigned *pixels)
{
    Display *dpy = XOpenDisplay(display.c_str());
    if (!dpy) return false;
    Window root = DefaultRootWindow(dpy);
    Pixmap pm = picture_pixmap(dpy, width, height, pixels);
    XSetWindowBackgroundPixmap(dpy, root, pm);
    XClearWindow(dpy, root);
    XFreePixmap(dpy, pm);
    XSync(dpy, False);
    XCloseDisplay(dpy);
    return true;
}

bool read_screen(const std::string &display, int x, int y, int width, int height, unsigned *pixels)
{
    Display *dpy = XOpenDisplay(display.c_str());
    if (!dpy) return false;
    XImage *img = XGetImage(dpy, DefaultRootWindow(dpy), x, y, width, height, AllPlanes, ZPixmap);
    if (!img) {
        XCloseDisplay(dpy);
        return false;
    }
    for (int j = 0; j < height; j++)
        for (int i = 0; i < width; i++) pixels[(size_t)j * width + i] = XGetPixel(img, i, j) & 0xFFFFFF;
    XDestroyImage(img);
    XCloseDisplay(dpy);
    return true;
}

bool set_monitors(const std::string &display, const MonitorSpec *monitors, int count)
{
    Display *dpy = XOpenDisplay(display.c_str());
    if (!dpy) return false;
    Window root = DefaultRootWindow(dpy);
    int major = 0, minor = 0;
    XRRScreenResources *res = XRRQueryVersion(dpy, &major, &minor) && (major > 1 || minor >= 5)
                                  ? XRRGetScreenResources(dpy, root)
                                  : nullptr;
    bool ok = res && res->noutput > 0;
    // The monitors of an earlier call go first: the screen can lose monitors as well as gain them.
    int listed = 0;
    XRRMonitorInfo *all = ok ? XRRGetMonitors(dpy, root, False, &listed) : nullptr;
    for (int i = 0; i < listed; i++) {
        char *name = XGetAtomName(dpy, all[i].name);
        if (name && strncmp(name, "monitor-", 8) == 0) XRRDeleteMonitor(dpy, root, all[i].name);
        if (name) XFree(name);
    }
    if (all) XRRFreeMonitors(all);
    for (int i = 0; ok && i < count; i++) {
        const MonitorSpec &m = monitors[i];
        XRRMonitorInfo *info = XRRAllocateMonitor(dpy, i == 0 ? 1 : 0);
        std::string name = "monitor-" + std::to_string(i);
        info->name = XInternAtom(dpy, name.c_str(), False);
        info->primary = m.primary;
        info->x = m.x;
        info->y = m.y;
        info->width = m.width;
        info->height = m.height;
        info->mwidth = m.width * 254 / 960; // 96 dots an inch
        info->mheight = m.height * 254 / 960;
        if (i == 0) info->outputs[0] = res->outputs[0];
        XRRSetMonitor(dpy, root, info);
        XRRFreeMonitors(info);
    }
    if (res) XRRFreeScreenResources(res);
    XSync(dpy, False);
    XCloseDisplay(dpy);
    return ok;
}
