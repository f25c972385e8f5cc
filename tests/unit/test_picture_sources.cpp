// The pictures that stand in for a photograph of the screen on Linux: picture files and folders,
// whatever a path holds, and the built-in picture.
#include "pictures.h"
#include "ripple.h"
#include "test_registry_support.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <vector>

namespace {

// A picture source fills the whole block, scaled to cover it, or fails with one line on stderr per
// picture tried and leaves the block as it was: whatever the path holds, nothing hangs and nothing
// is decoded past the size cap.
struct SourceCase {
    const char *name;
    std::function<std::string(const std::string &dir)> make; // makes the source in dir, gives its path
    unsigned colour;                                          // the block's colour after, 0 when it must fail
    int warnings;
    const char *says = ""; // what the warning must say
};

const unsigned kUntouched = 0x123456;

std::string save_flat(const std::string &path, const char *type, unsigned rgb, int w = 40, int h = 20)
{
    GdkPixbuf *p = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
    gdk_pixbuf_fill(p, rgb << 8 | 0xff);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    gdk_pixbuf_save(p, path.c_str(), type, nullptr, nullptr);
    g_object_unref(p);
    return path;
}

uint32_t crc32_of(const std::string &bytes)
{
    uint32_t c = 0xffffffffu;
    for (unsigned char b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1)));
    }
    return ~c;
}

std::string be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// A PNG whose header claims 40000 x 40000 pixels (6 GB decoded), followed by a little data.
std::string huge_png(const std::string &path)
{
    std::string ihdr = "IHDR" + be32(40000) + be32(40000) + std::string("\x08\x02\x00\x00\x00", 5);
    std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + ihdr + be32(crc32_of(ihdr));
    std::string idat = "IDAT" + std::string(4096, '\0');
    png += be32(4096) + idat + be32(crc32_of(idat));
    std::ofstream(path, std::ios::binary) << png;
    return path;
}

// A GIF whose screen and only image claim 40000 x 40000 pixels.
std::string huge_gif(const std::string &path)
{
    const std::string size = "\x40\x9c\x40\x9c";
    std::string gif = "GIF89a" + size + std::string("\x80\x00\x00", 3) + std::string(6, '\x7f') + "\x2c" +
                      std::string(4, '\0') + size + std::string("\x00\x02\x02\x4c\x01\x00\x3b", 7);
    std::ofstream(path, std::ios::binary) << gif;
    return path;
}

class PictureSource : public TempConfigHome, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(PictureSource, CoversTheBlockOrWarnsOncePerPictureAndLeavesIt)
{
    const SourceCase &c = GetParam();
    std::string path = c.make(home());
    ChildRun run = run_bounded([&] {
        platform::BitmapRec bm;
        bm.width = 64;
        bm.height = 48;
        bm.pixels.assign(64 * 48, kUntouched);
        OutputCapture capture;
        bool drawn = platform::draw_picture_source(path, bm, 0, 0, 64, 48);
        std::string said = capture.finish();
        int off = 0;
        for (unsigned p : bm.pixels) {
            unsigned want = drawn ? c.colour : kUntouched;
            for (int shift : {0, 8, 16}) off += std::abs(int((p >> shift) & 0xff) - int((want >> shift) & 0xff)) > 12;
        }
        return std::string(drawn ? "drawn" : "failed") + " " + std::to_string(off) + "\n" + said;
    });
    ASSERT_EQ(run.status, 0) << "the picture source hung, crashed or took too much memory";
    std::istringstream out(run.output);
    std::string result;
    int off = -1;
    out >> result >> off;
    EXPECT_EQ(result, c.colour ? "drawn" : "failed") << run.output;
    EXPECT_EQ(off, 0) << "pixels not of the picture's colour, or touched by a failed source";
    int lines = 0;
    for (std::string line; std::getline(out, line);)
        if (!line.empty()) {
            EXPECT_EQ(line.rfind("tidefold: ", 0), 0u) << line;
            lines++;
        }
    EXPECT_EQ(lines, c.warnings) << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PictureSource,
    ::testing::Values(
        SourceCase{"Png", [](const std::string &d) { return save_flat(d + "/red.png", "png", 0xd02020); }, 0xd02020, 0},
        SourceCase{"Jpeg", [](const std::string &d) { return save_flat(d + "/green.jpg", "jpeg", 0x20c040); }, 0x20c040,
                   0},
        SourceCase{"PngWithAJpegName",
                   [](const std::string &d) { return save_flat(d + "/blue.jpg", "png", 0x2040d0); }, 0x2040d0, 0},
        SourceCase{"FolderWithAPictureDeepDown",
                   [](const std::string &d) {
                       std::ofstream(d + "/notes.txt") << "not a picture";
                       save_flat(d + "/pics/2024/june/lake.PNG", "png", 0xe0a010);
                       return d;
                   },
                   0xe0a010, 0},
        SourceCase{"FolderWhosePicturesAreAllBroken",
                   [](const std::string &d) {
                       std::ofstream(d + "/a.png") << "text";
                       std::ofstream(d + "/b.jpeg") << "";
                       return d;
                   },
                   0, 3},
        SourceCase{"EmptyFolder", [](const std::string &d) { return d; }, 0, 1},
        SourceCase{"Missing", [](const std::string &d) { return d + "/no such.png"; }, 0, 1},
        SourceCase{"TextFile",
                   [](const std::string &d) {
                       std::ofstream(d + "/a.png") << "hello\n";
                       return d + "/a.png";
                   },
                   0, 1},
        SourceCase{"EmptyFile",
                   [](const std::string &d) {
                       std::ofstream(d + "/a.png");
                       return d + "/a.png";
                   },
                   0, 1},
        SourceCase{"Fifo",
                   [](const std::string &d) {
                       mkfifo((d + "/pipe.png").c_str(), 0600);
                       return d + "/pipe.png";
                   },
                   0, 1, "not a regular file"},
        SourceCase{"Device", [](const std::string &) { return std::string("/dev/zero"); }, 0, 1, "not a regular file"},
        SourceCase{"HugePicture", [](const std::string &d) { return huge_png(d + "/huge.png"); }, 0, 1, "too large"},
        SourceCase{"HugeGif", [](const std::string &d) { return huge_gif(d + "/huge.gif"); }, 0, 1, "too large"}),
    [](const ::testing::TestParamInfo<SourceCase> &info) { return std::string(info.param.name); });

// The saver's own picture has detail everywhere and is never black.
TEST(BuiltinPicture, IsBrightEnoughAndBusyInEveryPart)
{
    platform::BitmapRec bm;
    bm.width = 320;
    bm.height = 200;
    bm.pixels.assign(320 * 200, 0);
    platform::draw_builtin_picture(bm, 0, 0, 320, 200);
    for (int part = 0; part < 4; part++) {
        int x0 = (part % 2) * 160, y0 = (part / 2) * 100;
        double sum = 0;
        std::set<unsigned> colours;
        for (int y = y0; y < y0 + 100; y++)
            for (int x = x0; x < x0 + 160; x++) {
                unsigned p = bm.pixels[size_t(y) * 320 + x];
                sum += ((p >> 16) & 0xff) + ((p >> 8) & 0xff) + (p & 0xff);
                colours.insert(p);
            }
        EXPECT_GT(sum / (160 * 100 * 3), 40) << "part " << part << " is too dark for ripples to show";
        EXPECT_GT(colours.size(), 50u) << "part " << part << " is too plain for ripples to show";
    }
}

} // namespace
