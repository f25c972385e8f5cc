// Windows over X: creation order, the saver popup's place and grab, children inside another
// program's window, destruction from every side, and what the calls give without a server.
#include "test_user_fixture.h"

#include <atomic>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace {

class Windows : public X11Test {};

int map_state(Display *dpy, Window w)
{
    XWindowAttributes wa;
    return XGetWindowAttributes(dpy, w, &wa) ? wa.map_state : -1;
}

Window x_parent(Display *dpy, Window w)
{
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy, w, &root, &parent, &children, &n)) return 0;
    if (children) XFree(children);
    return parent;
}

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
        if (msg == WM_CREATE || msg == WM_SIZE) map_states.push_back(map_state(other, x11::xid_of(hwnd)));
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
    EXPECT_EQ(map_state(other, x11::xid_of(hwnd)), IsViewable);
}

TEST_F(Windows, WindowWithoutVisibleStyleStaysHiddenUntilShown)
{
    ASSERT_TRUE(start());
    HWND hwnd = create_toplevel(10, 10, 100, 50, WS_POPUP);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(map_state(other, x11::xid_of(hwnd)), IsUnmapped);
    EXPECT_FALSE(ShowWindow(hwnd, SW_SHOWNORMAL));
    EXPECT_TRUE(UpdateWindow(hwnd));
    EXPECT_EQ(map_state(other, x11::xid_of(hwnd)), IsViewable);
    EXPECT_TRUE(ShowWindow(hwnd, SW_HIDE));
    EXPECT_EQ(map_state(other, x11::xid_of(hwnd)), IsUnmapped);
}

TEST_F(Windows, SaverPopupCoversTheScreenAboveOthersAndHoldsTheInput)
{
    ASSERT_TRUE(start(800, 600));
    // Asked for less, the saver popup still takes the whole screen.
    HWND hwnd = CreateWindowExA(WS_EX_TOPMOST, "recorder", "recorder", WS_POPUP | WS_VISIBLE, 5, 5, 100, 100, NULL,
                                NULL, NULL, NULL);
    ASSERT_NE(hwnd, nullptr);
    RECT r;
    ASSERT_TRUE(GetWindowRect(hwnd, &r));
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 800);
    EXPECT_EQ(r.bottom, 600);
    ASSERT_TRUE(GetClientRect(hwnd, &r));
    EXPECT_EQ(r.right, 800);
    EXPECT_EQ(r.bottom, 600);
    XWindowAttributes wa;
    ASSERT_TRUE(XGetWindowAttributes(other, x11::xid_of(hwnd), &wa));
    EXPECT_TRUE(wa.override_redirect);

    // Another program can take neither the keyboard nor the pointer while the saver is up.
    Window mine = foreign_window(0, 0, 50, 50);
    EXPECT_EQ(XGrabKeyboard(other, mine, False, GrabModeAsync, GrabModeAsync, CurrentTime), AlreadyGrabbed);
    EXPECT_EQ(XGrabPointer(other, mine, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None, CurrentTime),
              AlreadyGrabbed);

    // A window raised over it is pushed back below.
    XRaiseWindow(other, mine);
    XSync(other, False);
    EXPECT_TRUE(pump_until([&] { return topmost_child_of_root(other) == x11::xid_of(hwnd); }));

    // The grabs end with the window.
    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_EQ(XGrabKeyboard(other, mine, False, GrabModeAsync, GrabModeAsync, CurrentTime), GrabSuccess);
    XUngrabKeyboard(other, CurrentTime);
    XSync(other, False);
}

TEST_F(Windows, SaverPopupGrabWaitsForAnotherProgramsGrabToEnd)
{
    ASSERT_TRUE(start());
    // Another program holds the keyboard for a moment after the saver starts, as a launcher's
    // key binding may.
    std::atomic<bool> grabbed{false};
    std::string name = xvfb.display();
    std::thread holder([&] {
        Display *d = XOpenDisplay(name.c_str());
        if (!d) {
            grabbed = true;
            return;
        }
        Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0, 0, 0);
        XMapWindow(d, w);
        XSync(d, False);
        XGrabKeyboard(d, w, False, GrabModeAsync, GrabModeAsync, CurrentTime);
        XSync(d, False);
        grabbed = true;
        usleep(200 * 1000);
        XUngrabKeyboard(d, CurrentTime);
        XCloseDisplay(d);
    });
    while (!grabbed) usleep(1000);
    HWND hwnd = create_popup();
    holder.join();
    ASSERT_NE(hwnd, nullptr);
    Window theirs = foreign_window(0, 0, 50, 50);
    EXPECT_EQ(XGrabKeyboard(other, theirs, False, GrabModeAsync, GrabModeAsync, CurrentTime), AlreadyGrabbed);
}

