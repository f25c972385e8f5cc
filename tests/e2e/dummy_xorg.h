// Xorg with the dummy video driver for the end-to-end tests and benchmarks that need a real
// RandR server: outputs with modes, switched on and off with xrandr. Xorg needs root.
#pragma once

#include "harness.h"
#include "process.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <unistd.h>

// Xorg with the dummy video driver, its output running one 640x480 mode at 30 Hz. Xorg needs root.
class DummyXorg {
public:
    // display_lines go into the screen's Display subsection (a Virtual size room for more outputs).
    bool start(const std::string &display_lines = "")
    {
        char tmpl[] = "/tmp/tidefold-xorg-XXXXXX";
        if (!mkdtemp(tmpl)) return false;
        dir_ = tmpl;
        std::filesystem::create_directories(dir_ + "/conf.d");
        std::ofstream(dir_ + "/xorg.conf") << R"(Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 64000
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0 - 100.0
    VertRefresh 20.0 - 100.0
    Modeline "640x480_30" 12.6 640 656 752 800 480 490 492 525
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "640x480_30"
)" << display_lines << R"(
    EndSubSection
EndSection
)";
        int fds[2];
        if (pipe(fds) != 0) return false;
        if (!xorg_.start({"Xorg", "-displayfd", std::to_string(fds[1]), "-config", dir_ + "/xorg.conf", "-configdir",
                          dir_ + "/conf.d", "-logfile", dir_ + "/Xorg.log", "-noreset", "-nolisten", "tcp"})) {
            close(fds[0]);
            close(fds[1]);
            return false;
        }
        close(fds[1]);
        pollfd p = {fds[0], POLLIN, 0};
        char c;
        while (poll(&p, 1, 15000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') display_ += c;
        close(fds[0]);
        if (display_.empty()) return false;
        display_ = ":" + display_;
        return true;
    }
    ~DummyXorg()
    {
        xorg_.signal(SIGTERM);
        if (xorg_.wait_exit(5000) == -1) xorg_.signal(SIGKILL);
        std::error_code ignored;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
    }
    const std::string &display() const { return display_; }
    // Runs xrandr on the server with these arguments; true when it succeeded.
    bool xrandr(const std::string &args) const
    {
        return system(("xrandr --display " + display_ + " " + args + " >/dev/null 2>&1").c_str()) == 0;
    }
    std::string log() const { return read_file(dir_ + "/Xorg.log"); }

private:
    Process xorg_;
    std::string dir_, display_;
};
