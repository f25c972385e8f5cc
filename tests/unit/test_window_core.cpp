// The window rules both display backends share, over the null backend: key, button, wheel and
// motion messages and their parameters, activation, posted, sent, peeked and dispatched messages
// around a window's destruction, windows inside windows, monitor changes, a lost connection and
// the cursor count. The backends' own tests check what their servers send arrives here.
#include "null.h"
#include "queue.h"
#include "window_core.h"

#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <vector>

namespace {

std::vector<MSG> g_got;

LRESULT CALLBACK record(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    g_got.push_back({hwnd, msg, wParam, lParam, 0, {0, 0}});
    return msg == WM_USER ? 42 : 0;
}

class WindowCore : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::choose_backend(platform::BackendKind::null);
        null::shutdown();
        g_got.clear();
        WNDCLASSA wc = {};
        wc.lpfnWndProc = record;
        wc.lpszClassName = "core";
        ASSERT_NE(RegisterClassA(&wc), 0);
        hwnd = CreateWindowExA(0, "core", "", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(hwnd, nullptr);
        g_got.clear();
    }
    void TearDown() override { null::shutdown(); }

    // Everything queued, as PeekMessageA hands it out.
    static std::vector<MSG> drain()
    {
        std::vector<MSG> out;
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) out.push_back(m);
        return out;
    }
    static int count(UINT msg)
    {
        int n = 0;
        for (const MSG &m : g_got) n += m.message == msg;
        return n;
    }

    HWND hwnd = nullptr;
};

struct KeyStep {
    unsigned long keysym;
    bool press, alt_held, ctrl_held;
    UINT msg;
    WPARAM vk;
    DWORD high_bits; // bits 24 (extended), 29 (context), 30 (previous state), 31 (transition)
};

TEST_F(WindowCore, KeysCarryWindowsLParamBitsAndAltMakesSystemKeys)
{
    constexpr DWORD ext = 1u << 24, ctx = 1u << 29, prev = 1u << 30, up = 1u << 31;
    const KeyStep steps[] = {
        {XK_a, true, false, false, WM_KEYDOWN, 'A', 0},
        {XK_a, true, false, false, WM_KEYDOWN, 'A', prev},  // held: a repeat
        {XK_a, false, false, false, WM_KEYUP, 'A', prev | up},
        {XK_a, true, false, false, WM_KEYDOWN, 'A', 0},     // released in between: no repeat
        {XK_a, false, false, false, WM_KEYUP, 'A', prev | up},
        {XK_Alt_L, true, false, false, WM_SYSKEYDOWN, VK_MENU, ctx},
        {XK_x, true, true, false, WM_SYSKEYDOWN, 'X', ctx},
        {XK_x, false, true, false, WM_SYSKEYUP, 'X', ctx | prev | up},
        {XK_x, true, true, true, WM_KEYDOWN, 'X', ctx},     // Ctrl+Alt is no system key
        {XK_x, false, true, true, WM_KEYUP, 'X', ctx | prev | up},
        {XK_ISO_Level3_Shift, true, false, false, WM_KEYDOWN, VK_MENU, ext}, // AltGr is no Alt
        {XK_F10, true, false, false, WM_SYSKEYDOWN, VK_F10, 0},
        {XK_F10, true, false, true, WM_KEYDOWN, VK_F10, prev},
        {XK_Left, true, false, false, WM_KEYDOWN, 0x25, ext},
    };
    unsigned keycode = 9;
    unsigned long last = 0;
    for (const KeyStep &s : steps) {
        if (s.keysym != last) keycode++;
        last = s.keysym;
        EXPECT_EQ(platform::input_key(hwnd, keycode, s.keysym, s.alt_held, s.ctrl_held, s.press, 0), s.vk);
    }
    std::vector<MSG> got = drain();
    ASSERT_EQ(got.size(), std::size(steps));
    keycode = 9;
    last = 0;
    for (size_t i = 0; i < got.size(); i++) {
        if (steps[i].keysym != last) keycode++;
        last = steps[i].keysym;
        DWORD lp = static_cast<DWORD>(got[i].lParam);
        EXPECT_EQ(got[i].message, steps[i].msg) << i;
        EXPECT_EQ(got[i].wParam, steps[i].vk) << i;
        EXPECT_EQ(lp & 0xFFFF, 1u) << i << ": repeat count";
        EXPECT_EQ((lp >> 16) & 0xFF, keycode - 8) << i << ": scan code";
        EXPECT_EQ(lp & 0xFF000000u, steps[i].high_bits) << i;
    }

    // A key still down when the keys are released (focus came back) is a fresh press.
    platform::input_key(hwnd, 50, XK_b, false, false, true, 0);
    platform::release_keys();
    platform::input_key(hwnd, 50, XK_b, false, false, true, 0);
    got = drain();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(static_cast<DWORD>(got[1].lParam) & prev, 0u);
}

