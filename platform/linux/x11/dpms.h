// Whether the X server has powered the monitors down, from its DPMS extension. The extension's
// calls go through a table, since neither Xvfb nor Xorg's dummy driver has the extension: tests
// put their own answers in it. Internal to platform/linux and its tests.
#pragma once

#include <X11/Xlib.h>

namespace x11 {

struct DpmsCalls {
    Bool (*query_extension)(Display *dpy, int *event_base, int *error_base);
    Bool (*capable)(Display *dpy);
    // The power level (DPMSModeOn, ...) and whether power management is on (Xmd's CARD16 and
    // BOOL, which win32.h's BOOL keeps out of this header).
    Status (*info)(Display *dpy, unsigned short *power_level, unsigned char *enabled);
};
// libXext's calls, unless a test replaced them.
extern DpmsCalls dpms_calls;

// True while DPMS holds the monitors in standby, suspend or off. A server without the extension,
// or with power management off, always has them on.
bool monitors_dark(Display *dpy);

} // namespace x11
