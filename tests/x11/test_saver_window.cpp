// The saver window's default behaviour: what closes it, in which mode, and what it swallows.
#include <gtest/gtest.h>

#include "ripple.h"
#include "ssaver.h"
#include "effect_fixture.h"
#include "xvfb.h"

#include "x11.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

class SaverWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(xvfb.start(640, 480, 24));
        ASSERT_TRUE(prepare_saver_class());
    }
    void TearDown() override
    {
        if (hWnd && IsWindow(hWnd)) DestroyWindow(hWnd);
        drain();
        ss_mode = SS_MODE_CONFIG;
    }

    // Puts the pointer at (x, y) and creates the saver window for the mode.
    void create(int mode, int x = 100, int y = 100)
    {
        Display *d = XOpenDisplay(xvfb.display().c_str());
        XTestFakeMotionEvent(d, 0, x, y, CurrentTime);
        XSync(d, False);
        XCloseDisplay(d);
        ss_mode = mode;
        hWnd = CreateWindowExA(WS_EX_TOPMOST, "screensaver", "screensaver", WS_POPUP | WS_VISIBLE, 0, 0, nScreenWidth,
                               nScreenHeight, NULL, NULL, NULL, NULL);
        ASSERT_NE(hWnd, nullptr);
        drain();
    }
    // Handles every waiting message except close requests, which it counts.
    int drain()
    {
        int closes = 0;
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_CLOSE) {
                closes++;
                continue;
            }
            if (msg.message != WM_QUIT) DispatchMessageA(&msg);
        }
        return closes;
    }
    int closes_after(UINT msg, WPARAM wParam, LPARAM lParam)
    {
        drain();
        DefScreenSaverProc(hWnd, msg, wParam, lParam);
        return drain();
    }

    // The cursor's display count, read without changing it.
    static int cursor_count()
    {
        int count = ShowCursor(TRUE) - 1;
        ShowCursor(FALSE);
        return count;
    }

    PrivateXvfb xvfb;
    HWND hWnd = NULL;
};

TEST_F(SaverWindow, ElevenPixelMoveFromStartClosesTenDoesNot)
{
    create(SS_MODE_SAVER, 100, 100);
    EXPECT_EQ(closes_after(WM_MOUSEMOVE, 0, MAKELPARAM(104, 106)), 0);
    EXPECT_EQ(closes_after(WM_MOUSEMOVE, 0, MAKELPARAM(100, 100)), 0);
    EXPECT_EQ(closes_after(WM_MOUSEMOVE, 0, MAKELPARAM(96, 94)), 0);
    EXPECT_EQ(closes_after(WM_MOUSEMOVE, 0, MAKELPARAM(105, 106)), 1);
    EXPECT_EQ(closes_after(WM_MOUSEMOVE, 0, MAKELPARAM(89, 100)), 1);
}

TEST_F(SaverWindow, DistanceIsAlwaysFromTheCreationPosition)
{
    create(SS_MODE_SAVER, 200, 200);
    for (int step = 1; step <= 5; step++)
        EXPECT_EQ(closes_after(WM_MOUSEMOVE, 0, MAKELPARAM(200 + step, 200 + step)), 0) << step;
    EXPECT_EQ(closes_after(WM_MOUSEMOVE, 0, MAKELPARAM(206, 205)), 1);
}

TEST_F(SaverWindow, OnlyKeyDownsAndButtonDownsClose)
{
    create(SS_MODE_SAVER);
    for (UINT m : {WM_KEYDOWN, WM_SYSKEYDOWN, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN})
        EXPECT_EQ(closes_after(m, 0x41, 0), 1) << std::hex << m;
    for (UINT m : {WM_KEYUP, WM_SYSKEYUP, WM_CHAR, WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP, WM_MOUSEWHEEL})
        EXPECT_EQ(closes_after(m, 0x41, 0), 0) << std::hex << m;
}

TEST_F(SaverWindow, LosingActivationClosesGainingDoesNot)
{
    create(SS_MODE_SAVER);
    for (UINT m : {WM_ACTIVATE, WM_ACTIVATEAPP, WM_NCACTIVATE}) {
        EXPECT_EQ(closes_after(m, 0, 0), 1) << std::hex << m;
        EXPECT_EQ(closes_after(m, 1, 0), 0) << std::hex << m;
        EXPECT_EQ(closes_after(m, 0x10000, 0), 0) << "the whole wParam counts, not its low word";
    }
}

TEST_F(SaverWindow, ScreenSaveAndCloseCommandsAreSwallowedOnlyInSaverMode)
{
    create(SS_MODE_SAVER);
    EXPECT_EQ(DefScreenSaverProc(hWnd, WM_SYSCOMMAND, SC_SCREENSAVE, 0), 0);
    EXPECT_EQ(DefScreenSaverProc(hWnd, WM_SYSCOMMAND, SC_CLOSE, 0), 0);
    drain();
    EXPECT_TRUE(IsWindow(hWnd)) << "SC_CLOSE must not reach the default handling in saver mode";
}

