// The monitors of the X screen and the black covers over what none of them shows. Internal to
// platform/linux and its tests; the program itself sees EnumDisplayMonitors and GetMonitorInfoA.
#pragma once

#include "x11.h"

#include <vector>

namespace x11 {

// RandR 1.5 monitors, else Xinerama screens, else the whole screen; each clipped to the screen,
// empty and repeated areas left out. Empty when no display answers.
std::vector<MonitorArea> monitor_areas();

// Where a full-screen saver popup asked for at (x, y) goes: the monitor holding that point when
// the screen has several, else the whole screen.
RECT saver_area_at(int x, int y);

// The parts of the screen that no monitor shows, as few rectangles; none with a single monitor.
std::vector<RECT> unseen_parts(const std::vector<MonitorArea> &monitors, int screen_width, int screen_height);

// Black windows over the unseen parts, above everything, for as long as the saver that holds the
// input runs: a saver covering one monitor lets no corner of the desktop show.
void cover_unseen_parts();
void uncover_unseen_parts();

// For the saver that covers the parts unseen: a RandR notice of a change of the screen or its
// monitors renews the covers and tells our top-level windows (WM_DISPLAYCHANGE). False for any other event.
bool note_monitor_event(XEvent &ev);

} // namespace x11
