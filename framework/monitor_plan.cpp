// Which saver covers which monitor, and what changes when the monitors do.
#include "monitor_plan.h"

int ss_same_rect(const RECT *a, const RECT *b)
{
    return a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}

static int inside(const RECT *inner, const RECT *outer)
{
    return inner->left >= outer->left && inner->top >= outer->top && inner->right <= outer->right &&
           inner->bottom <= outer->bottom;
}

static int find_area(const std::vector<RECT> &areas, const RECT *rc)
{
    for (size_t i = 0; i < areas.size(); i++)
        if (ss_same_rect(&areas[i], rc)) return (int)i;
    return -1;
}

// The first monitor, in list order, whose area holds the other's: a mirror holds its twin, and of
// two twins the earlier one stands.
static int holder_of(const std::vector<SS_MONITOR> &monitors, size_t n)
{
    for (size_t i = 0; i < monitors.size(); i++) {
        if (i == n || !inside(&monitors[n].rcMonitor, &monitors[i].rcMonitor)) continue;
        if (!ss_same_rect(&monitors[n].rcMonitor, &monitors[i].rcMonitor) || i < n) return (int)i;
    }
    return -1;
}

std::vector<RECT> ss_distinct_areas(const std::vector<SS_MONITOR> &monitors, int *primary)
{
    std::vector<RECT> areas;
    *primary = -1;
    for (size_t i = 0; i < monitors.size(); i++) {
        const RECT *rc = &monitors[i].rcMonitor;
        if (rc->right <= rc->left || rc->bottom <= rc->top || holder_of(monitors, i) >= 0) continue;
        areas.push_back(*rc);
    }
    for (size_t i = 0; i < monitors.size() && *primary < 0; i++) {
        if (!monitors[i].primary) continue;
        size_t n = i;
        for (int h = holder_of(monitors, n); h >= 0; h = holder_of(monitors, n)) n = (size_t)h;
        *primary = find_area(areas, &monitors[n].rcMonitor);
    }
    if (*primary < 0 && !areas.empty()) *primary = 0;
    return areas;
}

SS_MONITOR_PLAN ss_plan_monitors(const std::vector<RECT> &areas, int primary, const RECT *own,
                                 const std::vector<RECT> &running)
{
    SS_MONITOR_PLAN plan;
    plan.own = own ? find_area(areas, own) : -1;
    plan.remake = plan.own < 0;
    if (plan.remake) plan.own = primary;
    if (plan.own < 0 && !own) plan.remake = 0;
    std::vector<RECT> kept;
    for (const RECT &rc : running) {
        int at = find_area(areas, &rc);
        if (at < 0 || at == plan.own)
            plan.end.push_back(rc);
        else
            kept.push_back(rc);
    }
    for (size_t i = 0; i < areas.size(); i++)
        if ((int)i != plan.own && find_area(kept, &areas[i]) < 0) plan.start.push_back(areas[i]);
    return plan;
}
