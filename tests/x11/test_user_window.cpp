// Windows over X: creation order, the saver popup's place and grab, activation, children inside
// another program's window, destruction from every side, and what the calls give without a server.
#include "test_user_fixture.h"

#include <atomic>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace {

class Windows : public X11Test {
protected:
    int map_state(HWND hwnd)
    {
        XWindowAttributes wa;
        return XGetWindowAttributes(other, x11::xid_of(hwnd), &wa) ? wa.map_state : -1;
    }
    std::vector<LONG> rect(HWND hwnd, bool client = false)
    {
        RECT r = {};
        EXPECT_TRUE(client ? GetClientRect(hwnd, &r) : GetWindowRect(hwnd, &r));
        return {r.left, r.top, r.right, r.bottom};
    }
    // Whether the last of each activation message says the window is active.
    void expect_activation(bool active, HWND hwnd)
    {
        for (UINT m : {WM_ACTIVATE, WM_ACTIVATEAPP, WM_NCACTIVATE}) {
            const Recorded *r = last(m);
            ASSERT_NE(r, nullptr) << m;
            EXPECT_EQ(r->wParam != 0, active) << m;
            EXPECT_EQ(r->hwnd, hwnd) << m;
        }
    }
    int grab_keyboard(Window w)
    {
        int r = XGrabKeyboard(other, w, False, GrabModeAsync, GrabModeAsync, CurrentTime);
        if (r == GrabSuccess) XUngrabKeyboard(other, CurrentTime);
        XSync(other, False);
        return r;
    }
};

Window topmost_child_of_root(Display *dpy)
{
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &n);
    Window top = n ? children[n - 1] : 0;
    if (children) XFree(children);
    return top;
}

TEST_F(Windows, CreateAndFirstSizeReachTheProcedureBeforeTheWindowIsShown)
{
    ASSERT_TRUE(start(640, 480));
    std::vector<int> map_states;
    CREATESTRUCTA seen = {};
    on_message = [&](HWND hwnd, UINT msg, WPARAM, LPARAM lParam) -> LRESULT {
        if (msg == WM_CREATE) seen = *reinterpret_cast<CREATESTRUCTA *>(lParam);
        if (msg == WM_CREATE || msg == WM_SIZE) map_states.push_back(map_state(hwnd));
        return 0;
    };
    HWND hwnd = create_popup();
    ASSERT_NE(hwnd, nullptr);
    ASSERT_GE(recorded.size(), 2u);
    EXPECT_EQ(recorded[0].msg, (UINT)WM_CREATE);
    EXPECT_EQ(recorded[1].msg, (UINT)WM_SIZE);
    EXPECT_EQ(recorded[1].wParam, (WPARAM)SIZE_RESTORED);
    EXPECT_EQ(recorded[1].lParam, MAKELPARAM(640, 480));
    EXPECT_EQ(seen.cx, 640);
    EXPECT_EQ(seen.cy, 480);
    EXPECT_STREQ(seen.lpszClass, "recorder");
    EXPECT_EQ(map_states, (std::vector<int>{IsUnmapped, IsUnmapped}));
    EXPECT_EQ(map_state(hwnd), IsViewable);

    // Without WS_VISIBLE a window waits for ShowWindow.
    HWND hidden = create_window(10, 10, 100, 50, WS_POPUP);
    EXPECT_EQ(map_state(hidden), IsUnmapped);
    EXPECT_FALSE(ShowWindow(hidden, SW_SHOWNORMAL));
    EXPECT_TRUE(UpdateWindow(hidden));
    EXPECT_EQ(map_state(hidden), IsViewable);
    EXPECT_TRUE(ShowWindow(hidden, SW_HIDE));
    EXPECT_EQ(map_state(hidden), IsUnmapped);
}

