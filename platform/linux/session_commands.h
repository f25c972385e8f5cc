// The commands that set the saver up in a desktop session rather than run it: asking the desktop
// once for leave to photograph it, and the idle watcher that starts the saver. Internal to
// platform/linux (the entry) and its tests.
#pragma once

#include <string>

namespace platform {

// What the arguments ask of these commands: --allow-screenshots, or --idle SECONDS (whole
// arguments, anywhere). error holds a message when --idle comes without a usable number.
struct SessionCommand {
    enum Kind { none, allow_screenshots, idle };
    Kind kind = none;
    unsigned idle_seconds = 0;
    std::string error;
};
SessionCommand read_session_command(int argc, const char *const *argv);

// tidefold --allow-screenshots: asks the desktop portal, while the user is at the desktop, for
// the screenshots the saver later takes without asking. Prints what came of it; the exit status.
int allow_screenshots();

// tidefold --idle SECONDS: starts the full-screen saver whenever the session has been idle that
// long, until a termination signal. The exit status.
int watch_idle(unsigned seconds);

} // namespace platform