// One pointer report: a button (down or up), the wheel (up: away from the user) or motion.
struct PointerStep {
    enum Kind { press_or_release, wheel, motion } kind;
    platform::MouseButton button;
    bool press; // for the wheel: up
    WPARAM mk;  // the MK_ bits before the report
    UINT msg;
    WPARAM wparam;
};

TEST_F(WindowCore, ButtonsWheelAndMotionCarryTheKeyStateAndThePoint)
{
    using platform::MouseButton;
    const WORD up = WHEEL_DELTA, down = static_cast<WORD>(-WHEEL_DELTA);
    const PointerStep steps[] = {
        {PointerStep::press_or_release, MouseButton::left, true, MK_SHIFT, WM_LBUTTONDOWN, MK_SHIFT | MK_LBUTTON},
        {PointerStep::press_or_release, MouseButton::middle, true, MK_LBUTTON, WM_MBUTTONDOWN, MK_LBUTTON | MK_MBUTTON},
        {PointerStep::press_or_release, MouseButton::right, true, 0, WM_RBUTTONDOWN, MK_RBUTTON},
        {PointerStep::press_or_release, MouseButton::left, false, MK_LBUTTON | MK_CONTROL, WM_LBUTTONUP, MK_CONTROL},
        {PointerStep::press_or_release, MouseButton::middle, false, MK_MBUTTON, WM_MBUTTONUP, 0},
        {PointerStep::press_or_release, MouseButton::right, false, MK_RBUTTON | MK_SHIFT, WM_RBUTTONUP, MK_SHIFT},
        {PointerStep::motion, MouseButton::left, false, MK_RBUTTON, WM_MOUSEMOVE, MK_RBUTTON},
        {PointerStep::wheel, MouseButton::left, true, MK_SHIFT, WM_MOUSEWHEEL, MAKEWPARAM(MK_SHIFT, up)},
        {PointerStep::wheel, MouseButton::left, false, 0, WM_MOUSEWHEEL, MAKEWPARAM(0, down)},
    };
    for (size_t i = 0; i < std::size(steps); i++) {
        const PointerStep &s = steps[i];
        POINT client = {LONG(i), LONG(2 * i)}, screen = {LONG(100 + i), LONG(200 + i)};
        DWORD time = DWORD(1000 + i);
        if (s.kind == PointerStep::press_or_release)
            platform::input_button(hwnd, s.button, s.press, s.mk, client, screen, time);
        if (s.kind == PointerStep::wheel) platform::input_wheel(hwnd, s.press, s.mk, screen, time);
        if (s.kind == PointerStep::motion) platform::input_motion(hwnd, s.mk, client, screen, time);
    }
    std::vector<MSG> got = drain();
    ASSERT_EQ(got.size(), std::size(steps));
    for (size_t i = 0; i < got.size(); i++) {
        bool wheel = steps[i].kind == PointerStep::wheel;
        POINT at = wheel ? POINT{LONG(100 + i), LONG(200 + i)} : POINT{LONG(i), LONG(2 * i)};
        EXPECT_EQ(got[i].message, steps[i].msg) << i;
        EXPECT_EQ(got[i].wParam, steps[i].wparam) << i;
        EXPECT_EQ(got[i].lParam, MAKELPARAM(at.x, at.y)) << i << ": client point, the screen's for the wheel";
        EXPECT_EQ(got[i].pt.x, LONG(100 + i)) << i;
        EXPECT_EQ(got[i].time, DWORD(1000 + i)) << i;
    }
}

