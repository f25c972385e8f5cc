// Whether the monitors show nothing of ours: the X server has powered them down (its DPMS
// extension), or its own screen saver has blanked them (MIT-SCREEN-SAVER). The calls go through a
// table, since neither Xvfb nor Xorg's dummy driver has the DPMS extension: tests put their own
// answers in it. Internal to platform/linux and its tests.
#pragma once

#include <X11/Xlib.h>

namespace x11 {

struct DpmsCalls {
    Bool (*query_extension)(Display *dpy, int *event_base, int *error_base);
    Bool (*capable)(Display *dpy);
    // The power level (DPMSModeOn, ...) and whether power management is on (Xmd's CARD16 and
    // BOOL, which win32.h's BOOL keeps out of this header).
    Status (*info)(Display *dpy, unsigned short *power_level, unsigned char *enabled);
    // Whether the server's own screen saver is on (blanking, its pattern, or a window of another
    // client's above everything).
    bool (*server_saver_on)(Display *dpy);
};
// libXext's and libXss's calls, unless a test replaced them.
extern DpmsCalls dpms_calls;

// True while DPMS holds the monitors in standby, suspend or off, or the server's screen saver is
// on. A server without the DPMS extension, or with power management off, has them powered.
bool monitors_dark(Display *dpy);

} // namespace x11