TEST_F(Windows, OwnGrabAtStartIsNoLossOfActivation)
{
    ASSERT_TRUE(start());
    // Whatever the focus was before: the server's default, and a window of another program.
    for (int round = 0; round < 2; round++) {
        if (round == 1) {
            Window theirs = foreign_window(0, 0, 50, 50);
            XSetInputFocus(other, theirs, RevertToPointerRoot, CurrentTime);
            XSync(other, False);
        }
        recorded.clear();
        HWND hwnd = create_popup();
        ASSERT_NE(hwnd, nullptr);
        for (int i = 0; i < 20; i++) {
            pump();
            Sleep(5);
        }
        for (const Recorded &r : recorded) {
            if (r.msg == WM_ACTIVATE || r.msg == WM_ACTIVATEAPP || r.msg == WM_NCACTIVATE) {
                EXPECT_NE(r.wParam, 0u) << "round " << round << ": message " << r.msg;
            }
        }
        DestroyWindow(hwnd);
    }
}

TEST_F(Windows, LosingTheGrabDeactivates)
{
    ASSERT_TRUE(start());
    HWND hwnd = create_popup();
    ASSERT_NE(hwnd, nullptr);
    pump();
    recorded.clear();
    // Another program unmaps the saver: its grab goes with its visibility.
    XUnmapWindow(other, x11::xid_of(hwnd));
    XSync(other, False);
    ASSERT_TRUE(pump_until([] { return count(WM_ACTIVATEAPP) > 0; }));
    for (UINT m : {WM_ACTIVATE, WM_ACTIVATEAPP, WM_NCACTIVATE}) {
        const Recorded *r = last(m);
        ASSERT_NE(r, nullptr) << m;
        EXPECT_EQ(r->wParam, 0u) << m;
        EXPECT_EQ(r->hwnd, hwnd);
    }
}

TEST_F(Windows, FocusGainedAndLostBecomesActivation)
{
    ASSERT_TRUE(start());
    HWND hwnd = create_toplevel(10, 10, 200, 100);
    ASSERT_NE(hwnd, nullptr);
    Window theirs = foreign_window(300, 300, 50, 50);
    XSetInputFocus(other, x11::xid_of(hwnd), RevertToPointerRoot, CurrentTime);
    XSync(other, False);
    ASSERT_TRUE(pump_until([] { return count(WM_ACTIVATE) > 0; }));
    EXPECT_NE(last(WM_ACTIVATE)->wParam, 0u);
    EXPECT_NE(last(WM_ACTIVATEAPP)->wParam, 0u);
    EXPECT_NE(last(WM_NCACTIVATE)->wParam, 0u);
    recorded.clear();
    XSetInputFocus(other, theirs, RevertToPointerRoot, CurrentTime);
    XSync(other, False);
    ASSERT_TRUE(pump_until([] { return count(WM_ACTIVATE) > 0; }));
    EXPECT_EQ(last(WM_ACTIVATE)->wParam, 0u);
    EXPECT_EQ(last(WM_ACTIVATEAPP)->wParam, 0u);
    EXPECT_EQ(last(WM_NCACTIVATE)->wParam, 0u);
}

TEST_F(Windows, ChildInsideAnotherProgramsWindowDiesWithIt)
{
    ASSERT_TRUE(start());
    Window parent = foreign_window(50, 60, 200, 100, 3);
    HWND hparent = x11::hwnd_of(parent);
    RECT r;
    ASSERT_TRUE(GetWindowRect(hparent, &r));
    EXPECT_EQ(r.left, 50);
    EXPECT_EQ(r.top, 60);
    EXPECT_EQ(r.right, 256);
    EXPECT_EQ(r.bottom, 166);
    ASSERT_TRUE(GetClientRect(hparent, &r));
    EXPECT_EQ(r.right, 200);
    EXPECT_EQ(r.bottom, 100);

    HWND child = CreateWindowExA(0, "recorder", "recorder", WS_CHILD | WS_VISIBLE, 0, 0, 200, 100, hparent, NULL,
                                 NULL, NULL);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(x_parent(other, x11::xid_of(child)), parent);
    EXPECT_EQ(map_state(other, x11::xid_of(child)), IsViewable);
    ASSERT_TRUE(GetWindowRect(child, &r));
    EXPECT_EQ(r.left, 53);
    EXPECT_EQ(r.top, 63);

    XDestroyWindow(other, parent);
    XSync(other, False);
    ASSERT_TRUE(pump_until([&] { return count(WM_DESTROY, child) > 0; }));
    for (int i = 0; i < 10; i++) {
        pump();
        Sleep(5);
    }
    EXPECT_EQ(count(WM_DESTROY, child), 1);
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(DestroyWindow(child));
    EXPECT_FALSE(PostMessageA(child, WM_USER, 0, 0));
}