TEST_F(WindowCore, ActivationIsSentAtThePeekInWindowsOrderAndOnlyToLiveWindows)
{
    platform::input_focus(hwnd, true);
    platform::input_focus(hwnd, false);
    EXPECT_TRUE(drain().empty()) << "sent, not posted";
    std::vector<std::pair<UINT, WPARAM>> order;
    for (const MSG &m : g_got) order.push_back({m.message, m.wParam});
    EXPECT_EQ(order, (std::vector<std::pair<UINT, WPARAM>>{{WM_ACTIVATEAPP, TRUE},
                                                          {WM_NCACTIVATE, TRUE},
                                                          {WM_ACTIVATE, WA_ACTIVE},
                                                          {WM_NCACTIVATE, FALSE},
                                                          {WM_ACTIVATE, WA_INACTIVE},
                                                          {WM_ACTIVATEAPP, FALSE}}));
    g_got.clear();
    platform::input_focus(hwnd, true);
    platform::surface_closed(hwnd);
    drain();
    EXPECT_EQ(count(WM_ACTIVATE), 0) << "the server closed it before the peek";
    EXPECT_EQ(count(WM_DESTROY), 1);
}

TEST_F(WindowCore, PostedAndDispatchedMessagesReachOnlyLiveWindows)
{
    EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(uintptr_t(0x7777)), WM_USER, 0, 0)) << "not ours";
    ASSERT_TRUE(PostMessageA(hwnd, WM_USER, 1, 0));
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 1, 2, 0)) << "a thread message";
    std::vector<MSG> got = drain();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(DispatchMessageA(&got[0]), 42) << "the procedure's answer";
    EXPECT_EQ(DispatchMessageA(&got[1]), 0) << "a thread message goes to no procedure";
    ASSERT_EQ(g_got.size(), 1u);
    EXPECT_EQ(g_got[0].wParam, 1u);

    // Destroyed by the program: what was queued for it goes with it.
    HWND second = CreateWindowExA(0, "core", "", WS_POPUP, 0, 0, 5, 5, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(PostMessageA(second, WM_USER, 6, 0));
    platform::input_key(second, 21, XK_a, false, false, true, 0);
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    ASSERT_TRUE(DestroyWindow(second));
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));

    // Closed by the server: what was queued for it goes, nothing more reaches it but one WM_DESTROY.
    ASSERT_TRUE(PostMessageA(hwnd, WM_USER, 3, 0));
    platform::input_key(hwnd, 20, XK_a, false, false, true, 0);
    platform::surface_closed(hwnd);
    EXPECT_FALSE(PostMessageA(hwnd, WM_USER, 4, 0));
    MSG stale = {hwnd, WM_USER, 5, 0, 0, {0, 0}};
    g_got.clear();
    EXPECT_EQ(DispatchMessageA(&stale), 0);
    EXPECT_TRUE(g_got.empty());
    EXPECT_TRUE(drain().empty());
    EXPECT_EQ(count(WM_DESTROY), 1) << "delivered at the peek";
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(DestroyWindow(hwnd));
    EXPECT_EQ(count(WM_DESTROY), 1);
}

