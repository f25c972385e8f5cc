// Texture sizing and the device-picture to texture-picture copy (also built for Windows).
#include "ripple.h"
#include "ssaver.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct SizeCase {
    int screen_w, screen_h, setting, gl_max;
    int tex_w, tex_h, scaled;
};

class TextureSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(TextureSize, PowersOfTwoCappedBySettingAndGl)
{
    const SizeCase &c = GetParam();
    nScreenWidth = c.screen_w;
    nScreenHeight = c.screen_h;
    max_texture_size = c.setting;
    scaled_mode = 0;
    settle_texture_size(c.gl_max);
    EXPECT_EQ(nScreenWidth2, c.tex_w);
    EXPECT_EQ(nScreenHeight2, c.tex_h);
    EXPECT_EQ(scaled_mode, c.scaled);
    max_texture_size = 1024;
    scaled_mode = 0;
}

INSTANTIATE_TEST_SUITE_P(
    Screens, TextureSize,
    ::testing::Values(SizeCase{1024, 768, 1024, 8192, 1024, 1024, 0}, SizeCase{800, 600, 2048, 8192, 1024, 1024, 0},
                      SizeCase{1280, 1024, 1024, 8192, 1024, 1024, 1}, SizeCase{1280, 800, 1024, 8192, 1024, 1024, 1},
                      SizeCase{1024, 768, 64, 8192, 64, 64, 1}, SizeCase{1920, 1080, 2048, 8192, 2048, 2048, 0},
                      // Settings the dialog never offers come down to a power of two in range.
                      SizeCase{1280, 1024, 1500, 8192, 1024, 1024, 1}, SizeCase{1024, 768, 0, 8192, 64, 64, 1},
                      SizeCase{1024, 768, -4096, 8192, 64, 64, 1}, SizeCase{1024, 768, 100, 8192, 64, 64, 1},
                      // What the GL cannot take is capped to what it can.
                      SizeCase{3840, 2160, 2048, 1024, 1024, 1024, 1},
                      SizeCase{1024, 768, 1 << 30, 16384, 1024, 1024, 0}));

TEST(Genpow, SmallestPowerOfTwoAtLeastTheArgument)
{
    for (int v : {0, 1, -1, -1000}) EXPECT_EQ(genpow(v), 1) << v;
    for (int v : {640, 768, 800, 1024}) EXPECT_EQ(genpow(v), 1024) << v;
    for (int v : {1025, 1280}) EXPECT_EQ(genpow(v), 2048) << v;
    EXPECT_EQ(genpow(2), 2);
    EXPECT_EQ(genpow(3), 4);
    EXPECT_EQ(genpow(1 << 30), 1 << 30);
    EXPECT_EQ(genpow(0x7fffffff), 1 << 30) << "no overflow past the largest int power of two";
}

// A device picture with every pixel distinct: B = x, G = y, R = 0xA0 + row parity.
std::vector<unsigned char> device_picture(int w, int h)
{
    int stride = (w * 3 + 3) & ~3;
    std::vector<unsigned char> p((size_t)stride * h, 0xEE);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            unsigned char *px = &p[(size_t)y * stride + 3 * x];
            px[0] = (unsigned char)x;
            px[1] = (unsigned char)y;
            px[2] = (unsigned char)(0xA0 + (y & 1));
        }
    return p;
}

const unsigned char *texel(const std::vector<unsigned char> &t, int w, int x, int y) { return &t[3 * ((size_t)y * w + x)]; }

TEST(CopyAndReorder, SwapsBlueAndRedWithoutFlippingRows)
{
    scaled_mode = 0;
    unsigned char src[4] = {0x10, 0x20, 0x30, 0};
    unsigned char dst[3 * 4 * 4] = {};
    copy_and_reorder_image(dst, 4, 4, src, 1, 1);
    EXPECT_EQ(dst[0], 0x30);
    EXPECT_EQ(dst[1], 0x20);
    EXPECT_EQ(dst[2], 0x10);
}

