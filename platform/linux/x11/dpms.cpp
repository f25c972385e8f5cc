// The monitors' power state over the DPMS extension.
#include "dpms.h"

// Xmd.h, which the extension's header includes, has a BOOL and a BYTE of its own.
#define BOOL xmd_BOOL
#define BYTE xmd_BYTE
#include <X11/extensions/dpms.h>
#undef BOOL
#undef BYTE

#include "x11.h"

namespace x11 {

DpmsCalls dpms_calls = {DPMSQueryExtension, DPMSCapable, DPMSInfo};

bool monitors_dark(Display *dpy)
{
    int event_base, error_base;
    if (!dpy || !dpms_calls.query_extension(dpy, &event_base, &error_base)) return false;
    // Both calls wait for their replies, and a failed one says so: the trap only keeps an error
    // from ending the process.
    ErrorTrap trap(dpy);
    unsigned short level = DPMSModeOn;
    unsigned char enabled = False;
    if (!dpms_calls.capable(dpy) || !dpms_calls.info(dpy, &level, &enabled)) return false;
    return enabled && level != DPMSModeOn;
}

} // namespace x11