TEST_F(Windows, SaverPopupCoversTheScreenAboveOthersAndHoldsTheInput)
{
    ASSERT_TRUE(start(800, 600));
    // Asked for less, the saver popup still takes the whole screen.
    HWND hwnd = CreateWindowExA(WS_EX_TOPMOST, "recorder", "recorder", WS_POPUP | WS_VISIBLE, 5, 5, 100, 100, NULL,
                                NULL, NULL, NULL);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(rect(hwnd), (std::vector<LONG>{0, 0, 800, 600}));
    EXPECT_EQ(rect(hwnd, true), (std::vector<LONG>{0, 0, 800, 600}));
    XWindowAttributes wa;
    ASSERT_TRUE(XGetWindowAttributes(other, x11::xid_of(hwnd), &wa));
    EXPECT_TRUE(wa.override_redirect);

    // Another program can take neither the keyboard nor the pointer while the saver is up.
    Window mine = foreign_window(0, 0, 50, 50);
    EXPECT_EQ(grab_keyboard(mine), AlreadyGrabbed);
    EXPECT_EQ(XGrabPointer(other, mine, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None, CurrentTime),
              AlreadyGrabbed);

    // A window raised over it is pushed back below.
    XRaiseWindow(other, mine);
    XSync(other, False);
    EXPECT_TRUE(pump_until([&] { return topmost_child_of_root(other) == x11::xid_of(hwnd); }));

    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_EQ(grab_keyboard(mine), GrabSuccess) << "the grabs end with the window";
}

TEST_F(Windows, SaverPopupGrabWaitsForAnotherProgramsGrabToEnd)
{
    ASSERT_TRUE(start());
    // Another program holds the keyboard for a while after the saver starts, as a launcher's
    // key binding may; the release shuffles the focus, which deactivates nothing.
    std::atomic<bool> grabbed{false}, released{false};
    std::string name = xvfb.display();
    std::thread holder([&] {
        Display *d = XOpenDisplay(name.c_str());
        if (d) {
            Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0, 0, 0);
            XMapWindow(d, w);
            XGrabKeyboard(d, w, False, GrabModeAsync, GrabModeAsync, CurrentTime);
            XSync(d, False);
        }
        grabbed = true;
        if (!d) {
            released = true;
            return;
        }
        usleep(1500 * 1000);
        XCloseDisplay(d);
        released = true;
    });
    while (!grabbed) usleep(1000);
    HWND hwnd = create_popup();
    while (!released) pump_for(10);
    holder.join();
    ASSERT_NE(hwnd, nullptr);
    pump_for(400); // the loop keeps asking for the keyboard while it polls
    EXPECT_EQ(grab_keyboard(foreign_window(0, 0, 50, 50)), AlreadyGrabbed);
    for (const Recorded &r : only({WM_ACTIVATE, WM_ACTIVATEAPP, WM_NCACTIVATE}))
        EXPECT_NE(r.wParam, 0u) << "message " << r.msg << ": the end of another program's grab deactivated";
}

TEST_F(Windows, ActivationFollowsFocusAndTheSaversOwnGrabIsNoLoss)
{
    ASSERT_TRUE(start());
    // The grab at start is no deactivation, whatever had the focus before: the server's default,
    // then a window of another program.
    Window theirs = foreign_window(300, 300, 50, 50);
    for (int round = 0; round < 2; round++) {
        if (round == 1) XSetInputFocus(other, theirs, RevertToPointerRoot, CurrentTime), XSync(other, False);
        recorded.clear();
        HWND hwnd = create_popup();
        ASSERT_NE(hwnd, nullptr);
        pump_for(100);
        for (const Recorded &r : only({WM_ACTIVATE, WM_ACTIVATEAPP, WM_NCACTIVATE}))
            EXPECT_NE(r.wParam, 0u) << "round " << round << ": message " << r.msg;
        if (round == 1) {
            // Another program unmaps the saver: its grab goes with its visibility.
            XUnmapWindow(other, x11::xid_of(hwnd));
            XSync(other, False);
            ASSERT_TRUE(pump_until([] { return count(WM_ACTIVATEAPP) > 0 && last(WM_ACTIVATEAPP)->wParam == 0; }));
            expect_activation(false, hwnd);
        }
        DestroyWindow(hwnd);
    }

    // An ordinary window: the focus coming and going.
    HWND hwnd = create_window(10, 10, 200, 100);
    ASSERT_NE(hwnd, nullptr);
    for (Window focus : {x11::xid_of(hwnd), theirs}) {
        recorded.clear();
        XSetInputFocus(other, focus, RevertToPointerRoot, CurrentTime);
        XSync(other, False);
        ASSERT_TRUE(pump_until([] { return count(WM_ACTIVATE) > 0; }));
        expect_activation(focus != theirs, hwnd);
    }
}

