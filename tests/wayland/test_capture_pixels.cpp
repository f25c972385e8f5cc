// What a compositor copies into our buffer, turned into a photograph (blue, green, red, unused; rows top first).
#include <gtest/gtest.h>

#include <wayland-client.h>

#include "wayland/capture_internal.h"

namespace {

using wl::capture::photo_from_shm;

// A format by the lowest bit of each channel in its little-endian 32-bit pixel, and the bits a channel.
struct Format { uint32_t format; int red, green, blue, bits; };

const Format kFormats[] = {
    {WL_SHM_FORMAT_XRGB8888, 16, 8, 0, 8},     {WL_SHM_FORMAT_ARGB8888, 16, 8, 0, 8},
    {WL_SHM_FORMAT_XBGR8888, 0, 8, 16, 8},     {WL_SHM_FORMAT_ABGR8888, 0, 8, 16, 8},
    {WL_SHM_FORMAT_XRGB2101010, 20, 10, 0, 10}, {WL_SHM_FORMAT_ARGB2101010, 20, 10, 0, 10},
    {WL_SHM_FORMAT_XBGR2101010, 0, 10, 20, 10}, {WL_SHM_FORMAT_ABGR2101010, 0, 10, 20, 10},
};

// A 2 x 2 buffer with 12-byte rows (4 bytes of padding): top-left red, top-right green, bottom-left
// blue, bottom-right half grey; the unused or alpha bits all set.
std::vector<uint8_t> two_by_two(const Format &f, bool bottom_first)
{
    const uint32_t full = (1u << f.bits) - 1, half = 1u << (f.bits - 1);
    const uint32_t unused = ~((full << f.red) | (full << f.green) | (full << f.blue));
    const uint32_t pixels[4] = {full << f.red, full << f.green, full << f.blue,
                                half << f.red | half << f.green | half << f.blue};
    std::vector<uint8_t> buffer(24, 0xEE);
    for (int i = 0; i < 4; ++i) {
        const int row = bottom_first ? 1 - i / 2 : i / 2;
        const uint32_t word = pixels[i] | unused;
        for (int byte = 0; byte < 4; ++byte)
            buffer[row * 12 + (i % 2) * 4 + byte] = uint8_t(word >> (8 * byte));
    }
    return buffer;
}

TEST(CapturePixels, EveryReadableFormatAndRowOrderGivesBgrxTopFirst)
{
    const std::vector<uint8_t> expected = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 128, 128, 128, 0};
    for (const Format &f : kFormats)
        for (bool bottom_first : {false, true}) {
            SCOPED_TRACE(testing::Message() << "format " << std::hex << f.format << (bottom_first ? " y-inverted" : ""));
            wl::Photo photo;
            ASSERT_TRUE(photo_from_shm(two_by_two(f, bottom_first).data(), f.format, 2, 2, 12, bottom_first, &photo));
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
    EXPECT_FALSE(photo_from_shm(buffer.data(), WL_SHM_FORMAT_BGR888, 2, 2, 8, false, &photo));
    EXPECT_FALSE(photo_from_shm(buffer.data(), WL_SHM_FORMAT_XRGB8888, 2, 2, 7, false, &photo));
}

}
