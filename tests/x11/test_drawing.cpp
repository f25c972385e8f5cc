// The effect's GL side: start-up, projection, the two passes, the frame driver and shutdown.
#include "ripple.h"
#include "ssaver.h"
#include "effect_fixture.h"
#include "xvfb.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kW = 640, kH = 480;

class Drawing : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(xvfb.start(kW, kH, 24));
        std::vector<unsigned> desktop((size_t)kW * kH);
        for (int y = 0; y < kH; y++)
            for (int x = 0; x < kW; x++)
                desktop[(size_t)y * kW + x] = ((x * 255 / kW) << 16) | ((y * 255 / kH) << 8) | 128;
        ASSERT_TRUE(paint_root(xvfb.display(), kW, kH, desktop.data()));
        ASSERT_TRUE(prepare_saver_class());
        ss_mode = SS_MODE_PREVIEW;
    }
    void TearDown() override
    {
        if (hWnd && IsWindow(hWnd)) DestroyWindow(hWnd);
        user_options = 0x16;
        ss_mode = SS_MODE_CONFIG;
    }
    // Creates the saver window (which starts the effect) with the given options.
    void start(int options)
    {
        user_options = options;
        hWnd = CreateWindowExA(WS_EX_TOPMOST, "screensaver", "screensaver", WS_POPUP | WS_VISIBLE, 0, 0, kW, kH, NULL,
                               NULL, NULL, NULL);
        ASSERT_NE(hWnd, nullptr);
        ASSERT_NE(ss_context(), nullptr) << "the effect did not start";
        pump();
    }
    void pump()
    {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            if (msg.message != WM_QUIT) DispatchMessageA(&msg);
    }
    // Runs f with the effect's context current.
    template <typename F> void with_context(F f)
    {
        HDC hDC = GetDC(hWnd);
        ASSERT_TRUE(wglMakeCurrent(hDC, ss_context()));
        f();
        wglMakeCurrent(NULL, NULL);
        ReleaseDC(hWnd, hDC);
    }
    std::vector<unsigned> screen()
    {
        std::vector<unsigned> px((size_t)kW * kH);
        read_screen(xvfb.display(), 0, 0, kW, kH, px.data());
        return px;
    }
    static double brightness(const std::vector<unsigned> &px)
    {
        double sum = 0;
        for (unsigned v : px) sum += ((v >> 16) & 255) + ((v >> 8) & 255) + (v & 255);
        return sum / (3.0 * px.size());
    }

    PrivateXvfb xvfb;
    HWND hWnd = NULL;
};

TEST_F(Drawing, ResizeMapsPixelCentresStrictlyInsideTheGrid)
{
    start(0x16);
    with_context([] {
        resize(800, 600);
        GLint vp[4];
        glGetIntegerv(GL_VIEWPORT, vp);
        EXPECT_EQ(vp[0], 0);
        EXPECT_EQ(vp[1], 0);
        EXPECT_EQ(vp[2], 800);
        EXPECT_EQ(vp[3], 600);
        GLdouble m[16];
        glGetDoublev(GL_PROJECTION_MATRIX, m);
        // glOrtho(-0.5, 800.5, -0.5, 600.5, 0, 1000)
        EXPECT_NEAR(m[0], 2.0 / 801.0, 1e-7);
        EXPECT_NEAR(m[5], 2.0 / 601.0, 1e-7);
        EXPECT_NEAR(m[10], -2.0 / 1000.0, 1e-7);
        EXPECT_NEAR(m[12], -800.0 / 801.0, 1e-6);
        EXPECT_NEAR(m[13], -600.0 / 601.0, 1e-6);
        EXPECT_NEAR(m[14], -1.0, 1e-7);
        GLdouble mv[16];
        glGetDoublev(GL_MODELVIEW_MATRIX, mv);
        EXPECT_EQ(mv[0], 1.0);
        EXPECT_EQ(mv[12], 0.0);
    });
}

TEST_F(Drawing, SizeChangeResetsTheProjection)
{
    start(0x16);
    ScreenSaverProc(hWnd, WM_SIZE, 0, MAKELPARAM(kW, kH));
    with_context([] {
        GLint vp[4];
        glGetIntegerv(GL_VIEWPORT, vp);
        EXPECT_EQ(vp[2], kW);
        EXPECT_EQ(vp[3], kH);
    });
}

TEST_F(Drawing, TexturesFilterLinearOnlyInHighQuality)
{
    for (int options : {0x16, 0x12}) {
        start(options);
        GLint want = (options & OPTION_HIGH_QUALITY) ? GL_LINEAR : GL_NEAREST;
        with_context([&] {
            for (int t = 0; t < 2; t++) {
                glBindTexture(GL_TEXTURE_2D, texture_names[t]);
                GLint min = 0, mag = 0, ws = 0, wt = 0;
                glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min);
                glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag);
                glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &ws);
                glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wt);
                EXPECT_EQ(min, want);
                EXPECT_EQ(mag, want);
                EXPECT_EQ(ws, GL_REPEAT);
                EXPECT_EQ(wt, GL_REPEAT);
                GLint w = 0;
                glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
                EXPECT_EQ(w, t == 0 ? 1024 : 256);
            }
        });
        DestroyWindow(hWnd);
        hWnd = NULL;
    }
}

