// Running inside a window that another program hands over (the X screen saver daemons' way of
// starting a display mode). Internal to platform/linux
// and its tests; the program itself sees only win32.h.
#pragma once

#include "x11.h"

#include <string>

namespace x11 {

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
