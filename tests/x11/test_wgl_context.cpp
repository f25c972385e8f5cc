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
        *hwnd = create_toplevel(x, y, w, h);
        if (!*hwnd) return nullptr;
        *dc = GetDC(*hwnd);
        PIXELFORMATDESCRIPTOR pfd = request(*dc, double_buffer);
        int format = ChoosePixelFormat(*dc, &pfd);
        if (!format || !SetPixelFormat(*dc, format, &pfd)) return nullptr;
        HGLRC rc = wglCreateContext(*dc);
        if (!rc || !wglMakeCurrent(*dc, rc)) return nullptr;
        return rc;
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
    HWND hwnd = create_toplevel(0, 0, 100, 100);
    ASSERT_NE(hwnd, nullptr);
    HDC dc = GetDC(hwnd);
    EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), 24);
    for (bool double_buffer : {true, false}) {
        PIXELFORMATDESCRIPTOR pfd = request(dc, double_buffer);
        EXPECT_EQ(ChoosePixelFormat(dc, &pfd), 0);
    }
    PIXELFORMATDESCRIPTOR pfd = request(dc, true);
    EXPECT_FALSE(SetPixelFormat(dc, 1, &pfd));
    EXPECT_EQ(wglCreateContext(dc), nullptr);
    EXPECT_FALSE(SwapBuffers(dc));
    // The window itself carries on.
    EXPECT_TRUE(PostMessageA(hwnd, WM_CLOSE, 0, 0));
    pump();
    EXPECT_EQ(count(WM_DESTROY), 1);
}

TEST_F(GlWindow, ChosenFormatMatchesTheRequest)
{
    ASSERT_TRUE(start());
    HWND hwnd = create_toplevel(0, 0, 100, 100);
    HDC dc = GetDC(hwnd);
    const std::vector<x11::PixelFormat> &formats = x11::pixel_formats();
    ASSERT_FALSE(formats.empty());
    for (bool double_buffer : {true, false}) {
        PIXELFORMATDESCRIPTOR pfd = request(dc, double_buffer);
        int format = ChoosePixelFormat(dc, &pfd);
        ASSERT_GT(format, 0);
        ASSERT_LE((size_t)format, formats.size());
        const x11::PixelFormat &f = formats[format - 1];
        EXPECT_TRUE(f.rgba);
        EXPECT_EQ(f.double_buffer, double_buffer);
        EXPECT_EQ(f.visual.depth, 24);
        EXPECT_EQ(f.level, 0);
    }
    // A memory DC and a missing request give no format.
    HDC mem = CreateCompatibleDC(dc);
    PIXELFORMATDESCRIPTOR pfd = request(dc, true);
    EXPECT_EQ(ChoosePixelFormat(mem, &pfd), 0);
    EXPECT_EQ(ChoosePixelFormat(dc, nullptr), 0);
    DeleteDC(mem);
}

