// The monitors' power state over the DPMS extension.
#include "dpms.h"

#include <X11/extensions/dpms.h>

namespace x11 {

DpmsCalls dpms_calls = {DPMSQueryExtension, DPMSCapable, DPMSInfo};

bool monitors_dark(Display *dpy)
{
    int event_base, error_base;
    if (!dpy || !dpms_calls.query_extension(dpy, &event_base, &error_base)) return false;
    // Both calls wait for their replies and say when they failed; the connection's error handler
    // keeps an error from ending the process.
    unsigned short level = DPMSModeOn;
    unsigned char enabled = False;
    if (!dpms_calls.capable(dpy) || !dpms_calls.info(dpy, &level, &enabled)) return false;
    return enabled && level != DPMSModeOn;
}

} // namespace x11