TEST_F(Windows, ChildInsideAnotherProgramsWindowGetsOneDestroyWhenItGoes)
{
    ASSERT_TRUE(start());
    Window parent = foreign_window(50, 60, 200, 100, 3);
    HWND hparent = x11::hwnd_of(parent);
    EXPECT_EQ(rect(hparent), (std::vector<LONG>{50, 60, 256, 166}));
    EXPECT_EQ(rect(hparent, true), (std::vector<LONG>{0, 0, 200, 100}));

    HWND child = create_window(0, 0, 200, 100, WS_CHILD | WS_VISIBLE, hparent);
    ASSERT_NE(child, nullptr);
    Window root, x_parent, *children = nullptr;
    unsigned n = 0;
    ASSERT_TRUE(XQueryTree(other, x11::xid_of(child), &root, &x_parent, &children, &n));
    if (children) XFree(children);
    EXPECT_EQ(x_parent, parent);
    EXPECT_EQ(map_state(child), IsViewable);
    EXPECT_EQ(rect(child)[0], 53);
    EXPECT_EQ(rect(child)[1], 63);

    XDestroyWindow(other, parent);
    XSync(other, False);
    ASSERT_TRUE(pump_until([&] { return count(WM_DESTROY, child) > 0; }));
    pump_for(50);
    EXPECT_EQ(count(WM_DESTROY, child), 1);
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(DestroyWindow(child));
    EXPECT_FALSE(PostMessageA(child, WM_USER, 0, 0));
}

// An X id has 32 bits: a handle beyond them names no window, even when its low bits do.
TEST_F(Windows, HandlesBeyondThirtyTwoBitsNameNoWindow)
{
    ASSERT_TRUE(start());
    Window theirs = foreign_window(50, 60, 200, 100);
    for (uint64_t high : {1ull << 32, 1ull << 40, 0xFFFFFFFF00000000ull}) {
        HWND bogus = reinterpret_cast<HWND>(static_cast<uintptr_t>(high | theirs));
        RECT r;
        EXPECT_FALSE(IsWindow(bogus));
        EXPECT_FALSE(GetWindowRect(bogus, &r));
        EXPECT_FALSE(GetClientRect(bogus, &r));
        EXPECT_EQ(GetDC(bogus), nullptr);
        EXPECT_EQ(create_window(0, 0, 10, 10, WS_CHILD | WS_VISIBLE, bogus), nullptr);
    }
    EXPECT_TRUE(IsWindow(x11::hwnd_of(theirs))) << "the window itself is still named by its own id";
    EXPECT_TRUE(recorded.empty());
}

