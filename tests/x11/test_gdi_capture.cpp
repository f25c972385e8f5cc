// The two device pictures the saver reads: the whole screen through a memory DC and a compatible
// bitmap, and the "refmap" bitmap resource; then both as the desktop and lighting textures.
#include "test_user_fixture.h"

#include "ripple.h"
#include "ssaver.h"

#include <GL/gl.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

const BYTE kCanary = 0xAA;
const size_t kMapBytes = 256 * 256 * 3;

int stride24(int width) { return (width * 3 + 3) & ~3; }

BITMAPINFO header(int width, int height, int bits = 24)
{
    BITMAPINFO info = {};
    info.bmiHeader = {(DWORD)sizeof(BITMAPINFOHEADER), width, height, 1, (WORD)bits, BI_RGB, 0, 0, 0, 0, 0};
    return info;
}

unsigned pattern(int x, int y) { return (((x * 7 + y) & 255) << 16) | (((y * 3 + x / 4) & 255) << 8) | ((x ^ y) & 255); }

// The pixels of resources/refmap.bmp, rows bottom first.
std::vector<BYTE> refmap_file()
{
    std::ifstream file(TIDEFOLD_SOURCE_DIR "/resources/refmap.bmp", std::ios::binary);
    std::vector<BYTE> bmp((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_GE(bmp.size(), 54 + kMapBytes);
    return std::vector<BYTE>(bmp.end() - std::min(bmp.size(), kMapBytes), bmp.end());
}

// Checks one device pixel (BGR) against a 0xRRGGBB value.
::testing::AssertionResult is_bgr(const BYTE *p, unsigned rgb)
{
    if (p[0] == (rgb & 255) && p[1] == ((rgb >> 8) & 255) && p[2] == ((rgb >> 16) & 255))
        return ::testing::AssertionSuccess();
    char text[80];
    snprintf(text, sizeof text, "bytes %02x %02x %02x, expected BGR of %06x", p[0], p[1], p[2], rgb);
    return ::testing::AssertionFailure() << text;
}

class Capture : public X11Test {
protected:
    bool start_painted(int width, int height)
    {
        if (!start(width, height)) return false;
        std::vector<unsigned> desktop((size_t)width * height);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) desktop[(size_t)y * width + x] = pattern(x, y);
        return paint_root(xvfb.display(), width, height, desktop.data());
    }

    // Photographs the screen the way the saver does, into a buffer with a canary tail.
    std::vector<BYTE> photograph(int width, int height)
    {
        HWND desktop = GetDesktopWindow();
        HDC screen = GetDC(desktop);
        HDC mem = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        HGDIOBJ old = SelectObject(mem, bitmap);
        EXPECT_TRUE(BitBlt(mem, 0, 0, width, height, screen, 0, 0, SRCCOPY));
        BITMAPINFO info = header(width, height);
        std::vector<BYTE> buf((size_t)stride24(width) * height + 64, kCanary);
        EXPECT_EQ(GetDIBits(screen, bitmap, 0, height, buf.data(), &info, DIB_RGB_COLORS), height);
        EXPECT_EQ(SelectObject(mem, old), bitmap);
        EXPECT_TRUE(DeleteObject(bitmap));
        EXPECT_TRUE(DeleteDC(mem));
        EXPECT_EQ(ReleaseDC(desktop, screen), 1);
        for (size_t i = (size_t)stride24(width) * height; i < buf.size(); i++)
            EXPECT_EQ(buf[i], kCanary) << "written past the picture";
        return buf;
    }
};

TEST_F(Capture, ScreenIsBgrBottomUpWithRowsPaddedToFourBytes)
{
    const int w = 1021, h = 300, stride = 3064;
    ASSERT_TRUE(start_painted(w, h));
    std::vector<BYTE> buf = photograph(w, h);
    for (int y = 0, bad = 0; y < h && bad < 5; y++)
        for (int x = 0; x < w && bad < 5; x++) {
            auto r = is_bgr(&buf[(size_t)(h - 1 - y) * stride + 3 * x], pattern(x, y));
            if (!r) ADD_FAILURE() << "screen pixel (" << x << ", " << y << "): " << r.message(), bad++;
        }
}

TEST_F(Capture, SixteenBitScreenWidensToEightBitChannels)
{
    ASSERT_TRUE(start(320, 200, 16));
    // The root painted with raw 5-6-5 pixel values.
    int scr = DefaultScreen(other);
    Window root = RootWindow(other, scr);
    XImage *img = XCreateImage(other, DefaultVisual(other, scr), 16, ZPixmap, 0, nullptr, 320, 200, 32, 0);
    img->data = static_cast<char *>(malloc((size_t)img->bytes_per_line * 200));
    for (int y = 0; y < 200; y++)
        for (int x = 0; x < 320; x++) XPutPixel(img, x, y, (x & 31) << 11 | ((x + y) & 63) << 5 | (y & 31));
    Pixmap pm = XCreatePixmap(other, root, 320, 200, 16);
    GC gc = XCreateGC(other, pm, 0, nullptr);
    XPutImage(other, pm, gc, img, 0, 0, 0, 0, 320, 200);
    XSetWindowBackgroundPixmap(other, root, pm);
    XClearWindow(other, root);
    XFreeGC(other, gc);
    XDestroyImage(img);
    XFreePixmap(other, pm);
    XSync(other, False);

    HDC screen = GetDC(NULL);
    EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), 16);
    ReleaseDC(NULL, screen);
    std::vector<BYTE> buf = photograph(320, 200);
    auto widen = [](unsigned v, unsigned max) { return (v * 255 + max / 2) / max; };
    for (int y = 0; y < 200; y += 7)
        for (int x = 0; x < 320; x += 5) {
            unsigned expected = widen(x & 31, 31) << 16 | widen((x + y) & 63, 63) << 8 | widen(y & 31, 31);
            ASSERT_TRUE(is_bgr(&buf[(size_t)(199 - y) * stride24(320) + 3 * x], expected)) << x << "," << y;
        }
}

