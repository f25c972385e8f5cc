// The pictures the program carries: the lighting map (format, the lit egg it shows, and the values
// the ripples were tuned against) and the application icon.
#include "resources.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

const int kSize = 256;

class Refmap : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(find_resource(MAKEINTRESOURCEA(RT_BITMAP_ID), "refmap", &data_, &size_));
        ASSERT_GE(size_, sizeof(BITMAPINFOHEADER));
        memcpy(&header_, data_, sizeof header_);
    }
    // Pixel (x, y), column from the left and row from the bottom, as blue, green, red.
    const BYTE *at(int x, int y) const { return data_ + header_.biSize + 3 * (y * kSize + x); }
    int value(int x, int y) const { return at(x, y)[0]; }

    const BYTE *data_ = nullptr;
    DWORD size_ = 0;
    BITMAPINFOHEADER header_;
};

TEST_F(Refmap, IsA256SquareBottomUp24BitBitmapWithoutColourTable)
{
    EXPECT_EQ(header_.biSize, 40u);
    EXPECT_EQ(header_.biWidth, kSize);
    EXPECT_EQ(header_.biHeight, kSize);
    EXPECT_EQ(header_.biBitCount, 24);
    EXPECT_EQ(header_.biCompression, (DWORD)BI_RGB);
    EXPECT_EQ(header_.biClrUsed, 0u);
    EXPECT_EQ(size_, 40u + kSize * kSize * 3) << "768-byte rows need no padding";
}

TEST_F(Refmap, EveryPixelIsGreyAndTheHighlightPeaksAt202NearTheUpperLeft)
{
    int max = -1, max_x = 0, max_y = 0;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const BYTE *p = at(x, y);
            ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]) << "(" << x << ", " << y << ")";
            if (p[0] > max) max = p[0], max_x = x, max_y = y;
        }
    EXPECT_EQ(max, 202);
    EXPECT_LE(abs(max_x - 67) + abs(max_y - 164), 8) << "peak at (" << max_x << ", " << max_y << ")";
}

TEST_F(Refmap, ReferencePointsHoldTheirValues)
{
    struct Sample {
        int x, y, value, tolerance;
    };
    const Sample samples[] = {
        // Every vertex samples the centre texel while no ripple runs: the still picture's brightness.
        {128, 128, 51, 2},
        {105, 143, 75, 6}, {12, 164, 113, 6}, {36, 164, 120, 6}, {96, 164, 112, 6}, {144, 164, 50, 6},
        {192, 164, 15, 6}, {216, 164, 0, 0},  {36, 60, 53, 6},   {96, 60, 36, 6},   {144, 60, 6, 6},
        {36, 200, 119, 6}, {144, 200, 60, 6},
    };
    for (const Sample &s : samples)
        EXPECT_NEAR(value(s.x, s.y), s.value, s.tolerance) << "(" << s.x << ", " << s.y << ")";
    // Between them the shading falls without a bump from the highlight to the dark right rim.
    for (int x = 70; x < 216; ++x) EXPECT_LE(value(x + 1, 164), value(x, 164) + 1) << "column " << x;
}

TEST_F(Refmap, TheEggSitsOnBlackWithAFaintFringeAtTheTop)
{
    int zeros = 0, fringe = 0, x0 = kSize, x1 = -1, y0 = kSize, y1 = -1;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            int v = value(x, y);
            bool border = x == 0 || x == kSize - 1 || y <= 13;
            ASSERT_TRUE(border ? v == 0 : y < 253 || v <= 4) << v << " at (" << x << ", " << y << ")";
            if (y >= 253) fringe += v > 0;
            if (v == 0) zeros++;
            else x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = y;
        }
    EXPECT_NEAR(zeros, 28690, 28690 * 3 / 100);
    EXPECT_NEAR(x0, 2, 1);
    EXPECT_NEAR(x1, 211, 2);
    EXPECT_NEAR(y0, 14, 1);
    EXPECT_EQ(y1, 255);
    EXPECT_GT(fringe, 0);
}

TEST(AppIcon, GroupHoldsA32And16PixelImageWithAlpha)
{
    const BYTE *group = nullptr;
    DWORD group_size = 0;
    ASSERT_TRUE(find_resource(MAKEINTRESOURCEA(RT_GROUP_ICON_ID), "tidefold", &group, &group_size));
    ASSERT_EQ(group_size, 6u + 14u * 2);
    ASSERT_EQ(group[4] | (group[5] << 8), 2);
    const int sizes[] = {32, 16};
    for (int i = 0; i < 2; ++i) {
        const BYTE *e = group + 6 + 14 * i;
        EXPECT_EQ(e[0], sizes[i]);
        EXPECT_EQ(e[6] | (e[7] << 8), 32) << "bits of image " << i;
        const BYTE *img = nullptr;
        DWORD img_size = 0;
        WORD id = (WORD)(e[12] | (e[13] << 8));
        ASSERT_TRUE(find_resource(MAKEINTRESOURCEA(RT_ICON_ID), MAKEINTRESOURCEA(id), &img, &img_size)) << id;
        BITMAPINFOHEADER h;
        ASSERT_GE(img_size, sizeof h);
        memcpy(&h, img, sizeof h);
        EXPECT_EQ(h.biWidth, sizes[i]);
        EXPECT_EQ(h.biHeight, 2 * sizes[i]) << "colour pixels and mask";
        EXPECT_EQ(h.biBitCount, 32);
        EXPECT_EQ(img_size, 40u + sizes[i] * sizes[i] * 4 + 4 * sizes[i]) << "one 4-byte mask row per line";
    }
}

} // namespace