TEST_F(WindowCore, PeekingWithoutRemovingOrByRangeLeavesTheRestInOrder)
{
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "an empty queue";
    ASSERT_TRUE(PostMessageA(hwnd, WM_USER + 1, 1, 0));
    ASSERT_TRUE(PostMessageA(hwnd, WM_USER + 2, 2, 0));
    for (int i = 0; i < 2; i++) {
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
        EXPECT_EQ(msg.message, (UINT)WM_USER + 1);
    }
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 2, WM_USER + 9, PM_REMOVE)) << "a range skips other messages";
    EXPECT_EQ(msg.message, (UINT)WM_USER + 2);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_USER + 1);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(WindowCore, SentMessagesGoToTheProcedureAtThePeekAndDestroyingDeliversThePendingDestroy)
{
    platform::queue_activation(hwnd, true);
    ASSERT_TRUE(PostMessageA(hwnd, WM_USER, 0, 0));
    std::vector<MSG> got = drain();
    ASSERT_EQ(got.size(), 1u) << "sent messages are not handed out";
    EXPECT_EQ(got[0].message, (UINT)WM_USER);
    EXPECT_EQ(count(WM_ACTIVATE), 1);

    // Closed from outside, then destroyed by the program before its WM_DESTROY came: it comes now, once.
    platform::surface_closed(hwnd);
    g_got.clear();
    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_EQ(count(WM_DESTROY), 1);
    EXPECT_TRUE(drain().empty());
    EXPECT_EQ(count(WM_DESTROY), 1);
}

TEST_F(WindowCore, OurWindowsInsideAWindowAreFilteredWithItAndDestroyedWithItParentFirst)
{
    auto create_child = [](HWND parent) {
        return CreateWindowExA(0, "core", "", WS_CHILD | WS_VISIBLE, 0, 0, 5, 5, parent, nullptr, nullptr, nullptr);
    };
    HWND child = create_child(hwnd);
    HWND grandchild = create_child(child);
    HWND other = CreateWindowExA(0, "core", "", WS_POPUP, 0, 0, 5, 5, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(child && grandchild && other);
    ASSERT_TRUE(PostMessageA(other, WM_USER, 1, 0));
    ASSERT_TRUE(PostMessageA(grandchild, WM_USER, 2, 0));
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, hwnd, 0, 0, PM_REMOVE)) << "a message of a window inside passes the filter";
    EXPECT_EQ(m.wParam, 2u);
    EXPECT_FALSE(PeekMessageA(&m, hwnd, 0, 0, PM_REMOVE)) << "another window's does not";
    drain();

    platform::monitors_changed(24);
    std::vector<HWND> told;
    for (const MSG &got : drain()) {
        EXPECT_EQ(got.message, static_cast<UINT>(WM_DISPLAYCHANGE));
        EXPECT_EQ(got.wParam, 24u);
        told.push_back(got.hwnd);
    }
    EXPECT_EQ(told, (std::vector<HWND>{hwnd, other})) << "a monitor change is told to top-level windows only";

    g_got.clear();
    EXPECT_TRUE(DestroyWindow(hwnd));
    std::vector<HWND> destroyed;
    for (const MSG &got : g_got)
        if (got.message == WM_DESTROY) destroyed.push_back(got.hwnd);
    EXPECT_EQ(destroyed, (std::vector<HWND>{hwnd, child, grandchild}));
    EXPECT_FALSE(IsWindow(grandchild));
    EXPECT_TRUE(IsWindow(other));

    g_got.clear();
    platform::drop_all_windows(true);
    EXPECT_EQ(count(WM_DESTROY), 1);
    EXPECT_FALSE(IsWindow(other));
    std::vector<MSG> after = drain();
    ASSERT_EQ(after.size(), 1u) << "a lost connection ends the program whatever its windows did";
    EXPECT_EQ(after[0].message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(after[0].wParam, 1u);
}

TEST_F(WindowCore, TheCursorCountHidesThePointerBelowZeroAndTellsTheBackendOnlyAtTheCrossing)
{
    EXPECT_FALSE(platform::cursor_hidden());
    // Each step: hide (false) or show (true), the count it gives, and the backend's changes so far.
    for (auto [show, count, changes] : {std::tuple{false, -1, 1}, {false, -2, 1}, {true, -1, 1}, {true, 0, 2},
                                        {true, 1, 2}, {false, 0, 2}, {false, -1, 3}}) {
        EXPECT_EQ(ShowCursor(show), count);
        EXPECT_EQ(platform::cursor_hidden(), count < 0);
        EXPECT_EQ(null::cursor_changes(), changes) << "count " << count;
    }
}

} // namespace
