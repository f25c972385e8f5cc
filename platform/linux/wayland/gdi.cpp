// The desktop DC on Wayland: a copy from it photographs the output under the area asked for
// (capture.cpp finds the way the compositor allows), scaled to the size asked for when the output
// has more pixels than layout units. False where no photograph can be had.
#include "wayland.h"

#include <algorithm>

namespace wl {
namespace {

// Nearest-neighbour copy of the photograph's area (sx, sy, w, h in layout units from the output's
// corner) into the bitmap block at (dx, dy), clipped to the bitmap.
void copy_photo(const Photo &photo, const Output &o, int sx, int sy, BitmapRec &dst, int dx, int dy, int w, int h)
{
    double fx = o.width > 0 ? double(photo.width) / o.width : 1.0;
    double fy = o.height > 0 ? double(photo.height) / o.height : 1.0;
    for (int y = std::max(0, -dy); y < h && dy + y < dst.height; y++) {
        int py = int((sy + y) * fy);
        if (py < 0 || py >= photo.height) continue;
        for (int x = std::max(0, -dx); x < w && dx + x < dst.width; x++) {
            int px = int((sx + x) * fx);
            if (px < 0 || px >= photo.width) continue;
            const uint8_t *p = &photo.pixels[(size_t(py) * photo.width + px) * 4];
            dst.pixels[size_t(dy + y) * dst.width + (dx + x)] = (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
        }
    }
}

void fill_black(BitmapRec &dst, int dx, int dy, int w, int h)
{
    for (int y = std::max(0, dy); y < std::min(dst.height, dy + h); y++)
        for (int x = std::max(0, dx); x < std::min(dst.width, dx + w); x++) dst.pixels[size_t(y) * dst.width + x] = 0;
}

bool photograph_area(int x, int y, BitmapRec &dst, int dx, int dy, int w, int h)
{
    Connection *c = connection();
    Output *o = output_at(x, y);
    fill_black(dst, dx, dy, w, h);
    if (!c || !o) return false;
    Photo photo;
    if (!photograph_output(c->capture, o->output, o->x, o->y, o->width, o->height, &photo)) return false;
    copy_photo(photo, *o, x - o->x, y - o->y, dst, dx, dy, w, h);
    return true;
}

} // namespace

// A window's own contents are what the program drew there; only the desktop is photographed.
bool copy_from_screen(const DcRec &src, int x1, int y1, BitmapRec &dst, int x, int y, int cx, int cy)
{
    return !src.hwnd && photograph_area(x1, y1, dst, x, y, cx, cy);
}

namespace api {

int WINAPI GetDeviceCaps(HDC hdc, int index)
{
    if (!find_dc(hdc)) return 0;
    return index == BITSPIXEL ? 24 : 0;
}

} // namespace api
} // namespace wl
