// Put in front of libXext with LD_PRELOAD, gives the program under test a DPMS extension that
// Xvfb lacks: the monitors are off while the file named by $FAKE_DPMS_FILE says "off", on otherwise.
#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {

Bool DPMSQueryExtension(Display *, int *event_base, int *error_base)
{
    *event_base = 0;
    *error_base = 0;
    return True;
}

Bool DPMSCapable(Display *) { return True; }

Status DPMSInfo(Display *, CARD16 *power_level, BOOL *enabled)
{
    char state[8] = "";
    const char *path = getenv("FAKE_DPMS_FILE");
    if (FILE *f = path ? fopen(path, "r") : nullptr) {
        if (!fgets(state, sizeof state, f)) state[0] = 0;
        fclose(f);
    }
    *power_level = strncmp(state, "off", 3) == 0 ? DPMSModeOff : DPMSModeOn;
    *enabled = True;
    return 1;
}

} // extern "C"
