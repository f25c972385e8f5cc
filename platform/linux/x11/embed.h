// Running inside a window that another program hands over (the X screen saver daemons' way of
// starting a display mode). Internal to platform/linux
// and its tests; the program itself sees only win32.h.
#pragma once

#include "host_settings.h"
#include "x11.h"

#include <string>

namespace x11 {

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
    platform::HostSettings host; // the host's switches (--speed N and the like), taken out too
};
// root_window is asked for only when --root comes without a usable $XSCREENSAVER_WINDOW.
EntryArguments read_entry_arguments(int argc, const char *const *argv, const char *xscreensaver_window,
                                    unsigned long (*root_window)());

// A window id written as 0x-prefixed hex or as decimal, whole and within 32 bits, not 0.
bool parse_window_id(const char *text, unsigned long *id);

// Makes the run draw inside target: the child created there selects no input (so the owner of
// the target keeps getting it), sets no cursor, grabs nothing and follows the target's size; the
// screen size is the target's, and the desktop picture is what lay under it. 0 ends embedding.
void embed_into(Window target);
Window embed_target();
// The target's size, or false when it cannot be read.
bool embed_target_size(int *width, int *height);
// The target's top-left corner on the screen.
bool embed_target_origin(int *x, int *y);
// The screenshot a screen saver daemon left on the target (or on the root) before blanking, and
// where the target's area starts inside it. False when there is none.
bool embed_screenshot(Pixmap *pixmap, int *x, int *y);
// The wallpaper a desktop published on the root, and where the saver's area (the target's, when
// embedded) starts inside it. False when none is published.
bool desktop_wallpaper(Pixmap *pixmap, int *x, int *y);
// Whether the target is a window of the xscreensaver daemon or lies in its settings dialog (the
// preview): both leave a screenshot whatever the user allowed display modes to show.
bool embed_started_by_xscreensaver();
// Asks for the target's size changes, so our window inside can follow them.
void embed_watch_target();


} // namespace x11
