// The outputs of the compositor as monitors: their places in the logical layout. Wayland has no
// primary output; the one at the layout's origin (else the first) stands for it. An output added,
// changed or removed is told to our windows as WM_DISPLAYCHANGE.
#include "wayland.h"

namespace wl {

void outputs_changed() { monitors_changed(32); }

} // namespace wl

namespace wl::api {

BOOL WINAPI EnumDisplayMonitors(HDC hdc, LPCRECT lprcClip, MONITORENUMPROC lpfnEnum, LPARAM dwData)
{
    Connection *c = connection();
    if (hdc || lprcClip || !lpfnEnum || !c || c->outputs.empty()) return FALSE;
    std::vector<RECT> areas;
    for (auto &o : c->outputs)
        if (o->width > 0 && o->height > 0) areas.push_back(output_rect(*o));
    for (size_t i = 0; i < areas.size(); i++) {
        RECT rc = areas[i];
        if (!lpfnEnum(reinterpret_cast<HMONITOR>(i + 1), nullptr, &rc, dwData)) break;
    }
    return TRUE;
}

BOOL WINAPI GetMonitorInfoA(HMONITOR hMonitor, LPMONITORINFO lpmi)
{
    Connection *c = connection();
    uintptr_t n = reinterpret_cast<uintptr_t>(hMonitor);
    if (!lpmi || lpmi->cbSize < sizeof(MONITORINFO) || !c) return FALSE;
    std::vector<RECT> areas;
    for (auto &o : c->outputs)
        if (o->width > 0 && o->height > 0) areas.push_back(output_rect(*o));
    if (n < 1 || n > areas.size()) return FALSE;
    const Output *primary = output_at(0, 0);
    RECT rc = areas[n - 1];
    lpmi->rcMonitor = rc;
    lpmi->rcWork = rc;
    lpmi->dwFlags = primary && output_rect(*primary).left == rc.left && output_rect(*primary).top == rc.top
                        ? MONITORINFOF_PRIMARY
                        : 0;
    return TRUE;
}

} // namespace wl::api
