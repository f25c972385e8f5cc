// What a compositor copies into our buffer, turned into a photograph (blue, green, red, unused; rows top first).
#include <gtest/gtest.h>

#include <wayland-client.h>

#include "wayland/capture_internal.h"

namespace {

using wl::capture::photo_from_shm;

// A 2 x 2 buffer with 12-byte rows (4 bytes of padding): top-left red, top-right green,
// bottom-left blue, bottom-right white, each written in the byte order of format.
std::vector<uint8_t> two_by_two(uint32_t format, bool bottom_first)
{
    const bool red_first = format == WL_SHM_FORMAT_XBGR8888 || format == WL_SHM_FORMAT_ABGR8888;
    const uint8_t rgb[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    std::vector<uint8_t> buffer(24, 0xEE);
    for (int i = 0; i < 4; ++i) {
        const int row = bottom_first ? 1 - i / 2 : i / 2;
        uint8_t *p = &buffer[row * 12 + (i % 2) * 4];
        p[0] = red_first ? rgb[i][0] : rgb[i][2];
        p[1] = rgb[i][1];
        p[2] = red_first ? rgb[i][2] : rgb[i][0];
        p[3] = 0x80;
    }
    return buffer;
}

TEST(CapturePixels, EveryOfferedFormatAndRowOrderGivesBgrxTopFirst)
{
    const std::vector<uint8_t> expected = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0};
    for (uint32_t format : {WL_SHM_FORMAT_XRGB8888, WL_SHM_FORMAT_ARGB8888, WL_SHM_FORMAT_XBGR8888,
                            WL_SHM_FORMAT_ABGR8888})
        for (bool bottom_first : {false, true}) {
            SCOPED_TRACE(testing::Message() << "format " << std::hex << format << (bottom_first ? " y-inverted" : ""));
            wl::Photo photo;
            ASSERT_TRUE(photo_from_shm(two_by_two(format, bottom_first).data(), format, 2, 2, 12, bottom_first, &photo));
            EXPECT_EQ(photo.width, 2);
            EXPECT_EQ(photo.height, 2);
            EXPECT_EQ(photo.pixels, expected);
        }
}

TEST(CapturePixels, UnreadableFormatsAndShortStridesAreRefused)
{
    const std::vector<uint8_t> buffer(64, 0);
    wl::Photo photo;
    EXPECT_FALSE(photo_from_shm(buffer.data(), WL_SHM_FORMAT_RGB565, 2, 2, 8, false, &photo));
    EXPECT_FALSE(photo_from_shm(buffer.data(), WL_SHM_FORMAT_XRGB2101010, 2, 2, 8, false, &photo));
    EXPECT_FALSE(photo_from_shm(buffer.data(), WL_SHM_FORMAT_XRGB8888, 2, 2, 7, false, &photo));
}

}