TEST_F(Capture, RefmapLoadsAsTheResourcePictureWith768ByteRows)
{
    ASSERT_TRUE(start());
    const std::vector<BYTE> pixels = refmap_file();
    HDC screen = GetDC(NULL);
    // The module handle does not matter, and resource names ignore case.
    for (auto [module, name] : {std::pair{(HINSTANCE) nullptr, "refmap"}, {(HINSTANCE)(uintptr_t)0x400000, "REFMAP"}}) {
        HBITMAP map = LoadBitmapA(module, name);
        ASSERT_NE(map, nullptr) << name;
        BITMAPINFO info = header(256, 256);
        std::vector<BYTE> buf(kMapBytes + 16, kCanary);
        ASSERT_EQ(GetDIBits(screen, map, 0, 256, buf.data(), &info, DIB_RGB_COLORS), 256);
        EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), buf.begin()));
        EXPECT_EQ(buf[kMapBytes], kCanary);
        EXPECT_TRUE(DeleteObject(map));
    }
    EXPECT_EQ(LoadBitmapA(NULL, "no such bitmap"), nullptr);
    EXPECT_EQ(LoadBitmapA(NULL, nullptr), nullptr);
    ReleaseDC(NULL, screen);
}

TEST_F(Capture, SelectedDeletedAndWrongHandlesFailWithoutHarm)
{
    ASSERT_TRUE(start());
    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen), mem2 = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 4, 4);
    BITMAPINFO info = header(4, 4), eight = header(4, 4, 8);
    BYTE buf[64];
    // A bitmap selected into a DC is neither deleted nor selected into a second DC.
    HGDIOBJ old = SelectObject(mem, bitmap);
    EXPECT_EQ(SelectObject(mem2, bitmap), nullptr);
    EXPECT_FALSE(DeleteObject(bitmap));
    EXPECT_EQ(GetDIBits(screen, bitmap, 0, 4, buf, &eight, DIB_RGB_COLORS), 0) << "8 bits are not offered";
    EXPECT_FALSE(BitBlt(mem, 0, 0, 4, 4, screen, 0, 0, 0x00EE0086 /* SRCPAINT */));
    SelectObject(mem, old);
    EXPECT_TRUE(DeleteObject(bitmap));
    // Everything on a deleted bitmap or DC fails by its result.
    EXPECT_FALSE(DeleteObject(bitmap));
    EXPECT_EQ(GetDIBits(screen, bitmap, 0, 4, buf, &info, DIB_RGB_COLORS), 0);
    EXPECT_EQ(SelectObject(mem, bitmap), nullptr);
    EXPECT_TRUE(DeleteDC(mem2));
    EXPECT_FALSE(DeleteDC(mem2));
    EXPECT_FALSE(BitBlt(mem2, 0, 0, 4, 4, screen, 0, 0, SRCCOPY));
    EXPECT_EQ(CreateCompatibleBitmap(mem2, 4, 4), nullptr);
    EXPECT_TRUE(DeleteDC(mem));
    EXPECT_EQ(ReleaseDC(NULL, screen), 1);
    EXPECT_EQ(ReleaseDC(NULL, screen), 0);
    EXPECT_EQ(GetDC((HWND)(uintptr_t)0x3fffff0), nullptr);
}