TEST(CopyAndReorder, UnscaledSitsInTheBottomLeftCornerAndReadsPaddedRows)
{
    scaled_mode = 0;
    auto src = device_picture(3, 2);
    ASSERT_EQ(src.size(), 24u) << "row stride 12: 9 rounded up";
    std::vector<unsigned char> dst(4 * 4 * 3, 0x55);
    copy_and_reorder_image(dst.data(), 4, 4, src.data(), 3, 2);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++) {
            EXPECT_EQ(texel(dst, 4, x, y)[0], 0xA0 + (y & 1));
            EXPECT_EQ(texel(dst, 4, x, y)[1], y);
            EXPECT_EQ(texel(dst, 4, x, y)[2], x);
        }
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++)
            if (x >= 3 || y >= 2) {
                EXPECT_EQ(texel(dst, 4, x, y)[0], 0x55) << "texel " << x << "," << y << " untouched";
            }
}

TEST(CopyAndReorder, ScaledPicksNearestSourceByTruncatedProducts)
{
    scaled_mode = 1;
    auto src = device_picture(6, 3);
    std::vector<unsigned char> dst(4 * 2 * 3, 0);
    copy_and_reorder_image(dst.data(), 4, 2, src.data(), 6, 3);
    const int cols[4] = {0, 1, 3, 4};
    for (int j = 0; j < 2; j++)
        for (int i = 0; i < 4; i++) {
            EXPECT_EQ(texel(dst, 4, i, j)[2], cols[i]);
            EXPECT_EQ(texel(dst, 4, i, j)[1], j);
        }
    scaled_mode = 0;
}

TEST(CopyAndReorder, ScaledShrinkOfWideScreenTakesEveryFifthOfFourColumns)
{
    scaled_mode = 1;
    const int sw = 1280, sh = 4;
    int stride = sw * 3;
    std::vector<unsigned char> src((size_t)stride * sh);
    for (int y = 0; y < sh; y++)
        for (int x = 0; x < sw; x++) {
            src[(size_t)y * stride + 3 * x + 0] = (unsigned char)(x & 0xFF);
            src[(size_t)y * stride + 3 * x + 1] = (unsigned char)(x >> 8);
            src[(size_t)y * stride + 3 * x + 2] = (unsigned char)y;
        }
    std::vector<unsigned char> dst(1024 * 4 * 3);
    copy_and_reorder_image(dst.data(), 1024, 4, src.data(), sw, sh);
    auto source_column = [&](int i, int j) { return texel(dst, 1024, i, j)[2] | (texel(dst, 1024, i, j)[1] << 8); };
    EXPECT_EQ(source_column(1, 0), 1);
    EXPECT_EQ(source_column(4, 0), 5);
    EXPECT_EQ(source_column(1023, 3), 1278);
    EXPECT_EQ(texel(dst, 1024, 7, 3)[0], 3) << "rows map one to one";
    scaled_mode = 0;
}

TEST(CopyAndReorder, ScaledStretchOfShortScreenRepeatsRows)
{
    scaled_mode = 1;
    auto src = device_picture(4, 200);
    std::vector<unsigned char> dst(4 * 256 * 3);
    copy_and_reorder_image(dst.data(), 4, 256, src.data(), 4, 200);
    EXPECT_EQ(texel(dst, 4, 0, 255)[1], 255 * 200 / 256);
    EXPECT_EQ(texel(dst, 4, 0, 1)[1], 0);
    EXPECT_EQ(texel(dst, 4, 0, 2)[1], 1);
    scaled_mode = 0;
}

TEST(CopyAndReorder, SameSizeCopiesPixelForPixelInBothModes)
{
    auto src = device_picture(8, 8);
    std::vector<unsigned char> a(8 * 8 * 3), b(8 * 8 * 3);
    scaled_mode = 0;
    copy_and_reorder_image(a.data(), 8, 8, src.data(), 8, 8);
    scaled_mode = 1;
    copy_and_reorder_image(b.data(), 8, 8, src.data(), 8, 8);
    scaled_mode = 0;
    EXPECT_EQ(a, b);
}

TEST(CopyAndReorder, MissingBuffersAreNeverWrittenThrough)
{
    scaled_mode = 0;
    unsigned char dst[12] = {};
    copy_and_reorder_image(dst, 2, 2, nullptr, 2, 2);
    copy_and_reorder_image(nullptr, 2, 2, dst, 2, 2);
    for (unsigned char b : dst) EXPECT_EQ(b, 0);
}

} // namespace
