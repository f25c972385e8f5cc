#include "picture.h"

#include <cstdlib>

std::vector<unsigned> known_desktop(int width, int height)
{
    std::vector<unsigned> p((size_t)width * height);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            unsigned r = (unsigned)(x * 255 / (width - 1));
            unsigned g = (unsigned)(y * 255 / (height - 1));
            unsigned b = ((x / 16 + y / 16) & 1) ? 220 : 40;
            if ((x % 64) < 3 || (y % 64) < 3) r = g = b = 250;
            p[(size_t)y * width + x] = (r << 16) | (g << 8) | b;
        }
    return p;
}

double Picture::mean_brightness() const
{
    double sum = 0;
    for (unsigned v : pixels) sum += ((v >> 16) & 255) + ((v >> 8) & 255) + (v & 255);
    return pixels.empty() ? 0 : sum / (3.0 * pixels.size());
}

double Picture::mean_difference(const Picture &other) const
{
    double sum = 0;
    for (size_t i = 0; i < pixels.size() && i < other.pixels.size(); i++)
        for (int s = 0; s < 24; s += 8) sum += std::abs((int)((pixels[i] >> s) & 255) - (int)((other.pixels[i] >> s) & 255));
    return pixels.empty() ? 0 : sum / (3.0 * pixels.size());
}

double Picture::black_fraction() const
{
    size_t dark = 0;
    for (unsigned v : pixels)
        if (((v >> 16) & 255) < 8 && ((v >> 8) & 255) < 8 && (v & 255) < 8) dark++;
    return pixels.empty() ? 1 : (double)dark / pixels.size();
}

double Picture::fraction_near(unsigned rgb) const
{
    size_t near = 0;
    for (unsigned v : pixels) {
        bool close = true;
        for (int s = 0; s < 24; s += 8) close = close && std::abs((int)((v >> s) & 255) - (int)((rgb >> s) & 255)) <= 24;
        near += close;
    }
    return pixels.empty() ? 0 : (double)near / pixels.size();
}

double Picture::channel_mean(int shift, int x0, int x1, int y0, int y1) const
{
    double sum = 0;
    long n = 0;
    for (int y = y0; y < y1 && y < height; y++)
        for (int x = x0; x < x1 && x < width; x++, n++) sum += (pixels[(size_t)y * width + x] >> shift) & 255;
    return n ? sum / n : 0;
}
