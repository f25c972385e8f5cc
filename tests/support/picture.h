// Pictures the end-to-end tests compare: the known desktop they show under the program, what the
// screen shows, and the measures that tell which part of the known desktop a rippling picture shows.
#pragma once

#include <cstddef>
#include <vector>

// The known desktop: a colourful picture with detail everywhere, 0xRRGGBB rows top first.
std::vector<unsigned> known_desktop(int width, int height);

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned> pixels; // 0xRRGGBB, rows top first

    double mean_brightness() const;                    // 0..255 over all channels
    double mean_difference(const Picture &other) const; // mean absolute channel difference
    double black_fraction() const;                      // pixels darker than 8 on every channel
    double fraction_near(unsigned rgb) const;           // pixels within 24 of rgb on every channel
    // Mean of one channel (bit shift 16 red, 8 green, 0 blue) over columns x0..x1-1, rows y0..y1-1.
    double channel_mean(int shift, int x0, int x1, int y0, int y1) const;
};

inline Picture known_picture(int w, int h)
{
    Picture p;
    p.width = w;
    p.height = h;
    p.pixels = known_desktop(w, h);
    return p;
}

inline Picture crop(const Picture &p, int x, int y, int w, int h)
{
    Picture c;
    c.width = w;
    c.height = h;
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++) c.pixels.push_back(p.pixels[(size_t)(y + j) * p.width + x + i]);
    return c;
}

// Measures over the middle of a picture, away from the edges where ripples pull in the black
// beyond the texture's picture. The known desktop's red grows to the right and its green
// downwards, so the means tell where on it a picture lies, and how much red grows from the left
// half to the right half (green from the top half to the bottom) tells at what scale.
inline Picture middle(const Picture &p) { return crop(p, p.width * 15 / 100, p.height * 15 / 100, p.width * 7 / 10, p.height * 7 / 10); }
inline double mean(const Picture &p, int shift) { return p.channel_mean(shift, 0, p.width, 0, p.height); }
inline double red_across(const Picture &p) { return p.channel_mean(16, p.width / 2, p.width, 0, p.height) - p.channel_mean(16, 0, p.width / 2, 0, p.height); }
inline double green_down(const Picture &p) { return p.channel_mean(8, 0, p.width, p.height / 2, p.height) - p.channel_mean(8, 0, p.width, 0, p.height / 2); }