// image_init with a real screen: the photograph lands in texture 0 where the copy puts it, and
// the lighting map in texture 1.
class DesktopTexture : public Capture {
protected:
    void TearDown() override
    {
        wglMakeCurrent(NULL, NULL);
        if (rc) wglDeleteContext(rc);
        if (dc) ReleaseDC(hwnd, dc);
        if (hwnd) DestroyWindow(hwnd);
        scaled_mode = 0;
        max_texture_size = 1024;
        Capture::TearDown();
    }

    // A hidden window with a GL context current, then image_init for the screen as it is.
    void run_image_init()
    {
        hwnd = create_window(0, 0, 64, 64, WS_POPUP);
        ASSERT_NE(hwnd, nullptr);
        dc = GetDC(hwnd);
        PIXELFORMATDESCRIPTOR pfd = {};
        pfd.nSize = sizeof pfd;
        pfd.nVersion = 1;
        pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
        pfd.cColorBits = (BYTE)GetDeviceCaps(dc, BITSPIXEL);
        int format = ChoosePixelFormat(dc, &pfd);
        ASSERT_GT(format, 0);
        ASSERT_TRUE(SetPixelFormat(dc, format, &pfd));
        rc = wglCreateContext(dc);
        ASSERT_TRUE(wglMakeCurrent(dc, rc));
        nScreenWidth = GetSystemMetrics(SM_CXSCREEN);
        nScreenHeight = GetSystemMetrics(SM_CYSCREEN);
        max_texture_size = 1024;
        scaled_mode = 0;
        hInst = NULL;
        image_init();
    }

    // Checks every texel of a texture, row 0 at the bottom, against expected(i, j) as 0xRRGGBB.
    void expect_texture(unsigned name, int size, const std::function<unsigned(int, int)> &expected)
    {
        glBindTexture(GL_TEXTURE_2D, name);
        int w = 0, h = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
        ASSERT_EQ(w, size);
        ASSERT_EQ(h, size);
        std::vector<BYTE> t((size_t)w * h * 3);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, t.data());
        for (int j = 0; j < h; j++)
            for (int i = 0; i < w; i++) {
                const BYTE *p = &t[((size_t)j * w + i) * 3];
                unsigned rgb = expected(i, j), got = (unsigned)p[0] << 16 | p[1] << 8 | p[2];
                ASSERT_EQ(got, rgb) << "texel (" << i << ", " << j << ") of texture " << name;
            }
    }

    void expect_lighting_map()
    {
        const std::vector<BYTE> pixels = refmap_file();
        ASSERT_EQ(pixels.size(), kMapBytes);
        expect_texture(texture_names[1], 256, [&](int i, int j) {
            const BYTE *p = &pixels[(size_t)j * 768 + i * 3];
            return (unsigned)p[2] << 16 | p[1] << 8 | p[0];
        });
    }

    HWND hwnd = nullptr;
    HDC dc = nullptr;
    HGLRC rc = nullptr;
};

TEST_F(DesktopTexture, UnscaledScreenSitsInTheBottomLeftCorner)
{
    ASSERT_TRUE(start_painted(1024, 768));
    ASSERT_NO_FATAL_FAILURE(run_image_init());
    EXPECT_EQ(scaled_mode, 0);
    // Texture row 0 is the bottom screen row; rows above the picture stay black.
    expect_texture(texture_names[0], 1024, [](int i, int j) { return j < 768 ? pattern(i, 767 - j) : 0; });
    expect_lighting_map();
}

TEST_F(DesktopTexture, CappedScreenIsResampledToFillTheTexture)
{
    ASSERT_TRUE(start_painted(1280, 1024));
    ASSERT_NO_FATAL_FAILURE(run_image_init());
    EXPECT_EQ(scaled_mode, 1);
    expect_texture(texture_names[0], 1024, [](int i, int j) { return pattern(i * 1280 / 1024, 1023 - j); });
    expect_lighting_map();
}

} // namespace
