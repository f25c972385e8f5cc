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
    for (int i = 0; i < img->width * img->height; i++)
        if (img->pixels[i] >> 24) any = true;
    XFree(img);
    return any;
}

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

    std::vector<UINT> messages_of(std::initializer_list<UINT> msgs)
    {
        std::vector<UINT> out;
        for (const Recorded &r : only(msgs)) out.push_back(r.msg);
        return out;
    }
};

const std::initializer_list<UINT> kKeyMessages = {WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP, WM_CHAR, WM_SYSCHAR};
const std::initializer_list<UINT> kMouseMessages = {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MBUTTONDOWN, WM_MBUTTONUP,
                                                    WM_RBUTTONDOWN, WM_RBUTTONUP, WM_MOUSEWHEEL};

TEST_F(Input, KeysBecomeKeyMessagesWithVirtualKeyCodes)
{
    ASSERT_TRUE(start());
    HWND hwnd = saver_at(10, 10);
    ASSERT_NE(hwnd, nullptr);
    tap(XK_a);
    tap(XK_Escape);
    tap(XK_F5);
    tap(XK_Left);
    ASSERT_TRUE(pump_until([] { return count(WM_KEYUP) == 4; }));
    std::vector<Recorded> keys = only({WM_KEYDOWN, WM_KEYUP, WM_CHAR});
    struct Expect {
        UINT msg;
        WPARAM wParam;
    };
    const Expect expected[] = {{WM_KEYDOWN, 'A'},   {WM_CHAR, 'a'},       {WM_KEYUP, 'A'},    {WM_KEYDOWN, VK_ESCAPE},
                               {WM_CHAR, 0x1B},     {WM_KEYUP, VK_ESCAPE}, {WM_KEYDOWN, 0x74}, {WM_KEYUP, 0x74},
                               {WM_KEYDOWN, 0x25},  {WM_KEYUP, 0x25}};
    ASSERT_EQ(keys.size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < keys.size(); i++) {
        EXPECT_EQ(keys[i].msg, expected[i].msg) << i;
        EXPECT_EQ(keys[i].wParam, expected[i].wParam) << i;
        EXPECT_EQ(keys[i].hwnd, hwnd);
    }
    // Repeat count 1; key releases carry the previous-state and transition bits.
    EXPECT_EQ(keys[0].lParam & 0xFFFF, 1);
    EXPECT_EQ((DWORD)keys[0].lParam >> 30, 0u);
    EXPECT_EQ((DWORD)keys[2].lParam >> 30, 3u);
}

TEST_F(Input, AltTurnsKeysIntoSystemKeys)
{
    ASSERT_TRUE(start());
    ASSERT_NE(saver_at(10, 10), nullptr);
    key(XK_Alt_L, true);
    tap(XK_x);
    key(XK_Alt_L, false);
    tap(XK_b);
    ASSERT_TRUE(pump_until([] { return count(WM_KEYUP) == 1; }));
    std::vector<Recorded> keys = only({WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP});
    ASSERT_EQ(keys.size(), 6u);
    EXPECT_EQ(keys[0].msg, (UINT)WM_SYSKEYDOWN);
    EXPECT_EQ(keys[0].wParam, (WPARAM)VK_MENU);
    EXPECT_EQ(keys[1].msg, (UINT)WM_SYSKEYDOWN);
    EXPECT_EQ(keys[1].wParam, (WPARAM)'X');
    EXPECT_NE(keys[1].lParam & (1 << 29), 0) << "the context bit says Alt is down";
    EXPECT_EQ(keys[2].msg, (UINT)WM_SYSKEYUP);
    EXPECT_EQ(keys[3].msg, (UINT)WM_SYSKEYUP);
    EXPECT_EQ(keys[3].wParam, (WPARAM)VK_MENU);
    EXPECT_EQ(keys[4].msg, (UINT)WM_KEYDOWN);
    EXPECT_EQ(keys[4].wParam, (WPARAM)'B');
    EXPECT_EQ(keys[5].msg, (UINT)WM_KEYUP);
}

TEST_F(Input, ButtonsBecomeButtonMessagesAndTheWheelNeverAButtonDown)
{
    ASSERT_TRUE(start());
    ASSERT_NE(saver_at(40, 30), nullptr);
    for (unsigned b = 1; b <= 7; b++) {
        button(b, true);
        button(b, false);
    }
    ASSERT_TRUE(pump_until([] { return count(WM_MOUSEWHEEL) == 4; }));
    std::vector<Recorded> mouse = only(kMouseMessages);
    const UINT expected[] = {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MBUTTONDOWN, WM_MBUTTONUP, WM_RBUTTONDOWN,
                             WM_RBUTTONUP,   WM_MOUSEWHEEL, WM_MOUSEWHEEL, WM_MOUSEWHEEL, WM_MOUSEWHEEL};
    ASSERT_EQ(mouse.size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < mouse.size(); i++) EXPECT_EQ(mouse[i].msg, expected[i]) << i;
    // The pressed button is in the key state of its own down message; positions are client pixels.
    EXPECT_EQ(mouse[0].wParam, (WPARAM)MK_LBUTTON);
    EXPECT_EQ(mouse[0].lParam, MAKELPARAM(40, 30));
    EXPECT_EQ(mouse[2].wParam, (WPARAM)MK_MBUTTON);
    EXPECT_EQ(mouse[4].wParam, (WPARAM)MK_RBUTTON);
    EXPECT_EQ(mouse[1].wParam, 0u);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(mouse[6].wParam), WHEEL_DELTA);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(mouse[7].wParam), -WHEEL_DELTA);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(mouse[8].wParam), WHEEL_DELTA);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(mouse[9].wParam), -WHEEL_DELTA);
}

