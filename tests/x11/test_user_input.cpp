// Input through the queue: X key, button, wheel and motion events become the Windows messages
// with their wParam and lParam, in the order they arrived, interleaved with posted messages.
#include "test_user_fixture.h"

#include <X11/extensions/Xfixes.h>
#include <dlfcn.h>

namespace {

// Whether the cursor the server shows now has any visible pixel (1 or 0), or -1 when the server
// cannot say. XFixes is loaded at run time: only this check needs it.
int cursor_visible(Display *dpy)
{
    static void *lib = dlopen("libXfixes.so.3", RTLD_NOW);
    if (!lib) return -1;
    auto query = reinterpret_cast<Bool (*)(Display *, int *, int *)>(dlsym(lib, "XFixesQueryExtension"));
    auto version = reinterpret_cast<Status (*)(Display *, int *, int *)>(dlsym(lib, "XFixesQueryVersion"));
    auto image = reinterpret_cast<XFixesCursorImage *(*)(Display *)>(dlsym(lib, "XFixesGetCursorImage"));
    int event_base, error_base, major = 4, minor = 0;
    if (!query || !version || !image || !query(dpy, &event_base, &error_base)) return -1;
    version(dpy, &major, &minor);
    XFixesCursorImage *img = image(dpy);
    if (!img) return -1;
    bool any = false;
    for (int i = 0; i < img->width * img->height; i++) any |= (img->pixels[i] >> 24) != 0;
    XFree(img);
    return any;
}

struct Expected {
    UINT msg;
    WPARAM wParam;
};

class Input : public X11Test {
protected:
    // A saver popup with the pointer resting at (x, y), its creation messages already handled.
    HWND saver_at(int x, int y)
    {
        move(x, y);
        HWND hwnd = create_popup();
        pump();
        recorded.clear();
        return hwnd;
    }

    static void expect_messages(const std::vector<Recorded> &got, const std::vector<Expected> &want, HWND hwnd)
    {
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); i++) {
            EXPECT_EQ(got[i].msg, want[i].msg) << i;
            EXPECT_EQ(got[i].wParam, want[i].wParam) << i;
            EXPECT_EQ(got[i].hwnd, hwnd) << i;
        }
    }
};

TEST_F(Input, KeysBecomeKeyMessagesWithVirtualKeyCodesAndAltMakesThemSystemKeys)
{
    ASSERT_TRUE(start());
    HWND hwnd = saver_at(10, 10);
    ASSERT_NE(hwnd, nullptr);
    for (KeySym k : {XK_a, XK_Escape, XK_F5, XK_Left}) tap(k);
    key(XK_Alt_L, true);
    tap(XK_x);
    key(XK_Alt_L, false);
    tap(XK_b);
    ASSERT_TRUE(pump_until([] { return count(WM_KEYUP) == 5; }));
    std::vector<Recorded> keys = only({WM_KEYDOWN, WM_KEYUP, WM_CHAR, WM_SYSKEYDOWN, WM_SYSKEYUP});
    expect_messages(keys,
                    {{WM_KEYDOWN, 'A'}, {WM_CHAR, 'a'}, {WM_KEYUP, 'A'},
                     {WM_KEYDOWN, VK_ESCAPE}, {WM_CHAR, 0x1B}, {WM_KEYUP, VK_ESCAPE},
                     {WM_KEYDOWN, 0x74}, {WM_KEYUP, 0x74}, {WM_KEYDOWN, 0x25}, {WM_KEYUP, 0x25},
                     {WM_SYSKEYDOWN, VK_MENU}, {WM_SYSKEYDOWN, 'X'}, {WM_SYSKEYUP, 'X'}, {WM_SYSKEYUP, VK_MENU},
                     {WM_KEYDOWN, 'B'}, {WM_CHAR, 'b'}, {WM_KEYUP, 'B'}},
                    hwnd);
    ASSERT_EQ(keys.size(), 17u);
    // Repeat count 1; releases carry the previous-state and transition bits; with Alt down, the context bit.
    EXPECT_EQ(keys[0].lParam & 0xFFFF, 1);
    EXPECT_EQ((DWORD)keys[0].lParam >> 30, 0u);
    EXPECT_EQ((DWORD)keys[2].lParam >> 30, 3u);
    EXPECT_NE(keys[11].lParam & (1 << 29), 0);
}

