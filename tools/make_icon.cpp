// Draws the application icon, resources/tidefold.ico: a water drop, 32x32 and 16x16, 32-bit
// with alpha and a matching mask. Run by hand; its output is committed.
//
//     make_icon resources/tidefold.ico
#include "le_bytes.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

struct Rgba {
    double r, g, b, a;
};

// Half-width of the drop at height y (-1 bottom .. 1 tip): a teardrop, round below, pointed above.
double half_width(double y)
{
    if (y <= -1 || y >= 1) return 0;
    return sqrt(1 - y * y) * pow((1 - y) / 2, 0.75);
}

// Colour at (x, y) in drop units (x from the middle, y up), transparent outside.
Rgba drop(double x, double y)
{
    double w = half_width(y);
    if (fabs(x) >= w) return {0, 0, 0, 0};
    double across = x / w;     // -1..1 from edge to edge
    double down = (1 - y) / 2; // 0 at the tip, 1 at the bottom
    // Deeper blue towards the lower right, as if lit from the upper left.
    double shade = 0.55 + 0.35 * (1 - down) - 0.25 * across;
    Rgba c{0.10 * shade, 0.42 * shade + 0.08, 0.95 * shade + 0.05, 1};
    // A dark rim, one pixel or so wide at 32x32.
    double rim = fmin(w - fabs(x), fmin(y + 1, 1 - y) * 0.6);
    if (rim < 0.09) c = {0.02, 0.16, 0.42, 1};
    // A soft highlight on the upper left of the round part.
    double hx = (x + 0.28) / 0.16, hy = (y + 0.05) / 0.30;
    double glint = exp(-(hx * hx + hy * hy) * 1.5);
    c.r += (1 - c.r) * glint;
    c.g += (1 - c.g) * glint;
    c.b += (1 - c.b) * glint;
    return c;
}

// One size of the icon, rows bottom first, blue-green-red-alpha, with 8x8 samples a pixel.
std::vector<uint8_t> render(int size)
{
    std::vector<uint8_t> px(size * size * 4);
    const int n = 8;
    for (int row = 0; row < size; ++row)
        for (int col = 0; col < size; ++col) {
            Rgba sum{0, 0, 0, 0};
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < n; ++j) {
                    // The drop fills the square but for a small margin; y up from the bottom row.
                    double x = ((col + (i + 0.5) / n) / size - 0.5) * 2 / 0.82;
                    double y = ((row + (j + 0.5) / n) / size - 0.5) * 2 / 0.94;
                    Rgba c = drop(x, y);
                    sum.r += c.r * c.a, sum.g += c.g * c.a, sum.b += c.b * c.a, sum.a += c.a;
                }
            uint8_t *p = &px[(row * size + col) * 4];
            double a = sum.a / (n * n);
            if (a > 0) {
                p[0] = (uint8_t)lround(255 * sum.b / sum.a);
                p[1] = (uint8_t)lround(255 * sum.g / sum.a);
                p[2] = (uint8_t)lround(255 * sum.r / sum.a);
            }
            p[3] = (uint8_t)lround(255 * a);
        }
    return px;
}

// One icon image: a BITMAPINFOHEADER of twice the height, the colour pixels, then the 1-bit mask
// (set where transparent) in rows of whole 32-bit words.
std::vector<uint8_t> image(int size)
{
    std::vector<uint8_t> px = render(size);
    int mask_row = ((size + 31) / 32) * 4;
    std::vector<uint8_t> out;
    put32(out, 40);
    put32(out, size);
    put32(out, size * 2);
    put16(out, 1);
    put16(out, 32);
    put32(out, 0);
    put32(out, size * size * 4 + mask_row * size);
    for (int i = 0; i < 4; ++i) put32(out, 0);
    out.insert(out.end(), px.begin(), px.end());
    for (int row = 0; row < size; ++row) {
        std::vector<uint8_t> bits(mask_row, 0);
        for (int col = 0; col < size; ++col)
            if (px[(row * size + col) * 4 + 3] < 128) bits[col / 8] |= 0x80 >> (col % 8);
        out.insert(out.end(), bits.begin(), bits.end());
    }
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUT.ico\n", argv[0]);
        return 2;
    }
    const int sizes[] = {32, 16};
    std::vector<std::vector<uint8_t>> images;
    for (int s : sizes) images.push_back(image(s));

    std::vector<uint8_t> file;
    put16(file, 0);
    put16(file, 1); // icon
    put16(file, 2);
    uint32_t offset = 6 + 16 * 2;
    for (int i = 0; i < 2; ++i) {
        file.push_back((uint8_t)sizes[i]);
        file.push_back((uint8_t)sizes[i]);
        file.push_back(0); // no palette
        file.push_back(0);
        put16(file, 1);
        put16(file, 32);
        put32(file, (uint32_t)images[i].size());
        put32(file, offset);
        offset += (uint32_t)images[i].size();
    }
    for (const auto &img : images) file.insert(file.end(), img.begin(), img.end());

    FILE *f = fopen(argv[1], "wb");
    if (!f || fwrite(file.data(), 1, file.size(), f) != file.size() || fclose(f) != 0) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}
