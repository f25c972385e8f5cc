// Pictures the saver can ripple instead of a photograph of the screen: a picture file or a
// folder of them (decoded with GdkPixbuf), and a built-in picture of its own.
// Internal to platform/linux and its tests.
#pragma once

#include "bitmaps.h"

#include <string>
#include <vector>

namespace platform {

// Largest picture we decode, in pixels; a bigger one is refused before it is decoded.
extern const long long kMaxPicturePixels;

// Fills the w x h block of dst at (x, y) with the picture at path, or with one chosen at random
// from the folder at path (searched to the bottom), scaled to cover the block and centred. Only
// regular files holding PNG, JPEG, GIF, BMP, TIFF or WebP pictures are read. False, after one
// line on stderr for each picture that could not be used, when none could.
bool draw_picture_source(const std::string &path, BitmapRec &dst, int x, int y, int w, int h);

// The picture files under a folder, as draw_picture_source looks for them (sorted).
std::vector<std::string> pictures_in_folder(const std::string &folder);

// Fills the block with the saver's own picture: tiles under water, with detail everywhere for the
// ripples to bend. The same picture at the same size, every time.
void draw_builtin_picture(BitmapRec &dst, int x, int y, int w, int h);

} // namespace platform
