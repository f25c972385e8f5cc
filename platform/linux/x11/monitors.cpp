// The monitors of the X screen, over RandR and Xinerama, the covers over the parts no monitor
// shows, and the notice to the saver when the monitors change.
#include "monitors.h"

#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>

namespace x11 {
namespace {

RECT make_rect(int x, int y, int width, int height) { return {x, y, x + width, y + height}; }

bool randr_monitors(Display *dpy, std::vector<MonitorArea> &out)
{
    int event_base, error_base, major = 0, minor = 0;
    if (!XRRQueryExtension(dpy, &event_base, &error_base) || !XRRQueryVersion(dpy, &major, &minor)) return false;
    if (major < 1 || (major == 1 && minor < 5)) return false;
    int n = 0;
    XRRMonitorInfo *m = XRRGetMonitors(dpy, DefaultRootWindow(dpy), True, &n);
    if (!m) return false;
    for (int i = 0; i < n; i++) out.push_back({make_rect(m[i].x, m[i].y, m[i].width, m[i].height), m[i].primary != 0});
    XRRFreeMonitors(m);
    return n > 0;
}

bool xinerama_screens(Display *dpy, std::vector<MonitorArea> &out)
{
    int event_base, error_base, n = 0;
    if (!XineramaQueryExtension(dpy, &event_base, &error_base) || !XineramaIsActive(dpy)) return false;
    XineramaScreenInfo *s = XineramaQueryScreens(dpy, &n);
    if (!s) return false;
    for (int i = 0; i < n; i++)
        out.push_back({make_rect(s[i].x_org, s[i].y_org, s[i].width, s[i].height), false});
    XFree(s);
    return n > 0;
}

bool same_rect(const RECT &a, const RECT &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool same_areas(const std::vector<MonitorArea> &a, const std::vector<MonitorArea> &b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](const MonitorArea &x, const MonitorArea &y) { return same_rect(x.rect, y.rect); });
}

bool holds(const RECT &r, long x, long y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

} // namespace

std::vector<MonitorArea> monitor_areas()
{
    Display *dpy = display();
    if (!dpy) return {};
    int width = DisplayWidth(dpy, DefaultScreen(dpy)), height = DisplayHeight(dpy, DefaultScreen(dpy));
    std::vector<MonitorArea> found;
    {
        ErrorTrap trap(dpy);
        if (!randr_monitors(dpy, found)) {
            found.clear();
            if (!xinerama_screens(dpy, found)) found.clear();
        }
        if (trap.failed()) found.clear();
    }
    std::vector<MonitorArea> out;
    for (MonitorArea m : found) {
        m.rect = {std::max<LONG>(m.rect.left, 0), std::max<LONG>(m.rect.top, 0), std::min<LONG>(m.rect.right, width),
                  std::min<LONG>(m.rect.bottom, height)};
        if (m.rect.left >= m.rect.right || m.rect.top >= m.rect.bottom) continue;
        auto seen = std::find_if(out.begin(), out.end(), [&](const MonitorArea &o) { return same_rect(o.rect, m.rect); });
        if (seen == out.end())
            out.push_back(m);
        else
            seen->primary = seen->primary || m.primary;
    }
    if (out.empty()) out.push_back({make_rect(0, 0, width, height), true});
    return out;
}

RECT saver_area_at(int x, int y)
{
    Display *dpy = display();
    RECT screen = dpy ? make_rect(0, 0, DisplayWidth(dpy, DefaultScreen(dpy)), DisplayHeight(dpy, DefaultScreen(dpy)))
                      : make_rect(0, 0, 0, 0);
    std::vector<MonitorArea> monitors = monitor_areas();
    if (monitors.size() < 2) return screen;
    // Of monitors lying over each other, the largest holding the point: a monitor inside another
    // shares that one's saver.
    const RECT *best = nullptr;
    auto size = [](const RECT &r) { return int64_t(r.right - r.left) * (r.bottom - r.top); };
    for (const MonitorArea &m : monitors)
        if (holds(m.rect, x, y) && (!best || size(m.rect) > size(*best))) best = &m.rect;
    return best ? *best : screen;
}

std::vector<RECT> unseen_parts(const std::vector<MonitorArea> &monitors, int screen_width, int screen_height)
{
    std::vector<RECT> parts;
    if (monitors.size() < 2) return parts;
    // Every monitor edge cuts the screen into a grid; a cell is unseen when no monitor holds it,
    // and unseen neighbours in a row make one rectangle.
    std::vector<LONG> xs = {0, screen_width}, ys = {0, screen_height};
    for (const MonitorArea &m : monitors) {
        xs.insert(xs.end(), {m.rect.left, m.rect.right});
        ys.insert(ys.end(), {m.rect.top, m.rect.bottom});
    }
    for (auto *v : {&xs, &ys}) {
        std::sort(v->begin(), v->end());
        v->erase(std::unique(v->begin(), v->end()), v->end());
    }
    for (size_t j = 0; j + 1 < ys.size(); j++) {
        for (size_t i = 0; i + 1 < xs.size(); i++) {
            bool seen = std::any_of(monitors.begin(), monitors.end(),
                                    [&](const MonitorArea &m) { return holds(m.rect, xs[i], ys[j]); });
            if (seen) continue;
            if (!parts.empty() && parts.back().right == xs[i] && parts.back().top == ys[j])
                parts.back().right = xs[i + 1];
            else
                parts.push_back({xs[i], ys[j], xs[i + 1], ys[j + 1]});
        }
    }
    return parts;
}

// Asks the server for RandR's notices of screen, monitor and output changes on the root window.
void watch_monitor_changes(Display *dpy)
{
    int &event_base = g_state.conn.randr_event_base, error_base;
    if (event_base >= 0 || !XRRQueryExtension(dpy, &event_base, &error_base)) return;
    ErrorTrap trap(dpy);
    XRRSelectInput(dpy, DefaultRootWindow(dpy), RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    trap.failed();
}

bool note_monitor_event(XEvent &ev)
{
    const int base = g_state.conn.randr_event_base;
    if (base < 0 || (ev.type != base + RRScreenChangeNotify && ev.type != base + RRNotify)) return false;
    // The screen's size as Xlib knows it follows the change.
    XRRUpdateConfiguration(&ev);
    if (g_state.conn.covering) {
        uncover_unseen_parts();
        cover_unseen_parts();
    }
    monitors_changed(24);
    return true;
}

void cover_unseen_parts()
{
    Display *dpy = display_if_open();
    if (!dpy || !g_state.conn.covers.empty()) return;
    g_state.conn.covering = true;
    watch_monitor_changes(dpy);
    int screen = DefaultScreen(dpy);
    XSetWindowAttributes a = {};
    a.background_pixel = BlackPixel(dpy, screen);
    a.override_redirect = True;
    ErrorTrap trap(dpy);
    for (const RECT &r : unseen_parts(monitor_areas(), DisplayWidth(dpy, screen), DisplayHeight(dpy, screen))) {
        Window w = XCreateWindow(dpy, RootWindow(dpy, screen), r.left, r.top, r.right - r.left, r.bottom - r.top, 0,
                                 CopyFromParent, InputOutput, CopyFromParent, CWBackPixel | CWOverrideRedirect, &a);
        XMapRaised(dpy, w);
        g_state.conn.covers.push_back(w);
    }
    trap.failed();
}

void uncover_unseen_parts()
{
    Display *dpy = display_if_open();
    if (dpy && !g_state.conn.covers.empty()) {
        ErrorTrap trap(dpy);
        for (Window w : g_state.conn.covers) XDestroyWindow(dpy, w);
        trap.failed();
    }
    g_state.conn.covers.clear();
    g_state.conn.covering = false;
}

} // namespace x11

namespace x11::api {

// Monitor handles count from 1 in the list the last enumeration made.
BOOL WINAPI EnumDisplayMonitors(HDC hdc, LPCRECT lprcClip, MONITORENUMPROC lpfnEnum, LPARAM dwData)
{
    if (hdc || lprcClip || !lpfnEnum) return FALSE;
    std::vector<MonitorArea> before = g_state.conn.listed;
    g_state.conn.listed = monitor_areas();
    // Monitors some change did not announce: the covers follow them too.
    if (g_state.conn.covering && !same_areas(before, g_state.conn.listed)) {
        uncover_unseen_parts();
        cover_unseen_parts();
    }
    if (g_state.conn.listed.empty()) return FALSE;
    std::vector<MonitorArea> listed = g_state.conn.listed;
    for (size_t i = 0; i < listed.size(); i++) {
        RECT rc = listed[i].rect;
        if (!lpfnEnum(reinterpret_cast<HMONITOR>(i + 1), nullptr, &rc, dwData)) break;
    }
    return TRUE;
}

BOOL WINAPI GetMonitorInfoA(HMONITOR hMonitor, LPMONITORINFO lpmi)
{
    uintptr_t n = reinterpret_cast<uintptr_t>(hMonitor);
    if (!lpmi || lpmi->cbSize < sizeof(MONITORINFO) || n < 1 || n > g_state.conn.listed.size()) return FALSE;
    const MonitorArea &m = g_state.conn.listed[n - 1];
    lpmi->rcMonitor = m.rect;
    lpmi->rcWork = m.rect;
    lpmi->dwFlags = m.primary ? MONITORINFOF_PRIMARY : 0;
    return TRUE;
}

} // namespace x11::api
