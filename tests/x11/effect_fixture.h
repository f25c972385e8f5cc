// What the launcher sets up before the saver window exists, for tests that make the window
// themselves: the screen size, an empty private settings directory (so the defaults hold) and the
// "screensaver" class with the effect's window procedure.
#pragma once

#include "ssaver.h"

#include <cstdlib>
#include <string>

inline bool prepare_saver_class()
{
    char dir[] = "/tmp/tidefold-test-XXXXXX";
    if (!mkdtemp(dir)) return false;
    setenv("XDG_CONFIG_HOME", dir, 1);
    nScreenWidth = GetSystemMetrics(SM_CXSCREEN);
    nScreenHeight = GetSystemMetrics(SM_CYSCREEN);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ScreenSaverProc;
    wc.lpszClassName = "screensaver";
    RegisterClassA(&wc);
    return nScreenWidth > 0;
}