TEST_F(Input, ButtonsBecomeButtonMessagesAndTheWheelNeverAButtonDown)
{
    ASSERT_TRUE(start());
    HWND hwnd = saver_at(40, 30);
    ASSERT_NE(hwnd, nullptr);
    for (unsigned b = 1; b <= 7; b++) click(b);
    ASSERT_TRUE(pump_until([] { return count(WM_MOUSEWHEEL) == 4; }));
    // The pressed button is in the key state of its own down message; the wheel turns by notches.
    const WPARAM up = (WPARAM)(WORD)WHEEL_DELTA << 16, down = (WPARAM)(WORD)-WHEEL_DELTA << 16;
    std::vector<Recorded> mouse = only({WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MBUTTONDOWN, WM_MBUTTONUP, WM_RBUTTONDOWN,
                                        WM_RBUTTONUP, WM_MOUSEWHEEL});
    expect_messages(mouse,
                    {{WM_LBUTTONDOWN, MK_LBUTTON}, {WM_LBUTTONUP, 0}, {WM_MBUTTONDOWN, MK_MBUTTON}, {WM_MBUTTONUP, 0},
                     {WM_RBUTTONDOWN, MK_RBUTTON}, {WM_RBUTTONUP, 0}, {WM_MOUSEWHEEL, up}, {WM_MOUSEWHEEL, down},
                     {WM_MOUSEWHEEL, up}, {WM_MOUSEWHEEL, down}},
                    hwnd);
    ASSERT_FALSE(mouse.empty());
    EXPECT_EQ(mouse[0].lParam, MAKELPARAM(40, 30)) << "client pixels";
}

TEST_F(Input, MotionCarriesClientCoordinates)
{
    ASSERT_TRUE(start());
    HWND hwnd = saver_at(100, 100);
    ASSERT_NE(hwnd, nullptr);
    move(105, 106);
    ASSERT_TRUE(pump_until([] { return count(WM_MOUSEMOVE) > 0; }));
    EXPECT_EQ(last(WM_MOUSEMOVE)->lParam, MAKELPARAM(105, 106));
    EXPECT_EQ(last(WM_MOUSEMOVE)->hwnd, hwnd);
    DestroyWindow(hwnd);

    // Inside a child placed in another program's window, positions are relative to the child.
    Window parent = foreign_window(50, 60, 200, 100, 2);
    HWND child = create_window(10, 20, 100, 50, WS_CHILD | WS_VISIBLE, x11::hwnd_of(parent));
    ASSERT_NE(child, nullptr);
    recorded.clear();
    move(50 + 2 + 10 + 7, 60 + 2 + 20 + 9);
    ASSERT_TRUE(pump_until([] { return count(WM_MOUSEMOVE) > 0; }));
    EXPECT_EQ(last(WM_MOUSEMOVE)->lParam, MAKELPARAM(7, 9));
    EXPECT_EQ(last(WM_MOUSEMOVE)->hwnd, child);
}

TEST_F(Input, PostedMessagesInterleaveWithInputInArrivalOrder)
{
    ASSERT_TRUE(start());
    HWND hwnd = saver_at(10, 10);
    ASSERT_NE(hwnd, nullptr);
    tap(XK_a);
    ASSERT_TRUE(PostMessageA(hwnd, WM_USER + 1, 11, 0));
    click(1);
    ASSERT_TRUE(PostMessageA(hwnd, WM_USER + 2, 22, 0));
    ASSERT_TRUE(PostMessageA(NULL, WM_USER + 3, 33, 0)) << "a thread message";
    tap(XK_b);
    MSG msg;
    std::vector<UINT> order;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) order.push_back(msg.message);
    EXPECT_EQ(order, (std::vector<UINT>{WM_KEYDOWN, WM_KEYUP, WM_USER + 1, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_USER + 2,
                                        WM_USER + 3, WM_KEYDOWN, WM_KEYUP}));
}

TEST_F(Input, CursorCountHidesAndShowsThePointer)
{
    ASSERT_TRUE(start());
    if (cursor_visible(other) < 0) GTEST_SKIP() << "the server cannot show its cursor image";
    EXPECT_EQ(cursor_visible(other), 1);
    // Hidden before the window exists, as the saver does while handling WM_CREATE.
    EXPECT_EQ(ShowCursor(FALSE), -1);
    HWND hwnd = saver_at(10, 10);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(cursor_visible(other), 0);
    // Each step: hide (false) or show (true), the count it gives, and whether the pointer shows.
    for (auto [show, count, visible] : {std::tuple{false, -2, 0}, {true, -1, 0}, {true, 0, 1}, {false, -1, 0}}) {
        EXPECT_EQ(ShowCursor(show), count);
        EXPECT_EQ(cursor_visible(other), visible) << "count " << count;
    }
    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_EQ(cursor_visible(other), 1) << "only our windows hide it";
}

} // namespace