TEST_F(Input, MotionCarriesClientCoordinates)
{
    ASSERT_TRUE(start());
    HWND hwnd = saver_at(100, 100);
    ASSERT_NE(hwnd, nullptr);
    POINT start_pt;
    ASSERT_TRUE(GetCursorPos(&start_pt));
    EXPECT_EQ(start_pt.x, 100);
    EXPECT_EQ(start_pt.y, 100);
    move(105, 106);
    ASSERT_TRUE(pump_until([] { return count(WM_MOUSEMOVE) > 0; }));
    EXPECT_EQ(last(WM_MOUSEMOVE)->lParam, MAKELPARAM(105, 106));
    EXPECT_EQ(last(WM_MOUSEMOVE)->hwnd, hwnd);
    DestroyWindow(hwnd);

    // Inside a child placed in another program's window, positions are relative to the child.
    Window parent = foreign_window(50, 60, 200, 100, 2);
    HWND child = CreateWindowExA(0, "recorder", "", WS_CHILD | WS_VISIBLE, 10, 20, 100, 50, x11::hwnd_of(parent),
                                 NULL, NULL, NULL);
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
    button(1, true);
    button(1, false);
    ASSERT_TRUE(PostMessageA(hwnd, WM_USER + 2, 22, 0));
    ASSERT_TRUE(PostMessageA(NULL, WM_USER + 3, 33, 0)) << "a thread message";
    tap(XK_b);
    MSG msg;
    std::vector<UINT> order;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) order.push_back(msg.message);
    const std::vector<UINT> expected = {WM_KEYDOWN,     WM_KEYUP,   WM_USER + 1, WM_LBUTTONDOWN, WM_LBUTTONUP,
                                        WM_USER + 2,    WM_USER + 3, WM_KEYDOWN, WM_KEYUP};
    EXPECT_EQ(order, expected);
}

TEST_F(Input, PeekingNeverWaitsAndNoRemoveLeavesTheMessage)
{
    ASSERT_TRUE(start());
    HWND hwnd = saver_at(10, 10);
    ASSERT_NE(hwnd, nullptr);
    HWND other_window = create_toplevel(0, 0, 10, 10, WS_POPUP);
    MSG msg;
    // An empty queue answers at once, again and again.
    for (int i = 0; i < 100; i++) ASSERT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));

    ASSERT_TRUE(PostMessageA(other_window, WM_USER + 1, 1, 0));
    ASSERT_TRUE(PostMessageA(hwnd, WM_USER + 2, 2, 0));
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_USER + 1);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_USER + 1) << "PM_NOREMOVE left it first";
    // A window filter skips other windows' messages; a range filter skips other numbers.
    ASSERT_TRUE(PeekMessageA(&msg, hwnd, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_USER + 2);
    EXPECT_EQ(msg.hwnd, hwnd);
    EXPECT_FALSE(PeekMessageA(&msg, NULL, WM_USER + 5, WM_USER + 9, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, NULL, WM_USER, WM_USER + 1, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, other_window);
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(nullptr, NULL, 0, 0, PM_REMOVE));
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
    EXPECT_EQ(ShowCursor(FALSE), -2);
    EXPECT_EQ(ShowCursor(TRUE), -1);
    EXPECT_EQ(cursor_visible(other), 0) << "still below zero";
    EXPECT_EQ(ShowCursor(TRUE), 0);
    EXPECT_EQ(cursor_visible(other), 1);
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_EQ(cursor_visible(other), 0);
    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_EQ(cursor_visible(other), 1) << "only our windows hide it";
}

TEST_F(Input, MessagesForADestroyedWindowAreDropped)
{
    ASSERT_TRUE(start());
    HWND hwnd = saver_at(10, 10);
    ASSERT_NE(hwnd, nullptr);
    ASSERT_TRUE(PostMessageA(hwnd, WM_USER, 0, 0));
    tap(XK_a);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE));
    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    MSG stale = {};
    stale.hwnd = hwnd;
    stale.message = WM_USER;
    recorded.clear();
    EXPECT_EQ(DispatchMessageA(&stale), 0);
    EXPECT_TRUE(recorded.empty());
}

} // namespace
