// Pixel formats and GL contexts over GLX: choosing and setting a format, drawing through a context,
// what reaches the screen on swap and on release, and failures without GLX or with stale handles.
#include "test_user_fixture.h"

#include <GL/gl.h>

namespace {

class GlWindow : public X11Test {
protected:
    void TearDown() override
    {
        wglMakeCurrent(NULL, NULL);
        X11Test::TearDown();
    }

    static PIXELFORMATDESCRIPTOR request(HDC dc, bool double_buffer)
    {
        PIXELFORMATDESCRIPTOR pfd = {};
        pfd.nSize = sizeof pfd;
        pfd.nVersion = 1;
        pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | (double_buffer ? PFD_DOUBLEBUFFER : 0);
        pfd.iPixelType = PFD_TYPE_RGBA;
        pfd.cColorBits = (BYTE)GetDeviceCaps(dc, BITSPIXEL);
        return pfd;
    }

    // Makes a visible window at (x, y) with a context of the given kind current on it.
    HGLRC gl_window(int x, int y, int w, int h, bool double_buffer, HWND *hwnd, HDC *dc)
    {
        *hwnd = create_window(x, y, w, h);
        if (!*hwnd) return nullptr;
        *dc = GetDC(*hwnd);
        PIXELFORMATDESCRIPTOR pfd = request(*dc, double_buffer);
        int format = ChoosePixelFormat(*dc, &pfd);
        if (!format || !SetPixelFormat(*dc, format, &pfd)) return nullptr;
        HGLRC rc = wglCreateContext(*dc);
        return rc && wglMakeCurrent(*dc, rc) ? rc : nullptr;
    }

    static void clear_to(float r, float g, float b, int w, int h)
    {
        glViewport(0, 0, w, h);
        glClearColor(r, g, b, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }

    unsigned screen_at(int x, int y)
    {
        unsigned px = 0;
        read_screen(xvfb.display(), x, y, 1, 1, &px);
        return px;
    }
};

TEST_F(GlWindow, WithoutGlxNoFormatIsChosen)
{
    ASSERT_TRUE(start(640, 480, 24, "-extension GLX"));
    HWND hwnd = create_window(0, 0, 100, 100);
    ASSERT_NE(hwnd, nullptr);
    HDC dc = GetDC(hwnd);
    EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), 24);
    for (bool double_buffer : {true, false}) {
        PIXELFORMATDESCRIPTOR pfd = request(dc, double_buffer);
        EXPECT_EQ(ChoosePixelFormat(dc, &pfd), 0);
        EXPECT_FALSE(SetPixelFormat(dc, 1, &pfd));
    }
    EXPECT_EQ(wglCreateContext(dc), nullptr);
    EXPECT_FALSE(SwapBuffers(dc));
    // The window itself carries on.
    EXPECT_TRUE(PostMessageA(hwnd, WM_CLOSE, 0, 0));
    pump();
    EXPECT_EQ(count(WM_DESTROY), 1);
}

TEST_F(GlWindow, ChosenFormatKeepsItsBufferingAndAFrameShowsOnSwapOrOnRelease)
{
    ASSERT_TRUE(start());
    for (bool double_buffer : {true, false}) {
        SCOPED_TRACE(double_buffer ? "double" : "single");
        const int x = double_buffer ? 20 : 200, y = 30;
        HWND hwnd = nullptr;
        HDC dc = nullptr;
        HGLRC rc = gl_window(x, y, 64, 48, double_buffer, &hwnd, &dc);
        ASSERT_NE(rc, nullptr);
        PIXELFORMATDESCRIPTOR same = request(dc, double_buffer), different = request(dc, !double_buffer);
        const int format = ChoosePixelFormat(dc, &same);
        ASSERT_GT(format, 0);
        const x11::PixelFormat &f = x11::pixel_formats().at(format - 1);
        EXPECT_TRUE(f.rgba);
        EXPECT_EQ(f.double_buffer, double_buffer);
        EXPECT_EQ(f.visual.depth, 24);
        const GLubyte *renderer = glGetString(GL_RENDERER);
        ASSERT_TRUE(renderer && renderer[0]);
        clear_to(1.0f, 0.0f, 1.0f, 64, 48);
        if (double_buffer) {
            ASSERT_TRUE(SwapBuffers(dc));
        }
        ASSERT_TRUE(wglMakeCurrent(NULL, NULL));
        EXPECT_EQ(glXGetCurrentContext(), nullptr) << "released";
        for (auto [dx, dy] : {std::pair{0, 0}, {63, 47}, {30, 20}}) EXPECT_EQ(screen_at(x + dx, y + dy), 0xFF00FFu);
        EXPECT_NE(screen_at(x - 1, y), 0xFF00FFu) << "nothing outside the window";
        EXPECT_NE(screen_at(x + 64, y + 48), 0xFF00FFu);

        // The same format again is accepted; another is not.
        EXPECT_TRUE(SetPixelFormat(dc, format, &same));
        EXPECT_FALSE(SetPixelFormat(dc, ChoosePixelFormat(dc, &different), &different));
        ASSERT_TRUE(wglDeleteContext(rc));
        ReleaseDC(hwnd, dc);
    }
}

