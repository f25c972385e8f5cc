// Presentation pacing: a frame clock per process, running at the refresh rate of the monitor that
// shows the window being drawn, waited on with absolute deadlines so that it does not drift.
#include "pacing.h"

#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace x11 {
namespace {

constexpr double kDefaultRate = 60.0;
// Beyond this much waiting, input that has arrived ends the wait: the closing rules act within
// about one frame of a 60 Hz monitor even on a slower one.
constexpr int64_t kInputBoundNs = 16 * 1000000LL;
constexpr int64_t kInputPollNs = 2 * 1000000LL;
// A frame this close to its deadline goes at once: sleeping for less costs more than it saves,
// and where the display's own vertical retrace paces the swaps, frames land here and never wait.
constexpr int64_t kToleranceNs = 200 * 1000LL;

bool g_enabled = true;
FrameClock g_clock;
Window g_rated_drawable = 0;

int64_t monotonic_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Sleeps until the absolute time t; false when a signal cut the sleep short.
bool sleep_until(int64_t t)
{
    timespec ts = {time_t(t / 1000000000LL), long(t % 1000000000LL)};
    return clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != EINTR;
}

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
        return kDefaultRate;
    ErrorTrap trap(dpy);
    XWindowAttributes wa;
    Window child;
    int x = 0, y = 0;
    if (!XGetWindowAttributes(dpy, drawable, &wa) ||
        !XTranslateCoordinates(dpy, drawable, wa.root, wa.width / 2, wa.height / 2, &x, &y, &child) ||
        trap.failed())
        return kDefaultRate;
    double rate = crtc_rate_at(dpy, wa.root, x, y);
    if (trap.failed() || rate < 1.0) return kDefaultRate;
    return rate;
}

// Waits until due. Once the input bound has passed, events waiting on the connection end the wait.
void wait_until(Display *dpy, int64_t due, int64_t now)
{
    if (!sleep_until(std::min(due, now + kInputBoundNs))) return;
    while ((now = monotonic_ns()) < due) {
        if (XEventsQueued(dpy, QueuedAfterReading) > 0) return;
        if (!sleep_until(std::min(due, now + kInputPollNs))) return;
    }
}

} // namespace

int64_t frame_due(FrameClock *clock, int64_t now_ns, int64_t tolerance_ns)
{
    if (!clock->started || now_ns - clock->deadline_ns > clock->period_ns) {
        clock->started = true;
        clock->deadline_ns = now_ns + clock->period_ns;
        return now_ns;
    }
    int64_t due = clock->deadline_ns - now_ns > tolerance_ns ? clock->deadline_ns : now_ns;
    clock->deadline_ns += clock->period_ns;
    return due;
}

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
    if (!g_enabled || !dpy || !drawable) return;
    if (drawable != g_rated_drawable) {
        g_rated_drawable = drawable;
        g_clock.period_ns = int64_t(1e9 / monitor_rate(dpy, drawable) + 0.5);
    }
    int64_t now = monotonic_ns();
    int64_t due = frame_due(&g_clock, now, kToleranceNs);
    if (due > now) wait_until(dpy, due, now);
}

void set_presentation_pacing(bool on)
{
    g_enabled = on;
    g_clock.started = false;
}

void forget_presentation_pacing()
{
    g_rated_drawable = 0;
    g_clock = FrameClock();
}

} // namespace x11
