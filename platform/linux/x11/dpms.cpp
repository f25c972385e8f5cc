// The monitors' power state over the DPMS extension, and the server's own screen saver.
#include "dpms.h"

#include <X11/extensions/dpms.h>
#include <X11/extensions/scrnsaver.h>

namespace x11 {
namespace {

bool query_server_saver(Display *dpy)
{
    int event_base, error_base;
    if (!XScreenSaverQueryExtension(dpy, &event_base, &error_base)) return false;
    XScreenSaverInfo info = {};
    return XScreenSaverQueryInfo(dpy, DefaultRootWindow(dpy), &info) && info.state == ScreenSaverOn;
}

bool powered_down(Display *dpy)
{
    int event_base, error_base;
    if (!dpms_calls.query_extension(dpy, &event_base, &error_base)) return false;
    // Both calls wait for their replies and say when they failed; the connection's error handler
    // keeps an error from ending the process.
    unsigned short level = DPMSModeOn;
    unsigned char enabled = False;
    if (!dpms_calls.capable(dpy) || !dpms_calls.info(dpy, &level, &enabled)) return false;
    return enabled && level != DPMSModeOn;
}

} // namespace

DpmsCalls dpms_calls = {DPMSQueryExtension, DPMSCapable, DPMSInfo, query_server_saver};

bool monitors_dark(Display *dpy) { return dpy && (powered_down(dpy) || dpms_calls.server_saver_on(dpy)); }

} // namespace x11
