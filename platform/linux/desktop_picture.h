// What the saver ripples when it copies from the desktop: the photograph of the screen where it
// may be had and shown, else a picture from elsewhere. Internal to platform/linux and its tests.
#pragma once

#include "bitmaps.h"

#include <string>

namespace platform {

// The picture source for this run: the --image switch's, else the stored image_path value; empty
// when neither is set.
std::string picture_source();

// Fills the block of dst at (x, y) with what the saver shows for the screen area from (x1, y1):
//   1. the picture source, if one is set;
//   2. when the xscreensaver daemon started us and its settings do not allow a photograph of the
//      screen (grabDesktopImages), a picture from its imageDirectory when chooseRandomImages
//      allows one, and never the photograph;
//   3. the photograph;
//   4. the wallpaper a desktop publishes;
//   5. the built-in picture.
// A source that fails leaves a line on stderr and the next one is tried; the last never fails.
void copy_desktop_picture(const DcRec &src, int x1, int y1, BitmapRec &dst, int x, int y, int cx, int cy);

} // namespace platform
