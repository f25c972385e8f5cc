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

int stride24(int width) { return (width * 3 + 3) & ~3; }

BITMAPINFO header(int width, int height, int bits = 24)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(bits);
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

unsigned pattern(int x, int y) { return (((x * 7 + y) & 255) << 16) | (((y * 3 + x / 4) & 255) << 8) | ((x ^ y) & 255); }

// Paints the root with raw pixel values of the screen's own format.
void paint_root_raw(Display *dpy, int width, int height, unsigned long (*pixel)(int, int))
{
    int scr = DefaultScreen(dpy);
    Window root = RootWindow(dpy, scr);
    int depth = DefaultDepth(dpy, scr);
    Pixmap pm = XCreatePixmap(dpy, root, width, height, depth);
    XImage *img = XCreateImage(dpy, DefaultVisual(dpy, scr), depth, ZPixmap, 0, nullptr, width, height, 32, 0);
    img->data = static_cast<char *>(malloc((size_t)img->bytes_per_line * height));
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) XPutPixel(img, x, y, pixel(x, y));
    GC gc = XCreateGC(dpy, pm, 0, nullptr);
    XPutImage(dpy, pm, gc, img, 0, 0, 0, 0, width, height);
    XSetWindowBackgroundPixmap(dpy, root, pm);
    XClearWindow(dpy, root);
    XFreeGC(dpy, gc);
    XDestroyImage(img);
    XFreePixmap(dpy, pm);
    XSync(dpy, False);
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
    std::vector<BYTE> photograph(int width, int height, int *lines)
    {
        HWND desktop = GetDesktopWindow();
        HDC screen = GetDC(desktop);
        HDC mem = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        HGDIOBJ old = SelectObject(mem, bitmap);
        EXPECT_NE(old, nullptr);
        EXPECT_TRUE(BitBlt(mem, 0, 0, width, height, screen, 0, 0, SRCCOPY));
        BITMAPINFO info = header(width, height);
        std::vector<BYTE> buf((size_t)stride24(width) * height + 64, kCanary);
        *lines = GetDIBits(screen, bitmap, 0, height, buf.data(), &info, DIB_RGB_COLORS);
        EXPECT_EQ(SelectObject(mem, old), bitmap);
        EXPECT_TRUE(DeleteObject(bitmap));
        EXPECT_TRUE(DeleteDC(mem));
        EXPECT_EQ(ReleaseDC(desktop, screen), 1);
        return buf;
    }
};

// Checks one device pixel (BGR) against a 0xRRGGBB value.
::testing::AssertionResult is_bgr(const BYTE *p, unsigned rgb)
{
    if (p[0] == (rgb & 255) && p[1] == ((rgb >> 8) & 255) && p[2] == ((rgb >> 16) & 255))
        return ::testing::AssertionSuccess();
    char text[80];
    snprintf(text, sizeof text, "bytes %02x %02x %02x, expected BGR of %06x", p[0], p[1], p[2], rgb);
    return ::testing::AssertionFailure() << text;
}

TEST_F(Capture, ScreenIsBgrBottomUpWithRowsPaddedToFourBytes)
{
    const int w = 1021, h = 300;
    ASSERT_TRUE(start_painted(w, h));
    int lines = 0;
    std::vector<BYTE> buf = photograph(w, h, &lines);
    EXPECT_EQ(lines, h);
    const int stride = stride24(w);
    ASSERT_EQ(stride, 3064);
    int bad = 0;
    for (int y = 0; y < h && bad < 5; y++)
        for (int x = 0; x < w && bad < 5; x++) {
            auto r = is_bgr(&buf[(size_t)(h - 1 - y) * stride + 3 * x], pattern(x, y));
            if (!r) {
                ADD_FAILURE() << "screen pixel (" << x << ", " << y << "): " << r.message();
                bad++;
            }
        }
    for (size_t i = (size_t)stride * h; i < buf.size(); i++) ASSERT_EQ(buf[i], kCanary) << "written past the picture";
}

