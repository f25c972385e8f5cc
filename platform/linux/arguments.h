// The program's arguments as main reads them: the X screen saver daemons' words, the host's
// switches and the requests for a text. Internal to platform/linux and its tests.
#pragma once

#include "host_settings.h"

#include <string>

namespace platform {

// What main makes of its arguments. The whole words --root / -root and --window-id ID /
// -window-id ID are taken out; everything else goes to WinMain unchanged, joined by single
// blanks. With one of those words, "/p <decimal id>" follows the rest, so the embedded run is a
// preview inside that window whatever other switches came with it.
// --help / -h and --version, also whole arguments only, ask for a text instead of a run. The host's
// switches (host_settings.h), whole arguments with the value after them, are taken out as well.
struct EntryArguments {
    enum Request { run, help, version };
    std::string command_line;
    bool embedded = false;
    unsigned long window = 0; // the window to draw into; 0 when the id given names none
    Request request = run;    // the first of --help / -h / --version given, if any
    HostSettings host;        // the host's switches (--speed N and the like), taken out too
};
// root_window is asked for only when --root comes without a usable $XSCREENSAVER_WINDOW.
EntryArguments read_entry_arguments(int argc, const char *const *argv, const char *xscreensaver_window,
                                    unsigned long (*root_window)());

// A window id written as 0x-prefixed hex or as decimal, whole and within 32 bits, not 0.
bool parse_window_id(const char *text, unsigned long *id);

} // namespace platform