TEST_F(SaverWindow, ScreenSaveAndCloseCommandsGetDefaultHandlingInPreview)
{
    create(SS_MODE_PREVIEW);
    DefScreenSaverProc(hWnd, WM_SYSCOMMAND, SC_SCREENSAVE, 0);
    drain();
    EXPECT_TRUE(IsWindow(hWnd));
    DefScreenSaverProc(hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    drain();
    EXPECT_FALSE(IsWindow(hWnd)) << "SC_CLOSE did not reach the default handling, which closes the window";
    hWnd = NULL;
}

TEST_F(SaverWindow, PreviewNeverClosesItselfNorHidesTheCursor)
{
    int count_before = cursor_count();
    create(SS_MODE_PREVIEW);
    for (UINT m : {WM_KEYDOWN, WM_SYSKEYDOWN, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN, WM_ACTIVATE,
                   WM_ACTIVATEAPP, WM_NCACTIVATE})
        EXPECT_EQ(closes_after(m, 0, 0), 0) << std::hex << m;
    EXPECT_EQ(closes_after(WM_MOUSEMOVE, 0, MAKELPARAM(600, 400)), 0);
    EXPECT_EQ(cursor_count(), count_before) << "the preview never hides the cursor";
}

TEST_F(SaverWindow, SaverHidesTheCursorAndShowsItAgainOnDestruction)
{
    int count_before = cursor_count();
    create(SS_MODE_SAVER);
    EXPECT_EQ(cursor_count(), count_before - 1) << "hidden once at creation";
    DestroyWindow(hWnd);
    hWnd = NULL;
    EXPECT_EQ(cursor_count(), count_before) << "shown again at destruction";
}

TEST_F(SaverWindow, DestructionStopsTheEffectAndPostsQuitWithZero)
{
    create(SS_MODE_SAVER);
    EXPECT_NE(ss_context(), nullptr);
    DestroyWindow(hWnd);
    hWnd = NULL;
    EXPECT_EQ(ss_context(), nullptr);
    MSG msg;
    bool quit = false;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        if (msg.message == WM_QUIT) {
            quit = true;
            EXPECT_EQ(msg.wParam, 0u);
        }
    EXPECT_TRUE(quit);
}

TEST_F(SaverWindow, CloseRequestDestroysTheWindowThroughDefaultHandling)
{
    create(SS_MODE_SAVER);
    DefScreenSaverProc(hWnd, WM_KEYDOWN, 0x41, 0);
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        if (msg.message != WM_QUIT) DispatchMessageA(&msg);
    EXPECT_FALSE(IsWindow(hWnd));
    hWnd = NULL;
}

// The launcher's loop, watched from a window procedure of the saver class: a frame resets every
// vertex's lighting coordinate, so a mark left there tells whether a frame came in between.
struct LoopWatch {
    int frames_between = 0; // frames drawn while messages were waiting
    bool frame_after = false;
} g_loop;
constexpr float kNoFrameMark = 7.0f;
constexpr int kBurst = 20;

LRESULT CALLBACK LoopWatchProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    float &mark = ripple_vertex[0][0].n[0];
    if (msg == WM_CREATE) PostMessageA(hWnd, WM_USER, 0, 0);
    if (msg == WM_USER) {
        if (wParam == 0)
            for (int k = 1; k <= kBurst; k++) PostMessageA(hWnd, WM_USER, k, 0);
        else if (mark != kNoFrameMark)
            g_loop.frames_between++;
        mark = kNoFrameMark;
    }
    if (msg == WM_DESTROY) g_loop.frame_after = mark != kNoFrameMark;
    return ScreenSaverProc(hWnd, msg, wParam, lParam);
}

TEST_F(SaverWindow, MessagesWaitingAreAllHandledBeforeTheNextFrame)
{
    Display *d = XOpenDisplay(xvfb.display().c_str());
    ASSERT_NE(d, nullptr);
    Window parent = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 320, 240, 0, 0, 0);
    XMapWindow(d, parent);
    XSync(d, False);
    // The class is the watcher's; with a previous instance given, the launcher registers none.
    x11::shutdown();
    WNDCLASSA wc = {};
    wc.lpfnWndProc = LoopWatchProc;
    wc.lpszClassName = "screensaver";
    ASSERT_NE(RegisterClassA(&wc), 0);
    // Some frames after the burst, the parent goes, and the preview with it.
    std::string name = xvfb.display();
    std::thread ender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        Display *e = XOpenDisplay(name.c_str());
        if (!e) return;
        XDestroyWindow(e, parent);
        XCloseDisplay(e);
    });
    std::string args = "/p " + std::to_string(parent);
    static char instance;
    int status = WinMain(reinterpret_cast<HINSTANCE>(&instance), reinterpret_cast<HINSTANCE>(&instance), &args[0],
                         SW_SHOWDEFAULT);
    ender.join();
    XCloseDisplay(d);
    x11::shutdown(); // the class goes with the watcher
    EXPECT_EQ(status, 0);
    EXPECT_EQ(g_loop.frames_between, 0) << "frames were drawn while messages were waiting";
    EXPECT_TRUE(g_loop.frame_after) << "no frame was drawn once the queue was empty";
}

} // namespace