TEST_F(Capture, SmallBitmapHonoursStartLinesOrientationAndDepth)
{
    ASSERT_TRUE(start_painted(640, 480));
    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 3, 2);
    HGDIOBJ old = SelectObject(mem, bitmap);
    ASSERT_TRUE(BitBlt(mem, 0, 0, 3, 2, screen, 10, 20, SRCCOPY));

    // Bottom-up: the first row written is the bitmap's bottom row; each row is 9 bytes padded to 12.
    BITMAPINFO info = header(3, 2);
    std::vector<BYTE> buf(24 + 16, kCanary);
    ASSERT_EQ(GetDIBits(screen, bitmap, 0, 2, buf.data(), &info, DIB_RGB_COLORS), 2);
    for (int x = 0; x < 3; x++) {
        EXPECT_TRUE(is_bgr(&buf[3 * x], pattern(10 + x, 21)));
        EXPECT_TRUE(is_bgr(&buf[12 + 3 * x], pattern(10 + x, 20)));
    }
    EXPECT_EQ(buf[24], kCanary);

    // Scan line 1 of a bottom-up picture is the top row; one line fills exactly one padded row.
    std::fill(buf.begin(), buf.end(), kCanary);
    ASSERT_EQ(GetDIBits(screen, bitmap, 1, 1, buf.data(), &info, DIB_RGB_COLORS), 1);
    EXPECT_TRUE(is_bgr(&buf[0], pattern(10, 20)));
    EXPECT_EQ(buf[12], kCanary);
    // More lines asked for than the picture has, or a start past its end.
    ASSERT_EQ(GetDIBits(screen, bitmap, 0, 99, buf.data(), &info, DIB_RGB_COLORS), 2);
    EXPECT_EQ(buf[24], kCanary);
    EXPECT_EQ(GetDIBits(screen, bitmap, 2, 1, buf.data(), &info, DIB_RGB_COLORS), 0);

    // A negative height asks for the rows top first.
    info = header(3, -2);
    ASSERT_EQ(GetDIBits(screen, bitmap, 0, 2, buf.data(), &info, DIB_RGB_COLORS), 2);
    EXPECT_TRUE(is_bgr(&buf[0], pattern(10, 20)));
    EXPECT_TRUE(is_bgr(&buf[12], pattern(10, 21)));

    // 32 bits: blue, green, red and a zero byte, no padding needed.
    info = header(3, 2, 32);
    std::fill(buf.begin(), buf.end(), kCanary);
    ASSERT_EQ(GetDIBits(screen, bitmap, 0, 2, buf.data(), &info, DIB_RGB_COLORS), 2);
    EXPECT_TRUE(is_bgr(&buf[4], pattern(11, 21)));
    EXPECT_EQ(buf[7], 0);
    EXPECT_EQ(buf[24], kCanary);

    // A copy to an offset leaves the rest of the bitmap as it was (black when new).
    HBITMAP second = CreateCompatibleBitmap(screen, 3, 2);
    SelectObject(mem, second);
    ASSERT_TRUE(BitBlt(mem, 1, 0, 2, 2, screen, 500, 7, SRCCOPY));
    info = header(3, -2);
    ASSERT_EQ(GetDIBits(screen, second, 0, 2, buf.data(), &info, DIB_RGB_COLORS), 2);
    EXPECT_TRUE(is_bgr(&buf[0], 0));
    EXPECT_TRUE(is_bgr(&buf[3], pattern(500, 7)));
    EXPECT_TRUE(is_bgr(&buf[12 + 6], pattern(501, 8)));

    // Asking for the format alone describes the bitmap.
    BITMAPINFO query = {};
    query.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    ASSERT_NE(GetDIBits(screen, second, 0, 0, nullptr, &query, DIB_RGB_COLORS), 0);
    EXPECT_EQ(query.bmiHeader.biWidth, 3);
    EXPECT_EQ(query.bmiHeader.biHeight, 2);

    SelectObject(mem, old);
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_TRUE(DeleteObject(second));
    EXPECT_TRUE(DeleteDC(mem));
    ReleaseDC(NULL, screen);
}

unsigned long rgb565(int x, int y) { return (unsigned long)((x & 31) << 11 | ((x + y) & 63) << 5 | (y & 31)); }

