// The saver's own picture, for when there is nothing else to ripple: a tiled pool floor under
// deep water, lit by wavering bright bands. Its lines and bands make every ripple show.
#include "pictures.h"

#include <algorithm>
#include <cmath>

namespace platform {
namespace {

uint8_t channel(double v) { return uint8_t(std::clamp(v, 0.0, 255.0)); }

// Sine from a table: the picture takes two of them a pixel, and a screen has millions of pixels.
double table_sin(double x)
{
    const int kSteps = 4096;
    static double table[kSteps];
    static bool filled = false;
    if (!filled) {
        for (int i = 0; i < kSteps; i++) table[i] = std::sin(i * 2 * M_PI / kSteps);
        filled = true;
    }
    long i = std::lround(x * (kSteps / (2 * M_PI)));
    return table[((i % kSteps) + kSteps) % kSteps];
}

} // namespace

void draw_builtin_picture(BitmapRec &dst, int x, int y, int w, int h)
{
    if (w <= 0 || h <= 0) return;
    const int tile = std::max(24, std::min(w, h) / 10);
    const int grout = std::max(2, tile / 16);
    for (int j = std::max(0, -y); j < h && y + j < dst.height; j++) {
        double depth = double(j) / h; // 0 at the top, 1 at the bottom
        double r = 30 - 20 * depth, g = 120 - 70 * depth, b = 170 - 70 * depth;
        bool grout_row = j % tile < grout;
        double row_wave = 2.1 * table_sin(j * 0.029);
        for (int i = std::max(0, -x); i < w && x + i < dst.width; i++) {
            double light = table_sin(i * 0.043 + row_wave) * table_sin(j * 0.051 + 1.7 * table_sin(i * 0.023));
            double glow = light > 0.45 ? (light - 0.45) / 0.55 : 0.0;
            double pr = r + 70 * glow, pg = g + 90 * glow, pb = b + 70 * glow;
            if (grout_row || i % tile < grout) {
                pr = pr * 0.4 + 200 * 0.6;
                pg = pg * 0.4 + 225 * 0.6;
                pb = pb * 0.4 + 230 * 0.6;
            }
            dst.pixels[size_t(y + j) * dst.width + (x + i)] =
                (uint32_t(channel(pr)) << 16) | (uint32_t(channel(pg)) << 8) | channel(pb);
        }
    }
}

} // namespace platform
