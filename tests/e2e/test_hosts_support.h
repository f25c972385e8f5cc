// Shared by the tests that run Tidefold under a real screen saver host (the xscreensaver daemon,
// MATE's screen saver, xsecurelock): the checks on the Tidefold processes it starts.
// Include after gtest.
#pragma once

#include "harness.h"
#include "host_home.h"
#include "test_embedded_support.h"

// Waits up to timeout_ms for the program at exe to run on display; the processes found.
inline std::vector<pid_t> wait_for_processes(const std::string &exe, const std::string &display, int timeout_ms)
{
    std::vector<pid_t> found;
    for (int waited = 0; (found = processes_running(exe, display)).empty() && waited < timeout_ms; waited += 50)
        sleep_ms(50);
    return found;
}

// Waits up to timeout_ms for every process of the program at exe on display to end.
inline bool wait_until_gone(const std::string &exe, const std::string &display, int timeout_ms)
{
    for (int waited = 0; !processes_running(exe, display).empty(); waited += 20) {
        if (waited >= timeout_ms) return false;
        sleep_ms(20);
    }
    return true;
}

// Waits up to timeout_ms for the screen to show a picture rather than a host's black; Tidefold
// takes a while to photograph, upload and draw its first frames on a busy machine.
inline bool wait_for_picture(SaverSession &s, int timeout_ms)
{
    for (int waited = 0; s.screenshot().black_fraction() >= 0.4; waited += 200) {
        if (waited >= timeout_ms) return false;
        sleep_ms(200);
    }
    return true;
}