// A screen one or two pixels wide gives texture rows of 3 or 6 bytes, less than the GL's default
// row alignment of 4: the texture must still hold the picture row for row, read from the packed
// rows of the buffer (and never past its end).
TEST_F(Drawing, TinyScreenTextureHoldsThePictureRowForRow)
{
    for (int width : {1, 2}) {
        const int height = 64;
        nScreenWidth = width;
        nScreenHeight = height;
        start(0x16);
        std::vector<unsigned char> texels((size_t)width * height * 3, 0xEE);
        with_context([&] {
            glBindTexture(GL_TEXTURE_2D, texture_names[0]);
            GLint w = 0, h = 0;
            glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
            glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
            ASSERT_EQ(w, width);
            ASSERT_EQ(h, height);
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
        });
        // Texture rows run bottom first; the desktop's blue is 128 and its green grows downwards.
        for (int row = 0; row < height; row++)
            for (int x = 0; x < width; x++) {
                int y = height - 1 - row;
                const unsigned char *t = &texels[((size_t)row * width + x) * 3];
                ASSERT_EQ((int)t[0], x * 255 / kW) << "width " << width << " row " << row;
                ASSERT_EQ((int)t[1], y * 255 / kH) << "width " << width << " row " << row;
                ASSERT_EQ((int)t[2], 128) << "width " << width << " row " << row;
            }
        DestroyWindow(hWnd);
        hWnd = NULL;
    }
}

TEST_F(Drawing, DoubleBufferOptionChoosesTheFormat)
{
    for (int options : {0x16, 0x06}) {
        start(options);
        with_context([&] {
            GLboolean db = GL_FALSE;
            glGetBooleanv(GL_DOUBLEBUFFER, &db);
            EXPECT_EQ(db != GL_FALSE, (options & OPTION_DOUBLE_BUFFER) != 0);
        });
        DestroyWindow(hWnd);
        hWnd = NULL;
    }
}

TEST_F(Drawing, FrameWithoutContextDrawsNothingAndLeavesTheCountdown)
{
    EXPECT_EQ(ss_draw(NULL), 1) << "before start-up";
    start(0x16);
    EXPECT_EQ(ss_draw(hWnd), 0);
    DestroyWindow(hWnd);
    hWnd = NULL;
    ripple_prepare();
    for (int f = 0; f < 30; f++) EXPECT_EQ(ss_draw(NULL), 1) << "after shutdown";
    for (const auto &r : ripple) EXPECT_GE(r.t, RIPPLE_LENGTH) << "no drop was made without a context";
}

TEST_F(Drawing, DesktopPassShowsTheDesktopAtRest)
{
    std::vector<unsigned> desktop = screen();
    start(0x12 | OPTION_DOUBLE_BUFFER);
    ss_draw(hWnd);
    std::vector<unsigned> shown = screen();
    double diff = 0;
    for (size_t i = 0; i < shown.size(); i++)
        for (int s = 0; s < 24; s += 8) diff += std::abs((int)((shown[i] >> s) & 255) - (int)((desktop[i] >> s) & 255));
    diff /= 3.0 * shown.size();
    EXPECT_LT(diff, 3.0) << "the first frame, before any drop, is the desktop itself";
}

TEST_F(Drawing, LightingPassAloneIsTheMapsCentreGreyAtRest)
{
    start(OPTION_LIGHTEN_DARKEN | OPTION_DOUBLE_BUFFER);
    ss_draw(hWnd);
    std::vector<unsigned> shown = screen();
    for (size_t i = 0; i < shown.size(); i += 997) {
        // The grid's right and top edges fall a fraction of a pixel past the last pixel centres;
        // with the rasterizer's sub-pixel snapping that last column and row may stay undrawn.
        if (i % kW == kW - 1 || i / kW == 0) continue;
        unsigned v = shown[i];
        int r = (v >> 16) & 255, g = (v >> 8) & 255, b = v & 255;
        EXPECT_EQ(r, g);
        EXPECT_EQ(g, b);
        EXPECT_NEAR(r, 51, 6) << "pixel " << i % kW << "," << i / kW;
    }
}

TEST_F(Drawing, BothPassesDarkenTheDesktopToAboutAFifth)
{
    double desktop = brightness(screen());
    start(0x17);
    ss_draw(hWnd);
    double lit = brightness(screen());
    EXPECT_NEAR(lit / desktop, 51.0 / 255.0, 0.03);
}

TEST_F(Drawing, NoPassLeavesTheWindowAsItWas)
{
    start(OPTION_DOUBLE_BUFFER);
    with_context([&] {
        glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        HDC hDC = GetDC(hWnd);
        SwapBuffers(hDC);
        glClear(GL_COLOR_BUFFER_BIT);
        ReleaseDC(hWnd, hDC);
    });
    EXPECT_EQ(ss_draw(hWnd), 0);
    std::vector<unsigned> shown = screen();
    EXPECT_EQ(shown[0], 0x00FF00u);
    EXPECT_EQ(shown[shown.size() / 2], 0x00FF00u);
}

TEST_F(Drawing, DropsChangeThePictureFromFrameToFrame)
{
    start(0x16);
    ss_draw(hWnd);
    std::vector<unsigned> first = screen();
    for (int f = 0; f < 40; f++) ss_draw(hWnd);
    std::vector<unsigned> later = screen();
    size_t changed = 0;
    for (size_t i = 0; i < first.size(); i++) changed += first[i] != later[i];
    EXPECT_GT(changed, first.size() / 100);
}

long resident_kib()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

TEST_F(Drawing, ThousandsOfFramesDoNotGrowMemory)
{
    start(0x17);
    for (int f = 0; f < 500; f++) ss_draw(hWnd);
    long before = resident_kib();
    for (int f = 0; f < 3000; f++) {
        ASSERT_EQ(ss_draw(hWnd), 0);
        if (f % 50 == 0) pump();
    }
    long after = resident_kib();
#if defined(__SANITIZE_ADDRESS__)
    (void)before;
    (void)after; // the sanitizer's quarantine holds freed memory back; growth is measured without it
#else
    EXPECT_LT(after - before, 2048) << "resident memory grew from " << before << " to " << after << " KiB";
#endif
}

} // namespace