TEST_F(Windows, CreationFailsWithoutClassOrParent)
{
    ASSERT_TRUE(start());
    EXPECT_EQ(CreateWindowExA(0, "no such class", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL), nullptr);
    // A parent id that names no window, and a child without any parent.
    EXPECT_EQ(CreateWindowExA(0, "recorder", "", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, (HWND)(uintptr_t)0x3fffff0,
                              NULL, NULL, NULL),
              nullptr);
    EXPECT_EQ(CreateWindowExA(0, "recorder", "", WS_CHILD, 0, 0, 10, 10, NULL, NULL, NULL, NULL), nullptr);
    EXPECT_TRUE(recorded.empty());
    // A procedure that refuses WM_CREATE gets WM_DESTROY and no window is left.
    on_message = [](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT { return msg == WM_CREATE ? -1 : 0; };
    EXPECT_EQ(create_toplevel(0, 0, 10, 10), nullptr);
    EXPECT_EQ(count(WM_CREATE), 1);
    EXPECT_EQ(count(WM_DESTROY), 1);
    EXPECT_EQ(count(WM_SIZE), 0);
}

TEST_F(Windows, ClassNamesAreRegisteredOnce)
{
    ASSERT_TRUE(start());
    WNDCLASSA wc = {};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "Recorder";
    EXPECT_EQ(RegisterClassA(&wc), 0) << "class names ignore case, and \"recorder\" exists";
    wc.lpszClassName = "second";
    EXPECT_NE(RegisterClassA(&wc), 0);
    wc.lpfnWndProc = nullptr;
    wc.lpszClassName = "third";
    EXPECT_EQ(RegisterClassA(&wc), 0);
    EXPECT_NE(LoadIconA(NULL, IDI_APPLICATION), nullptr);
    EXPECT_NE(LoadCursorA(NULL, IDC_ARROW), nullptr);
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
    EXPECT_EQ(map_state(other, x11::xid_of(hwnd)), -1) << "the X window is gone";
    EXPECT_FALSE(DestroyWindow(hwnd));
}

TEST_F(Windows, DestroyWindowDeliversDestroyToOurChildrenToo)
{
    ASSERT_TRUE(start());
    HWND top = create_toplevel(0, 0, 100, 100);
    ASSERT_NE(top, nullptr);
    HWND child = CreateWindowExA(0, "recorder", "", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, top, NULL, NULL, NULL);
    ASSERT_NE(child, nullptr);
    recorded.clear();
    ASSERT_TRUE(DestroyWindow(top));
    std::vector<Recorded> destroys = only({WM_DESTROY});
    ASSERT_EQ(destroys.size(), 2u);
    EXPECT_EQ(destroys[0].hwnd, top);
    EXPECT_EQ(destroys[1].hwnd, child);
    EXPECT_FALSE(IsWindow(child));
    pump();
    EXPECT_EQ(count(WM_DESTROY), 2);
}

TEST_F(Windows, WindowManagerCloseBecomesSystemCommandClose)
{
    ASSERT_TRUE(start());
    HWND hwnd = create_toplevel(10, 10, 100, 100, WS_CAPTION | WS_VISIBLE);
    ASSERT_NE(hwnd, nullptr);
    XEvent ev = {};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = x11::xid_of(hwnd);
    ev.xclient.message_type = XInternAtom(other, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = (long)XInternAtom(other, "WM_DELETE_WINDOW", False);
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(other, x11::xid_of(hwnd), False, NoEventMask, &ev);
    XSync(other, False);
    ASSERT_TRUE(pump_until([] { return count(WM_DESTROY) > 0; }));
    const Recorded *sc = last(WM_SYSCOMMAND);
    ASSERT_NE(sc, nullptr);
    EXPECT_EQ(sc->wParam, (WPARAM)SC_CLOSE);
    EXPECT_EQ(count(WM_CLOSE), 1);
}

TEST_F(Windows, ScreenMetricsAndDesktop)
{
    ASSERT_TRUE(start(1021, 700));
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1021);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 700);
    HWND desktop = GetDesktopWindow();
    EXPECT_EQ(x11::xid_of(desktop), DefaultRootWindow(other));
    RECT r;
    ASSERT_TRUE(GetWindowRect(desktop, &r));
    EXPECT_EQ(r.right, 1021);
    EXPECT_EQ(r.bottom, 700);
    EXPECT_TRUE(IsWindow(desktop));
    EXPECT_FALSE(IsWindow((HWND)(uintptr_t)0x3fffff0));
    EXPECT_FALSE(GetWindowRect((HWND)(uintptr_t)0x3fffff0, &r));
    move(321, 123);
    POINT pt;
    ASSERT_TRUE(GetCursorPos(&pt));
    EXPECT_EQ(pt.x, 321);
    EXPECT_EQ(pt.y, 123);
}

TEST_F(Windows, WithoutADisplayEverythingFailsByReturnValue)
{
    ASSERT_TRUE(start());
    x11::shutdown();
    std::string saved = getenv("DISPLAY");
    setenv("DISPLAY", ":9999", 1);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "recorder";
    EXPECT_NE(RegisterClassA(&wc), 0);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 0);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 0);
    EXPECT_EQ(create_popup(), nullptr);
    EXPECT_EQ(GetDC(NULL), nullptr);
    EXPECT_EQ(GetDesktopWindow(), nullptr);
    POINT pt;
    EXPECT_FALSE(GetCursorPos(&pt));
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_EQ(ShowCursor(TRUE), 0);
    // The queue itself still works: thread messages and the quit request.
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
