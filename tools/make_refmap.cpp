// Draws the lighting map, resources/refmap.bmp: a slanted egg lit from the upper left, grey on
// black, 256x256, written as a 24-bit bottom-up BMP. Run by hand; its output is committed.
//
//     make_refmap resources/refmap.bmp
//
// The egg is a height field over an egg-shaped outline, shaded with a wrapped Lambert term and a
// broad Blinn highlight. A gentle fitted falloff and a correction made of small Gaussian bumps
// then pull a handful of reference points to the values the ripples were tuned against: the
// centre texel, sampled while the water is still, must stay 51.
#include "le_bytes.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

const int kSize = 256;
const double kPi = 3.14159265358979323846;

// The outline: an ellipse whose half-width grows towards the upper end (k) and whose midline bows
// towards the upper left (j), the two together giving the egg seen at a slant.
const double kCx = 105.5849, kCy = 136.4584; // centre
const double kA = 127.1479, kB = 91.3782;    // half-length and half-width
const double kTheta = 59.0232 * kPi / 180;   // long axis, from the x axis
const double kK = 0.08, kJ = -0.2905;

// Shading, fitted to the reference points below.
const double kLightAzimuth = 145.14 * kPi / 180; // from the x axis, so upper left
const double kLightElevation = 51.39 * kPi / 180;
const double kDepth = 0.999; // height at the centre, in half-widths
const double kDiffuse = 0.411, kWrap = 0.216, kSpecular = 0.325, kShininess = 36.83, kAmbient = 0.057;
const double kGamma = 1.3;
const double kFalloff[5] = {-0.029, 0.118, -0.053, -0.315, 0.186}; // u, v, uv, u^2, v^2

// Reference points: column, row (from the bottom), value.
struct Target {
    int x, y;
    double value;
};
const Target kTargets[] = {
    {128, 128, 51}, {105, 143, 75}, {67, 164, 202}, {12, 164, 113}, {36, 164, 120},
    {96, 164, 112}, {144, 164, 50}, {192, 164, 15}, {36, 60, 53},   {96, 60, 36},
    {144, 60, 6},   {36, 200, 119}, {144, 200, 60},
};
const int kTargetCount = sizeof kTargets / sizeof kTargets[0];
const double kBumpRadius = 14; // of the correction bumps, in pixels

const int kPeak = 202;
const double kKnee = 180;
const int kFringeFirstRow = 253; // above the egg's top, rows 253..255 get a faint glow of 1..4

// Long-axis and short-axis coordinates of (x, y), each in units of its half-axis.
void egg_coords(double x, double y, double *un, double *vn)
{
    double dx = x - kCx, dy = y - kCy;
    *un = (dx * cos(kTheta) + dy * sin(kTheta)) / kA;
    *vn = (-dx * sin(kTheta) + dy * cos(kTheta)) / kB;
}

// Below 1 inside the outline, 0 on the midline's centre, 1 on the outline.
double outline_level(double x, double y)
{
    double un, vn;
    egg_coords(x, y, &un, &vn);
    double across = (vn - kJ * (un * un - 0.5)) / (1 + kK * un);
    return un * un + across * across;
}

// Brightness 0..255 of the egg's surface at (x, y), or -1 outside it.
double surface(double x, double y)
{
    double g = outline_level(x, y);
    if (g >= 1) return -1;
    // Height z = depth * sqrt(1 - g); its normal is (depth * grad g, 2 sqrt(1 - g)) up to scale.
    const double e = 1e-3;
    double gx = (outline_level(x + e, y) - outline_level(x - e, y)) / (2 * e);
    double gy = (outline_level(x, y + e) - outline_level(x, y - e)) / (2 * e);
    double depth = kDepth * kB;
    double nx = depth * gx, ny = depth * gy, nz = 2 * sqrt(1 - g);
    double n = sqrt(nx * nx + ny * ny + nz * nz);
    nx /= n;
    ny /= n;
    nz /= n;

    double lx = cos(kLightElevation) * cos(kLightAzimuth);
    double ly = cos(kLightElevation) * sin(kLightAzimuth);
    double lz = sin(kLightElevation);
    double lambert = fmax(0.0, (nx * lx + ny * ly + nz * lz + kWrap) / (1 + kWrap));
    double hx = lx, hy = ly, hz = lz + 1; // half-way between the light and the viewer
    double h = sqrt(hx * hx + hy * hy + hz * hz);
    double highlight = pow(fmax(0.0, (nx * hx + ny * hy + nz * hz) / h), kShininess);

    double un, vn;
    egg_coords(x, y, &un, &vn);
    double falloff = exp(kFalloff[0] * un + kFalloff[1] * vn + kFalloff[2] * un * vn + kFalloff[3] * un * un +
                         kFalloff[4] * vn * vn);
    return 255 * pow(kAmbient + kDiffuse * lambert + kSpecular * highlight, kGamma) * falloff;
}

// The pixel's mean over a 4x4 grid of points within it, black outside the egg; also how much of
// the pixel the egg covers.
double pixel(int x, int y, double *coverage)
{
    double sum = 0;
    int inside = 0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double v = surface(x - 0.375 + 0.25 * i, y - 0.375 + 0.25 * j);
            if (v >= 0) {
                sum += v;
                inside++;
            }
        }
    *coverage = inside / 16.0;
    return sum / 16;
}

