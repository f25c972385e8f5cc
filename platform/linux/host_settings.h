// Settings a host passes on the command line for one run, as xscreensaver passes what its
// "Settings..." dialog shows: whole-argument switches such as --speed 5. Nothing is written.
// Internal to platform/linux and its tests.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct HostSettings {
    int speed = 0;         // --speed N, 1..30; 0 when not given
    int frequency = 0;     // --frequency N, 1..500
    int texture_size = 0;  // --texture-size N, a power of two from 64 to 2048
    int lighting = 0;      // --lighting 1, --no-lighting -1
    int desktop = 0;       // --no-desktop -1
    int double_buffer = 0; // --single-buffer -1
    int high_quality = 0;  // --low-quality -1
    bool fps = false;      // -fps: the frame rate and processor time in a corner
    std::string image;     // --image PATH, a picture file or a folder of them
    std::string error;     // the line to print for the first bad value; the value is not used
    std::vector<std::string> words; // the switches as given, values included
};

// Takes the switch at argv[*i] (with one dash or two) if it is one of ours, with the value after
// it, into out, and moves *i to the last argument taken. False, touching nothing, for any other
// argument.
bool take_host_switch(int argc, const char *const *argv, int *i, HostSettings *out);

// The settings of this run, set by the entry.
HostSettings &host_settings();

} // namespace platform
