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

TEST_F(Refmap, IsA256SquareUncompressed24BitBitmapWithoutColourTable)
{
    EXPECT_EQ(header_.biSize, 40u);
    EXPECT_EQ(header_.biWidth, kSize);
    EXPECT_EQ(header_.biHeight, kSize); // positive: rows bottom first
    EXPECT_EQ(header_.biPlanes, 1);
    EXPECT_EQ(header_.biBitCount, 24);
    EXPECT_EQ(header_.biCompression, (DWORD)BI_RGB);
    EXPECT_EQ(header_.biClrUsed, 0u);
    // 768 bytes a row need no padding: the pixels follow the header and fill the rest.
    EXPECT_EQ(size_, 40u + kSize * kSize * 3);
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
}

TEST_F(Refmap, TheEggSitsOnBlackWithAFaintFringeAtTheTop)
{
    int zeros = 0, x0 = kSize, x1 = -1, y0 = kSize, y1 = -1;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            if (value(x, y) == 0) {
                zeros++;
                continue;
            }
            x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
        }
    EXPECT_NEAR(zeros, 28690, 28690 * 3 / 100);
    EXPECT_NEAR(x0, 2, 1);
    EXPECT_NEAR(x1, 211, 2);
    EXPECT_NEAR(y0, 14, 1);
    EXPECT_EQ(y1, 255);

    for (int y = 0; y < kSize; ++y) {
        EXPECT_EQ(value(0, y), 0) << "row " << y;
        EXPECT_EQ(value(kSize - 1, y), 0) << "row " << y;
    }
    for (int y = 0; y <= 13; ++y)
        for (int x = 0; x < kSize; ++x) ASSERT_EQ(value(x, y), 0) << "(" << x << ", " << y << ")";
    int fringe = 0;
    for (int y = 253; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            ASSERT_LE(value(x, y), 4) << "(" << x << ", " << y << ")";
            fringe += value(x, y) > 0;
        }
    EXPECT_GT(fringe, 0);
}

// The shading is smooth: from the highlight it falls without a bump to the dark lower-right rim,
// and the upper-left rim stays lit.
TEST_F(Refmap, BrightnessFallsSteadilyFromTheHighlightToTheLowerRightRim)
{
    // Along row 164 from the highlight to the right edge, and from the centre down and right.
    for (int x = 70; x < 216; ++x) EXPECT_LE(value(x + 1, 164), value(x, 164) + 1) << "column " << x;
    int previous = value(105, 143);
    int last_inside = 0;
    for (int step = 1; step < 120; ++step) {
        int x = 105 + step * 857 / 1000, y = 143 - step * 515 / 1000;
        int v = value(x, y);
        EXPECT_LE(v, previous + 1) << "(" << x << ", " << y << ")";
        if (v > 0) last_inside = v;
        previous = v;
    }
    EXPECT_LE(last_inside, 8);

    // Just inside the upper-left rim, a few pixels in from the first lit pixel of rows 150..200.
    for (int y = 150; y <= 200; y += 10) {
        int x = 0;
        while (value(x, y) == 0) ++x;
        EXPECT_GE(value(x + 4, y), 100) << "row " << y;
        EXPECT_LE(value(x + 4, y), 125) << "row " << y;
    }
}

// The icon group names a 32x32 and a 16x16 image, each a 32-bit icon image of its own.
TEST(AppIcon, GroupHoldsA32And16PixelImageWithAlpha)
{
    const BYTE *group = nullptr;
    DWORD group_size = 0;
    ASSERT_TRUE(find_resource(MAKEINTRESOURCEA(RT_GROUP_ICON_ID), "tidefold", &group, &group_size));
    ASSERT_GE(group_size, 6u);
    int count = group[4] | (group[5] << 8);
    ASSERT_EQ(count, 2);
    ASSERT_GE(group_size, 6u + 14u * count);
    int sizes[2];
    for (int i = 0; i < count; ++i) {
        const BYTE *e = group + 6 + 14 * i;
        sizes[i] = e[0];
        EXPECT_EQ(e[6] | (e[7] << 8), 32) << "bits of image " << i;
        WORD id = (WORD)(e[12] | (e[13] << 8));
        const BYTE *img = nullptr;
        DWORD img_size = 0;
        ASSERT_TRUE(find_resource(MAKEINTRESOURCEA(RT_ICON_ID), MAKEINTRESOURCEA(id), &img, &img_size)) << id;
        BITMAPINFOHEADER h;
        ASSERT_GE(img_size, sizeof h);
        memcpy(&h, img, sizeof h);
        EXPECT_EQ(h.biWidth, sizes[i]);
        EXPECT_EQ(h.biHeight, 2 * sizes[i]); // colour pixels and mask
        EXPECT_EQ(h.biBitCount, 32);
        int mask_row = ((sizes[i] + 31) / 32) * 4;
        EXPECT_EQ(img_size, 40u + sizes[i] * sizes[i] * 4 + mask_row * sizes[i]);
    }
    EXPECT_EQ(sizes[0], 32);
    EXPECT_EQ(sizes[1], 16);
}

} // namespace