TEST_F(GlWindow, GlChildFollowsTheWindowAndLeavesInputToIt)
{
    ASSERT_TRUE(start());
    HWND hwnd = nullptr;
    HDC dc = nullptr;
    HGLRC rc = gl_window(0, 0, 64, 64, true, &hwnd, &dc);
    ASSERT_NE(rc, nullptr);
    wglMakeCurrent(NULL, NULL);
    Window win = x11::xid_of(hwnd);
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    ASSERT_TRUE(XQueryTree(other, win, &root, &parent, &children, &n));
    ASSERT_EQ(n, 1u);
    Window gl_child = children[0];
    XFree(children);

    // Resized from outside: the GL child fills the new client area, and frames cover all of it.
    XResizeWindow(other, win, 200, 120);
    XSync(other, False);
    ASSERT_TRUE(pump_until([] { return count(WM_SIZE) > 1; }));
    EXPECT_EQ(last(WM_SIZE)->lParam, MAKELPARAM(200, 120));
    XMoveWindow(other, win, 5, 5);
    XSync(other, False);
    pump_for(50);
    EXPECT_EQ(count(WM_SIZE), 2) << "moving without resizing is no size change";
    XWindowAttributes wa;
    ASSERT_TRUE(XGetWindowAttributes(other, gl_child, &wa));
    EXPECT_EQ(wa.width, 200);
    EXPECT_EQ(wa.height, 120);
    EXPECT_EQ(wa.all_event_masks & (ButtonPressMask | KeyPressMask), 0) << "nobody listens on the GL child but us";
    // A software renderer may still draw the first frame after a resize at the old size, so
    // look at the second, as the saver draws frame after frame.
    for (int frame = 0; frame < 2; frame++) {
        ASSERT_TRUE(wglMakeCurrent(dc, rc));
        clear_to(1.0f, 1.0f, 0.0f, 200, 120);
        SwapBuffers(dc);
        wglMakeCurrent(NULL, NULL);
    }
    EXPECT_EQ(screen_at(5 + 199, 5 + 119), 0xFFFF00u);

    // A click on the picture reaches the window.
    recorded.clear();
    move(150, 100);
    click(1);
    ASSERT_TRUE(pump_until([] { return count(WM_LBUTTONUP) > 0; }));
    EXPECT_EQ(last(WM_LBUTTONUP)->hwnd, hwnd);
    EXPECT_EQ(last(WM_LBUTTONUP)->lParam, MAKELPARAM(145, 95));
    wglDeleteContext(rc);
}

TEST_F(GlWindow, StaleHandlesAndMismatchedFormatsFailByResult)
{
    ASSERT_TRUE(start());
    HWND hwnd = nullptr;
    HDC dc = nullptr;
    HGLRC rc = gl_window(0, 0, 32, 32, true, &hwnd, &dc);
    ASSERT_NE(rc, nullptr);
    ASSERT_TRUE(wglDeleteContext(rc));
    EXPECT_EQ(glXGetCurrentContext(), nullptr) << "deleting the current context releases it";
    EXPECT_FALSE(wglDeleteContext(rc));
    EXPECT_FALSE(wglMakeCurrent(dc, rc));

    // A window without a pixel format gets no context or swap; formats out of range are refused.
    HDC plain_dc = GetDC(create_window(40, 0, 32, 32));
    EXPECT_EQ(wglCreateContext(plain_dc), nullptr);
    EXPECT_FALSE(SwapBuffers(plain_dc));
    PIXELFORMATDESCRIPTOR pfd = request(plain_dc, false);
    EXPECT_FALSE(SetPixelFormat(plain_dc, 100000, &pfd));
    // A context made for one format is not made current on a window of another.
    HGLRC fresh = wglCreateContext(dc);
    ASSERT_NE(fresh, nullptr);
    ASSERT_TRUE(SetPixelFormat(plain_dc, ChoosePixelFormat(plain_dc, &pfd), &pfd));
    EXPECT_FALSE(wglMakeCurrent(plain_dc, fresh));

    // Once the window is gone, its DC serves nothing.
    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_FALSE(wglMakeCurrent(dc, fresh));
    EXPECT_FALSE(SwapBuffers(dc));
    EXPECT_EQ(wglCreateContext(dc), nullptr);
    EXPECT_TRUE(wglDeleteContext(fresh));
}

} // namespace
