// Presentation pacing: a frame clock per process, running at the refresh rate of the monitor that
// shows the window being drawn, waited on with absolute deadlines so that it does not drift.
#include "pacing.h"

#include <X11/extensions/Xrandr.h>


namespace x11 {
namespace {


FrameClock g_clock;
Window g_rated_drawable = 0;

// The rate of the CRTC whose area holds the point (x, y) of the root window; 0 when none does.
double crtc_rate_at(Display *dpy, Window root, int x, int y)
{
    XRRScreenResources *res = XRRGetScreenResourcesCurrent(dpy, root);
    if (!res) return 0;
    double rate = 0;
    for (int i = 0; i < res->ncrtc && rate <= 0; i++) {
        XRRCrtcInfo *crtc = XRRGetCrtcInfo(dpy, res, res->crtcs[i]);
        if (!crtc) continue;
        bool under = crtc->mode != None && x >= crtc->x && y >= crtc->y && x < crtc->x + int(crtc->width) &&
                     y < crtc->y + int(crtc->height);
        for (int m = 0; under && m < res->nmode; m++)
            if (res->modes[m].id == crtc->mode)
                rate = mode_refresh_rate(res->modes[m].dotClock, res->modes[m].hTotal, res->modes[m].vTotal,
                                         res->modes[m].modeFlags);
        XRRFreeCrtcInfo(crtc);
    }
    XRRFreeScreenResources(res);
    return rate;
}

// The refresh rate of the monitor under the middle of drawable, or 60 Hz when it cannot be told.
double monitor_rate(Display *dpy, Window drawable)
{
    int event_base, error_base, major = 0, minor = 0;
    if (!XRRQueryExtension(dpy, &event_base, &error_base) || !XRRQueryVersion(dpy, &major, &minor) ||
        (major == 1 && minor < 3))
        return kDefaultRefreshRate;
    ErrorTrap trap(dpy);
    XWindowAttributes wa;
    Window child;
    int x = 0, y = 0;
    if (!XGetWindowAttributes(dpy, drawable, &wa) ||
        !XTranslateCoordinates(dpy, drawable, wa.root, wa.width / 2, wa.height / 2, &x, &y, &child) ||
        trap.failed())
        return kDefaultRefreshRate;
    double rate = crtc_rate_at(dpy, wa.root, x, y);
    if (trap.failed() || rate < 1.0) return kDefaultRefreshRate;
    return rate;
}

} // namespace

double mode_refresh_rate(unsigned long dot_clock, unsigned h_total, unsigned v_total, unsigned long flags)
{
    double lines = v_total;
    if (flags & RR_DoubleScan) lines *= 2;
    if (flags & RR_Interlace) lines /= 2;
    if (!dot_clock || !h_total || lines <= 0) return 0;
    return double(dot_clock) / (double(h_total) * lines);
}

void pace_presentation(Window drawable)
{
    Display *dpy = display_if_open();
    if (!presentation_pacing() || !dpy || !drawable) return;
    if (drawable != g_rated_drawable) {
        g_rated_drawable = drawable;
        g_clock.period_ns = int64_t(1e9 / monitor_rate(dpy, drawable) + 0.5);
    }
    pace_frame(&g_clock, [] {
        Display *d = display_if_open();
        return !d || XEventsQueued(d, QueuedAfterReading) > 0;
    });
}

void forget_presentation_pacing()
{
    g_rated_drawable = 0;
    g_clock = FrameClock();
}

} // namespace x11
