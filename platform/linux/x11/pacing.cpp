// Presentation pacing: a frame clock per process, running at the refresh rate of the monitor that
// shows the window being drawn, waited on with absolute deadlines so that it does not drift.
#include "pacing.h"
#include "dpms.h"

#include <X11/extensions/Xrandr.h>

#include <poll.h>

namespace x11 {
namespace {

// While the monitors are on, they are asked again at most this often whether they still are.
constexpr int64_t kLitRecheckNs = 250 * 1000000LL;

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

// Whether the monitors are on. While they are, the server is asked only a few times a second; while
// they are off, at every question, so that their return is seen at once.
bool monitors_lit()
{
    Display *dpy = display_if_open();
    if (!dpy) return true;
    int64_t now = platform::monotonic_ns();
    if (g_state.conn.lit_known && now - g_state.conn.lit_asked_ns < kLitRecheckNs) return true;
    g_state.conn.lit_known = !monitors_dark(dpy);
    g_state.conn.lit_asked_ns = now;
    return g_state.conn.lit_known;
}

// A saver popup still without the keyboard or pointer another client holds: the loop asks again
// for them every ~100 ms, so it must run even while nothing is drawn.
bool grabs_outstanding()
{
    for (const WindowRec *rec : windows())
        if (grabs_outstanding(*rec)) return true;
    return false;
}

// Waits on the connection: true when events came for the loop, a signal cut the wait short, the
// connection failed, or grabs are still to be asked for again.
bool input_within(int timeout_ms)
{
    Display *dpy = display_if_open();
    if (!dpy || XEventsQueued(dpy, QueuedAfterFlush) > 0) return true;
    if (timeout_ms <= 0) return false;
    pollfd p = {ConnectionNumber(dpy), POLLIN, 0};
    return poll(&p, 1, timeout_ms) != 0 || grabs_outstanding();
}

const platform::FrameDisplay kMonitors = {monitors_lit, input_within};

} // namespace

double mode_refresh_rate(unsigned long dot_clock, unsigned h_total, unsigned v_total, unsigned long flags)
{
    double lines = v_total;
    if (flags & RR_DoubleScan) lines *= 2;
    if (flags & RR_Interlace) lines /= 2;
    if (!dot_clock || !h_total || lines <= 0) return 0;
    return double(dot_clock) / (double(h_total) * lines);
}

bool pace_presentation(Window drawable)
{
    Display *dpy = display_if_open();
    if (!presentation_pacing() || !dpy || !drawable) return true;
    if (drawable != g_state.conn.rated_drawable) {
        g_state.conn.rated_drawable = drawable;
        g_state.conn.clock.period_ns = int64_t(1e9 / monitor_rate(dpy, drawable) + 0.5);
    }
    return pace_frame(&g_state.conn.clock, kMonitors);
}

} // namespace x11