TEST_F(GlWindow, DoubleBufferedFrameShowsAfterSwap)
{
    ASSERT_TRUE(start());
    HWND hwnd = nullptr;
    HDC dc = nullptr;
    HGLRC rc = gl_window(20, 30, 64, 48, true, &hwnd, &dc);
    ASSERT_NE(rc, nullptr);
    const GLubyte *renderer = glGetString(GL_RENDERER);
    ASSERT_NE(renderer, nullptr);
    EXPECT_NE(renderer[0], 0);
    glViewport(0, 0, 64, 48);
    glClearColor(1.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ASSERT_TRUE(SwapBuffers(dc));
    ASSERT_TRUE(wglMakeCurrent(NULL, NULL));
    EXPECT_EQ(glXGetCurrentContext(), nullptr) << "released";
    for (auto [x, y] : {std::pair{20, 30}, {83, 77}, {50, 50}}) EXPECT_EQ(screen_at(x, y), 0xFF00FFu) << x << "," << y;
    EXPECT_NE(screen_at(19, 30), 0xFF00FFu) << "nothing outside the window";
    EXPECT_NE(screen_at(84, 78), 0xFF00FFu);

    // The same format again is accepted; another is not.
    PIXELFORMATDESCRIPTOR pfd = request(dc, true);
    int format = ChoosePixelFormat(dc, &pfd);
    EXPECT_TRUE(SetPixelFormat(dc, format, &pfd));
    PIXELFORMATDESCRIPTOR single = request(dc, false);
    EXPECT_FALSE(SetPixelFormat(dc, ChoosePixelFormat(dc, &single), &single));

    ASSERT_TRUE(wglDeleteContext(rc));
    ReleaseDC(hwnd, dc);
}

TEST_F(GlWindow, SingleBufferedFrameReachesTheWindowOnRelease)
{
    ASSERT_TRUE(start());
    HWND hwnd = nullptr;
    HDC dc = nullptr;
    HGLRC rc = gl_window(100, 100, 40, 40, false, &hwnd, &dc);
    ASSERT_NE(rc, nullptr);
    glViewport(0, 0, 40, 40);
    glClearColor(0.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    // No swap: releasing the context is what sends the frame.
    ASSERT_TRUE(wglMakeCurrent(NULL, NULL));
    EXPECT_EQ(screen_at(120, 120), 0x00FFFFu);
    EXPECT_TRUE(wglDeleteContext(rc));
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
    RECT client;
    ASSERT_TRUE(GetClientRect(hwnd, &client));
    EXPECT_EQ(client.right, 200);
    EXPECT_EQ(client.bottom, 120);
    // Moving without resizing is no size change.
    XMoveWindow(other, win, 5, 5);
    XSync(other, False);
    for (int i = 0; i < 10; i++) {
        pump();
        Sleep(5);
    }
    EXPECT_EQ(count(WM_SIZE), 2);
    XWindowAttributes wa;
    ASSERT_TRUE(XGetWindowAttributes(other, gl_child, &wa));
    EXPECT_EQ(wa.width, 200);
    EXPECT_EQ(wa.height, 120);
    EXPECT_EQ(wa.all_event_masks & (ButtonPressMask | KeyPressMask), 0) << "nobody listens on the GL child but us";
    // The saver draws frame after frame; a software renderer may still draw the first frame after
    // a resize at the old size, so look at the second.
    for (int frame = 0; frame < 2; frame++) {
        ASSERT_TRUE(wglMakeCurrent(dc, rc));
        glViewport(0, 0, 200, 120);
        glClearColor(1.0f, 1.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        SwapBuffers(dc);
        wglMakeCurrent(NULL, NULL);
    }
    EXPECT_EQ(screen_at(5 + 199, 5 + 119), 0xFFFF00u);

    // A click on the picture reaches the window.
    recorded.clear();
    move(150, 100);
    button(1, true);
    button(1, false);
    ASSERT_TRUE(pump_until([] { return count(WM_LBUTTONUP) > 0; }));
    EXPECT_EQ(last(WM_LBUTTONUP)->hwnd, hwnd);
    EXPECT_EQ(last(WM_LBUTTONUP)->lParam, MAKELPARAM(145, 95));
    wglDeleteContext(rc);
}

TEST_F(GlWindow, StaleHandlesFailByResult)
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
    EXPECT_TRUE(wglMakeCurrent(NULL, NULL));

    // A window without a pixel format gets no context; formats out of range are refused.
    HWND plain = create_toplevel(40, 0, 32, 32);
    HDC plain_dc = GetDC(plain);
    EXPECT_EQ(wglCreateContext(plain_dc), nullptr);
    PIXELFORMATDESCRIPTOR pfd = request(plain_dc, true);
    EXPECT_FALSE(SetPixelFormat(plain_dc, 0, &pfd));
    EXPECT_FALSE(SetPixelFormat(plain_dc, 100000, &pfd));
    EXPECT_FALSE(SwapBuffers(plain_dc));
    HDC mem = CreateCompatibleDC(plain_dc);
    EXPECT_FALSE(SwapBuffers(mem));
    EXPECT_EQ(wglCreateContext(mem), nullptr);
    EXPECT_EQ(wglCreateContext(nullptr), nullptr);
    DeleteDC(mem);

    // A context made for one format is not made current on a window of another.
    HGLRC fresh = wglCreateContext(dc);
    ASSERT_NE(fresh, nullptr);
    PIXELFORMATDESCRIPTOR single = request(plain_dc, false);
    ASSERT_TRUE(SetPixelFormat(plain_dc, ChoosePixelFormat(plain_dc, &single), &single));
    EXPECT_FALSE(wglMakeCurrent(plain_dc, fresh));

    // Once the window is gone, its DC serves nothing.
    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_FALSE(wglMakeCurrent(dc, fresh));
    EXPECT_FALSE(SwapBuffers(dc));
    EXPECT_EQ(wglCreateContext(dc), nullptr);
    EXPECT_TRUE(wglDeleteContext(fresh));
    EXPECT_EQ(ReleaseDC(hwnd, dc), 1);
}

} // namespace
