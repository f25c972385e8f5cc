// The effect's GL side: start-up, projection, the two passes, the frame driver and shutdown.
#include "ripple.h"
#include "ssaver.h"
#include "effect_fixture.h"
#include "xvfb.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include "pacing.h" // after gtest: Xlib's macros would clash with it

#include <cmath>
#include <cstdio>
#include <cstdlib>
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
        x11::set_presentation_pacing(false); // what is drawn, not when: frames go as fast as they can
    }
    void TearDown() override
    {
        x11::set_presentation_pacing(true);
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

// With neither pass a frame draws nothing, but with the double-buffer option it still presents
// the back buffer; without the option it never swaps, even on a double-buffered window.
TEST_F(Drawing, SwapFollowsTheDoubleBufferOptionEvenWhenNothingIsDrawn)
{
    start(OPTION_DOUBLE_BUFFER);
    // Red on the screen, green waiting in the back buffer.
    auto red_front_green_back = [&] {
        with_context([&] {
            glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT);
            HDC hDC = GetDC(hWnd);
            SwapBuffers(hDC);
            ReleaseDC(hWnd, hDC);
            glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT);
        });
    };
    red_front_green_back();
    ASSERT_EQ(screen()[kW * kH / 2], 0xFF0000u);
    EXPECT_EQ(ss_draw(hWnd), 0);
    EXPECT_EQ(screen()[kW * kH / 2], 0x00FF00u) << "no swap with neither pass";
    red_front_green_back();
    user_options = 0;
    EXPECT_EQ(ss_draw(hWnd), 0);
    EXPECT_EQ(screen()[kW * kH / 2], 0xFF0000u) << "a swap without the double-buffer option";
}

// Every frame sets each pass's state again: blending off for the desktop pass (else the second
// frame would multiply the first), the lighting pass multiplying what lies below, and both taking
// the texel's colour whatever the current colour and blending left by anyone before.
TEST_F(Drawing, EachPassSetsItsOwnStateEveryFrame)
{
    std::vector<unsigned> desktop = screen();
    double desktop_brightness = brightness(desktop);
    start(OPTION_LIGHTEN_DARKEN | OPTION_RIPPLE_DESKTOP); // single-buffered: each frame draws over the last
    with_context([] {
        glColor3f(0.25f, 0.5f, 0.25f);
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    });
    for (int frame = 1; frame <= 3; frame++) {
        ss_draw(hWnd);
        EXPECT_NEAR(brightness(screen()) / desktop_brightness, 51.0 / 255.0, 0.03) << "frame " << frame;
    }
    with_context([] {
        GLint src = 0, dst = 0, env = 0;
        glGetIntegerv(GL_BLEND_SRC, &src);
        glGetIntegerv(GL_BLEND_DST, &dst);
        glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &env);
        EXPECT_EQ(src, GL_ZERO);
        EXPECT_EQ(dst, GL_SRC_COLOR);
        EXPECT_EQ(env, GL_DECAL);
    });
    DestroyWindow(hWnd);

    // The desktop pass alone, over a tinted current colour: still the desktop itself.
    start(OPTION_RIPPLE_DESKTOP);
    with_context([] {
        glColor3f(0.25f, 0.5f, 0.25f);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    });
    ss_draw(hWnd);
    std::vector<unsigned> shown = screen();
    double diff = 0;
    for (size_t i = 0; i < shown.size(); i++)
        for (int b = 0; b < 24; b += 8) diff += std::abs((int)((shown[i] >> b) & 255) - (int)((desktop[i] >> b) & 255));
    EXPECT_LT(diff / (3.0 * shown.size()), 3.0) << "the desktop pass is tinted by the current colour";
    DestroyWindow(hWnd);

    // The lighting pass alone, likewise: the map's grey.
    start(OPTION_LIGHTEN_DARKEN);
    with_context([] {
        glColor3f(0.25f, 0.5f, 0.25f);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    });
    ss_draw(hWnd);
    unsigned middle = screen()[(size_t)kW * (kH / 2) + kW / 2];
    EXPECT_NEAR((int)((middle >> 16) & 255), 51, 6) << std::hex << middle << ": the lighting pass is tinted";
    EXPECT_NEAR((int)((middle >> 8) & 255), 51, 6) << std::hex << middle << ": the lighting pass is tinted";
}

// The frames that bring a random drop, counted from the first frame with a context, and the cells
// they land in; run in a fresh process, where the frame driver's countdown and the generator start.
std::string drops_through_the_frame_driver(HWND hWnd, int frames)
{
    std::string out;
    for (int f = 1; f <= frames; f++) {
        bool was_free[RIPPLE_COUNT];
        for (int k = 0; k < RIPPLE_COUNT; k++) was_free[k] = ripple[k].t >= ripple[k].max;
        ss_draw(hWnd);
        for (int k = 0; k < RIPPLE_COUNT; k++)
            if (was_free[k] && ripple[k].t < ripple[k].max)
                out += std::to_string(f) + "@" + std::to_string(ripple[k].x) + "," + std::to_string(ripple[k].y) + " ";
    }
    return out;
}

// The generator is never seeded: a run's drops land where the generator's first values say,
// y from the first and x from the second, every run alike.
std::string expected_drops(std::initializer_list<int> frames)
{
    srand(1); // the state every process starts from
    std::string out;
    for (int f : frames) {
        int y = rand() % kH, x = rand() % kW;
        out += std::to_string(f) + "@" + std::to_string(x * 32 / kW) + "," + std::to_string(y * 32 / kH) + " ";
    }
    srand(1);
    return out;
}

TEST_F(Drawing, RandomDropsComeOnFramesTwoFourteenTwentySixFromTheUnseededGenerator)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // a fresh process: the countdown starts at 0
    std::string want = expected_drops({2, 14, 26, 38});
    EXPECT_EXIT(
        {
            start(0x16);
            ripple_freq = 10;
            std::string got = drops_through_the_frame_driver(hWnd, 40);
            fprintf(stderr, "drops %s\n", got.c_str());
            DestroyWindow(hWnd);
            xvfb.stop();
            exit(got == want ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "")
        << "wanted drops " << want;
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