TEST_F(Windows, RegistrationAndCreationFailuresAreReturnValues)
{
    ASSERT_TRUE(start());
    WNDCLASSA wc = {};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "Recorder";
    EXPECT_EQ(RegisterClassA(&wc), 0) << "class names ignore case, and \"recorder\" exists";
    EXPECT_EQ(CreateWindowExA(0, "no such class", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL), nullptr);
    EXPECT_EQ(create_window(0, 0, 10, 10, WS_CHILD | WS_VISIBLE, (HWND)(uintptr_t)0x3fffff0), nullptr);
    EXPECT_EQ(create_window(0, 0, 10, 10, WS_CHILD), nullptr) << "a child needs a parent";
    EXPECT_TRUE(recorded.empty());
    // A procedure that refuses WM_CREATE gets WM_DESTROY and no window is left.
    on_message = [](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT { return msg == WM_CREATE ? -1 : 0; };
    EXPECT_EQ(create_window(0, 0, 10, 10), nullptr);
    EXPECT_EQ(count(WM_CREATE), 1);
    EXPECT_EQ(count(WM_DESTROY), 1);
    EXPECT_EQ(count(WM_SIZE), 0);
}

TEST_F(Windows, CloseThroughDefaultHandlingDestroysOnce)
{
    ASSERT_TRUE(start());
    HWND hwnd = create_popup();
    ASSERT_NE(hwnd, nullptr);
    on_message = [](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_DESTROY) PostQuitMessage(7);
        return 0;
    };
    // Two close requests queued, as the saver may post on a key and a move: one destruction.
    ASSERT_TRUE(PostMessageA(hwnd, WM_CLOSE, 0, 0));
    ASSERT_TRUE(PostMessageA(hwnd, WM_CLOSE, 0, 0));
    pump();
    EXPECT_EQ(count(WM_CLOSE), 1);
    EXPECT_EQ(count(WM_DESTROY), 1);
    EXPECT_TRUE(quit_seen);
    EXPECT_EQ(quit_code, 7u);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(map_state(hwnd), -1) << "the X window is gone";
    EXPECT_FALSE(DestroyWindow(hwnd));

    // The window manager's close arrives as SC_CLOSE, then WM_CLOSE.
    recorded.clear();
    HWND framed = create_window(10, 10, 100, 100, WS_CAPTION | WS_VISIBLE);
    send_delete_window(x11::xid_of(framed));
    ASSERT_TRUE(pump_until([] { return count(WM_DESTROY) > 0; }));
    ASSERT_NE(last(WM_SYSCOMMAND), nullptr);
    EXPECT_EQ(last(WM_SYSCOMMAND)->wParam, (WPARAM)SC_CLOSE);
    EXPECT_EQ(count(WM_CLOSE), 1);
}

TEST_F(Windows, ScreenMetricsDesktopAndCursorPosition)
{
    ASSERT_TRUE(start(1021, 700));
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1021);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 700);
    HWND desktop = GetDesktopWindow();
    EXPECT_EQ(x11::xid_of(desktop), DefaultRootWindow(other));
    EXPECT_EQ(rect(desktop), (std::vector<LONG>{0, 0, 1021, 700}));
    EXPECT_TRUE(IsWindow(desktop));
    RECT r;
    EXPECT_FALSE(IsWindow((HWND)(uintptr_t)0x3fffff0));
    EXPECT_FALSE(GetWindowRect((HWND)(uintptr_t)0x3fffff0, &r));
    move(321, 123);
    POINT pt;
    ASSERT_TRUE(GetCursorPos(&pt));
    EXPECT_EQ(pt.x, 321);
    EXPECT_EQ(pt.y, 123);
}

TEST_F(Windows, WithoutADisplayEverythingFailsByReturnValueButTheQueueWorks)
{
    ASSERT_TRUE(start());
    x11::shutdown();
    std::string saved = getenv("DISPLAY");
    setenv("DISPLAY", ":9999", 1);
    POINT pt;
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 0);
    EXPECT_EQ(create_popup(), nullptr);
    EXPECT_EQ(GetDC(NULL), nullptr);
    EXPECT_EQ(GetDesktopWindow(), nullptr);
    EXPECT_FALSE(GetCursorPos(&pt));
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_EQ(ShowCursor(TRUE), 0);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    PostQuitMessage(3);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    EXPECT_EQ(msg.wParam, 3u);
    setenv("DISPLAY", saved.c_str(), 1);
}

TEST_F(Windows, ServerGoingAwayDestroysTheWindows)
{
    ASSERT_TRUE(start());
    HWND hwnd = create_popup();
    ASSERT_NE(hwnd, nullptr);
    on_message = [](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_DESTROY) PostQuitMessage(0);
        return 0;
    };
    XCloseDisplay(other);
    other = nullptr;
    xvfb.stop();
    ASSERT_TRUE(pump_until([&] { return quit_seen; }));
    EXPECT_EQ(count(WM_DESTROY, hwnd), 1);
    EXPECT_FALSE(IsWindow(hwnd));
}

} // namespace