double bump(double dx, double dy) { return exp(-(dx * dx + dy * dy) / (2 * kBumpRadius * kBumpRadius)); }

// Solves a x = b in place by Gaussian elimination with partial pivoting.
void solve(std::vector<std::vector<double>> a, std::vector<double> &b)
{
    int n = (int)b.size();
    for (int c = 0; c < n; ++c) {
        int p = c;
        for (int r = c + 1; r < n; ++r)
            if (fabs(a[r][c]) > fabs(a[p][c])) p = r;
        std::swap(a[c], a[p]);
        std::swap(b[c], b[p]);
        for (int r = c + 1; r < n; ++r) {
            double f = a[r][c] / a[c][c];
            for (int k = c; k < n; ++k) a[r][k] -= f * a[c][k];
            b[r] -= f * b[c];
        }
    }
    for (int c = n - 1; c >= 0; --c) {
        for (int k = c + 1; k < n; ++k) b[c] -= a[c][k] * b[k];
        b[c] /= a[c][c];
    }
}

// Distance in pixels from (x, y), outside the egg, to its outline, estimated from the level.
double distance_outside(double x, double y)
{
    double g = outline_level(x, y);
    const double e = 1e-3;
    double gx = (outline_level(x + e, y) - outline_level(x - e, y)) / (2 * e);
    double gy = (outline_level(x, y + e) - outline_level(x, y - e)) / (2 * e);
    return (g - 1) / sqrt(gx * gx + gy * gy);
}

std::vector<uint8_t> draw()
{
    std::vector<double> value(kSize * kSize), coverage(kSize * kSize);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) value[y * kSize + x] = pixel(x, y, &coverage[y * kSize + x]);

    // Bumps whose sum makes up the difference at every reference point.
    std::vector<std::vector<double>> m(kTargetCount, std::vector<double>(kTargetCount));
    std::vector<double> w(kTargetCount);
    for (int i = 0; i < kTargetCount; ++i) {
        const Target &t = kTargets[i];
        w[i] = t.value - value[t.y * kSize + t.x];
        for (int j = 0; j < kTargetCount; ++j) m[i][j] = bump(t.x - kTargets[j].x, t.y - kTargets[j].y);
    }
    solve(m, w);

    double top = 0;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            double &v = value[y * kSize + x];
            for (int i = 0; i < kTargetCount; ++i)
                v += coverage[y * kSize + x] * w[i] * bump(x - kTargets[i].x, y - kTargets[i].y);
            top = fmax(top, v);
        }

    std::vector<uint8_t> grey(kSize * kSize);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            double v = value[y * kSize + x];
            // The brightest part of the highlight is eased down so that it tops out at the peak
            // value instead of being cut flat.
            if (top > kPeak && v > kKnee) v = kKnee + (v - kKnee) * (kPeak - kKnee) / (top - kKnee);
            if (y >= kFringeFirstRow && coverage[y * kSize + x] == 0) {
                double d = distance_outside(x, y);
                if (d < 3.5) v = fmin(4.0, 4.5 - d);
            }
            long q = lround(v);
            grey[y * kSize + x] = (uint8_t)(q < 0 ? 0 : q > kPeak ? kPeak : q);
        }
    // A black frame left and right, so that the clamped texture edge stays dark.
    for (int y = 0; y < kSize; ++y) grey[y * kSize] = grey[y * kSize + kSize - 1] = 0;
    return grey;
}

// A BITMAPFILEHEADER, a 40-byte BITMAPINFOHEADER and the rows bottom first, blue-green-red.
std::vector<uint8_t> bmp(const std::vector<uint8_t> &grey)
{
    const uint32_t pixels = kSize * kSize * 3, offset = 14 + 40;
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    put32(out, offset + pixels);
    put32(out, 0);
    put32(out, offset);
    put32(out, 40);
    put32(out, kSize);
    put32(out, kSize);
    put16(out, 1);
    put16(out, 24);
    for (int i = 0; i < 6; ++i) put32(out, 0); // BI_RGB, no size, resolution or colour table
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            for (int c = 0; c < 3; ++c) out.push_back(grey[y * kSize + x]);
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUT.bmp\n", argv[0]);
        return 2;
    }
    std::vector<uint8_t> grey = draw();
    std::vector<uint8_t> file = bmp(grey);
    FILE *f = fopen(argv[1], "wb");
    if (!f || fwrite(file.data(), 1, file.size(), f) != file.size() || fclose(f) != 0) {
        perror(argv[1]);
        return 1;
    }

    int zeros = 0, max = 0, max_x = 0, max_y = 0, x0 = kSize, x1 = -1, y0 = kSize, y1 = -1;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            int v = grey[y * kSize + x];
            if (v == 0) {
                zeros++;
                continue;
            }
            if (v > max) max = v, max_x = x, max_y = y;
            if (x < x0) x0 = x;
            if (x > x1) x1 = x;
            if (y < y0) y0 = y;
            if (y > y1) y1 = y;
        }
    printf("%s: %d zero pixels; non-zero columns %d..%d, rows %d..%d; peak %d at (%d, %d)\n", argv[1], zeros, x0, x1,
           y0, y1, max, max_x, max_y);
    for (const Target &t : kTargets) printf("  (%d, %d) %d\n", t.x, t.y, grey[t.y * kSize + t.x]);
    return 0;
}