TEST_F(Capture, SixteenBitScreenWidensToEightBitChannels)
{
    ASSERT_TRUE(start(320, 200, 16));
    paint_root_raw(other, 320, 200, rgb565);
    HDC screen = GetDC(NULL);
    EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), 16);
    ReleaseDC(NULL, screen);
    int lines = 0;
    std::vector<BYTE> buf = photograph(320, 200, &lines);
    ASSERT_EQ(lines, 200);
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
    std::ifstream file(TIDEFOLD_SOURCE_DIR "/resources/refmap.bmp", std::ios::binary);
    std::vector<BYTE> bmp((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GT(bmp.size(), 54u);
    uint32_t offset;
    memcpy(&offset, &bmp[10], 4);
    ASSERT_EQ(bmp.size() - offset, 196608u);

    HDC screen = GetDC(NULL);
    // The module handle does not matter, and resource names ignore case.
    for (HINSTANCE module : {(HINSTANCE) nullptr, (HINSTANCE)(uintptr_t)0x400000}) {
        for (const char *name : {"refmap", "REFMAP"}) {
            HBITMAP map = LoadBitmapA(module, name);
            ASSERT_NE(map, nullptr) << name;
            BITMAPINFO info = header(256, 256);
            std::vector<BYTE> buf(196608 + 16, kCanary);
            ASSERT_EQ(GetDIBits(screen, map, 0, 256, buf.data(), &info, DIB_RGB_COLORS), 256);
            EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 196608, bmp.begin() + offset));
            EXPECT_EQ(buf[196608], kCanary);
            for (size_t i = 0; i < 196608; i += 3) {
                ASSERT_EQ(buf[i], buf[i + 1]) << "grey at byte " << i;
                ASSERT_EQ(buf[i], buf[i + 2]) << "grey at byte " << i;
            }
            EXPECT_TRUE(DeleteObject(map));
        }
    }
    EXPECT_EQ(LoadBitmapA(NULL, "no such bitmap"), nullptr);
    EXPECT_EQ(LoadBitmapA(NULL, nullptr), nullptr);
    ReleaseDC(NULL, screen);
}

