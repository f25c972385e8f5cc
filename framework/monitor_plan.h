// Which saver covers which monitor: the distinct areas the monitors show, and what the first saver
// does when they change (monitor_plan.cpp). No display is needed to work these out.
#pragma once

#include "ssaver.h"

#include <vector>

struct SS_MONITOR {
    RECT rcMonitor;
    int primary;
};

// The areas that want a saver each: a monitor showing the same area as another (a mirror), or
// lying wholly inside another, adds none; monitors overlapping in part keep one each. *primary is
// the index of the primary monitor's area (of the one holding it), else 0; -1 when none is left.
std::vector<RECT> ss_distinct_areas(const std::vector<SS_MONITOR> &monitors, int *primary);

struct SS_MONITOR_PLAN {
    int own;               // index in the areas of the one the first saver covers, -1 for none
    int remake;            // 1 when the first saver's window must be made anew for it (or go)
    std::vector<RECT> end;   // the monitor savers to end, by their areas
    std::vector<RECT> start; // the areas to start a monitor saver for
};

// What follows a change of monitors. A saver whose area is no longer shown ends (a monitor that
// changed size or place is one gone and one new); every area without one gets one. The first saver
// keeps its area while it is shown, else takes the primary one (whose saver then ends) or, with
// none left, has no window. own is its area now, NULL when it has none.
SS_MONITOR_PLAN ss_plan_monitors(const std::vector<RECT> &areas, int primary, const RECT *own,
                                 const std::vector<RECT> &running);

int ss_same_rect(const RECT *a, const RECT *b);