TEST_F(Capture, StaleAndWrongHandlesFailWithoutHarm)
{
    ASSERT_TRUE(start());
    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 4, 4);
    BITMAPINFO info = header(4, 4);
    BYTE buf[64];

    // A bitmap selected into a DC is not deleted, nor selected into a second DC.
    HGDIOBJ old = SelectObject(mem, bitmap);
    HDC mem2 = CreateCompatibleDC(screen);
    EXPECT_EQ(SelectObject(mem2, bitmap), nullptr);
    EXPECT_FALSE(DeleteObject(bitmap));
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
    EXPECT_EQ(GetDeviceCaps(mem2, BITSPIXEL), 0);

    // Null and garbage arguments, and formats not offered.
    EXPECT_EQ(GetDIBits(nullptr, bitmap, 0, 4, buf, &info, DIB_RGB_COLORS), 0);
    EXPECT_EQ(GetDIBits(screen, nullptr, 0, 4, buf, &info, DIB_RGB_COLORS), 0);
    EXPECT_EQ(GetDIBits(screen, (HBITMAP)(uintptr_t)0xdead0, 0, 4, buf, &info, DIB_RGB_COLORS), 0);
    HBITMAP fresh = CreateCompatibleBitmap(screen, 4, 4);
    EXPECT_EQ(GetDIBits(screen, fresh, 0, 4, buf, nullptr, DIB_RGB_COLORS), 0);
    BITMAPINFO eight = header(4, 4, 8);
    EXPECT_EQ(GetDIBits(screen, fresh, 0, 4, buf, &eight, DIB_RGB_COLORS), 0);
    EXPECT_FALSE(BitBlt(mem, 0, 0, 4, 4, screen, 0, 0, 0x00EE0086 /* SRCPAINT */));
    EXPECT_EQ(CreateCompatibleBitmap(screen, -1, 4), nullptr);
    EXPECT_EQ(ReleaseDC(NULL, (HDC)(uintptr_t)0xdead0), 0);
    EXPECT_EQ(SelectObject(nullptr, fresh), nullptr);
    EXPECT_TRUE(DeleteObject(fresh));
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
    void run_image_init(int texture_cap)
    {
        hwnd = CreateWindowExA(0, "recorder", "", WS_POPUP, 0, 0, 64, 64, NULL, NULL, NULL, NULL);
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
        ASSERT_NE(rc, nullptr);
        ASSERT_TRUE(wglMakeCurrent(dc, rc));
        nScreenWidth = GetSystemMetrics(SM_CXSCREEN);
        nScreenHeight = GetSystemMetrics(SM_CYSCREEN);
        max_texture_size = texture_cap;
        scaled_mode = 0;
        hInst = NULL;
        image_init();
    }

    std::vector<BYTE> texture(unsigned name, int *w, int *h)
    {
        glBindTexture(GL_TEXTURE_2D, name);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, h);
        std::vector<BYTE> texels((size_t)*w * *h * 3);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
        return texels;
    }

    // Texel (i, j) of a texture, row 0 at the bottom, against a 0xRRGGBB value.
    static ::testing::AssertionResult texel_is(const std::vector<BYTE> &t, int tex_w, int i, int j, unsigned rgb)
    {
        const BYTE *p = &t[((size_t)j * tex_w + i) * 3];
        if (p[0] == (rgb >> 16) && p[1] == ((rgb >> 8) & 255) && p[2] == (rgb & 255))
            return ::testing::AssertionSuccess();
        char text[96];
        snprintf(text, sizeof text, "texel (%d, %d) is %02x %02x %02x, expected RGB %06x", i, j, p[0], p[1], p[2], rgb);
        return ::testing::AssertionFailure() << text;
    }

    void expect_lighting_map()
    {
        std::ifstream file(TIDEFOLD_SOURCE_DIR "/resources/refmap.bmp", std::ios::binary);
        std::vector<BYTE> bmp((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        ASSERT_GT(bmp.size(), 196608u);
        const BYTE *pixels = &bmp[bmp.size() - 196608];
        int w = 0, h = 0;
        std::vector<BYTE> t = texture(texture_names[1], &w, &h);
        ASSERT_EQ(w, 256);
        ASSERT_EQ(h, 256);
        for (int j = 0; j < 256; j++)
            for (int i = 0; i < 256; i++) {
                const BYTE *p = pixels + j * 768 + i * 3;
                unsigned rgb = (unsigned)p[2] << 16 | (unsigned)p[1] << 8 | p[0];
                ASSERT_TRUE(texel_is(t, 256, i, j, rgb));
            }
    }

    HWND hwnd = nullptr;
    HDC dc = nullptr;
    HGLRC rc = nullptr;
};

TEST_F(DesktopTexture, UnscaledScreenSitsInTheBottomLeftCorner)
{
    ASSERT_TRUE(start_painted(1024, 768));
    ASSERT_NO_FATAL_FAILURE(run_image_init(1024));
    EXPECT_EQ(scaled_mode, 0);
    int w = 0, h = 0;
    std::vector<BYTE> t = texture(texture_names[0], &w, &h);
    ASSERT_EQ(w, 1024);
    ASSERT_EQ(h, 1024);
    for (int j = 0; j < 1024; j++)
        for (int i = 0; i < 1024; i++) {
            // Texture row 0 is the bottom screen row; rows above the picture stay black.
            unsigned expected = j < 768 ? pattern(i, 767 - j) : 0;
            ASSERT_TRUE(texel_is(t, w, i, j, expected));
        }
    expect_lighting_map();
}

TEST_F(DesktopTexture, CappedScreenIsResampledToFillTheTexture)
{
    ASSERT_TRUE(start_painted(1280, 1024));
    ASSERT_NO_FATAL_FAILURE(run_image_init(1024));
    EXPECT_EQ(scaled_mode, 1);
    int w = 0, h = 0;
    std::vector<BYTE> t = texture(texture_names[0], &w, &h);
    ASSERT_EQ(w, 1024);
    ASSERT_EQ(h, 1024);
    for (int j = 0; j < 1024; j++)
        for (int i = 0; i < 1024; i++) ASSERT_TRUE(texel_is(t, w, i, j, pattern(i * 1280 / 1024, 1023 - j)));
    expect_lighting_map();
}

} // namespace
