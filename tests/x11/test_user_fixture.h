// Shared by the tests of the X11 services: a private server per test, a second connection that
// plays another program (and injects input through XTest), and a window procedure that records.
#pragma once

#include <gtest/gtest.h>

#include "x11.h"
#include "xvfb.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

struct Recorded {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

inline std::vector<Recorded> recorded;
// Called for every message before it is recorded, for tests that look at the world mid-message.
inline std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> on_message;

inline LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    recorded.push_back({hwnd, msg, wParam, lParam});
    LRESULT r = on_message ? on_message(hwnd, msg, wParam, lParam) : 0;
    return r ? r : DefWindowProcA(hwnd, msg, wParam, lParam);
}

class X11Test : public ::testing::Test {
protected:
    // Starts the private server and the other program's connection, and registers "recorder".
    bool start(int width = 640, int height = 480, int depth = 24, const std::string &extra = "")
    {
        if (!xvfb.start(width, height, depth, extra)) return false;
        other = XOpenDisplay(xvfb.display().c_str());
        recorded.clear();
        on_message = nullptr;
        WNDCLASSA wc = {};
        wc.lpfnWndProc = RecordingProc;
        wc.lpszClassName = "recorder";
        RegisterClassA(&wc);
        return other != nullptr;
    }

    void TearDown() override
    {
        on_message = nullptr;
        x11::shutdown();
        if (other) XCloseDisplay(other);
        other = nullptr;
        xvfb.stop();
    }

    HWND create_popup()
    {
        return CreateWindowExA(WS_EX_TOPMOST, "recorder", "recorder", WS_POPUP | WS_VISIBLE, 0, 0,
                               GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), NULL, NULL, NULL, NULL);
    }

    HWND create_window(int x, int y, int w, int h, DWORD style = WS_POPUP | WS_VISIBLE, HWND parent = NULL)
    {
        return CreateWindowExA(0, "recorder", "recorder", style, x, y, w, h, parent, NULL, NULL, NULL);
    }

    // A window of the other program, mapped, as a preview parent would be.
    Window foreign_window(int x, int y, int w, int h, int border = 0)
    {
        Window win = XCreateSimpleWindow(other, DefaultRootWindow(other), x, y, w, h, border, 0, 0x336699);
        XSetWindowAttributes a = {};
        a.override_redirect = True;
        XChangeWindowAttributes(other, win, CWOverrideRedirect, &a);
        XMapWindow(other, win);
        XSync(other, False);
        return win;
    }

    // Handles every waiting message, as the saver's loop does between frames.
    void pump()
    {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit_seen = true;
                quit_code = msg.wParam;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    // Pumps for a while, for tests that look for messages that must not come.
    void pump_for(int ms)
    {
        for (int i = 0; i < ms / 5; i++) pump(), Sleep(5);
    }

    // Pumps until the condition holds; gives up after a few seconds so that a lost event fails
    // the test instead of hanging it.
    bool pump_until(const std::function<bool()> &done)
    {
        for (int i = 0; i < 500; i++) {
            pump();
            if (done()) return true;
            Sleep(10);
        }
        return false;
    }

    static int count(UINT msg, HWND hwnd = nullptr)
    {
        int n = 0;
        for (const Recorded &r : recorded) n += r.msg == msg && (!hwnd || r.hwnd == hwnd);
        return n;
    }

    static const Recorded *last(UINT msg)
    {
        for (auto it = recorded.rbegin(); it != recorded.rend(); ++it)
            if (it->msg == msg) return &*it;
        return nullptr;
    }

    static std::vector<Recorded> only(std::initializer_list<UINT> msgs)
    {
        std::vector<Recorded> out;
        for (const Recorded &r : recorded)
            if (std::find(msgs.begin(), msgs.end(), r.msg) != msgs.end()) out.push_back(r);
        return out;
    }

    // What a window manager's close box sends.
    void send_delete_window(Window w) { ::send_delete_window(other, w); }

    void key(KeySym ks, bool down)
    {
        XTestFakeKeyEvent(other, XKeysymToKeycode(other, ks), down, CurrentTime);
        XSync(other, False);
    }
    void tap(KeySym ks) { key(ks, true), key(ks, false); }
    void click(unsigned b)
    {
        XTestFakeButtonEvent(other, b, True, CurrentTime);
        XTestFakeButtonEvent(other, b, False, CurrentTime);
        XSync(other, False);
    }
    void move(int x, int y)
    {
        XTestFakeMotionEvent(other, DefaultScreen(other), x, y, CurrentTime);
        XSync(other, False);
    }

    PrivateXvfb xvfb;
    Display *other = nullptr;
    bool quit_seen = false;
    WPARAM quit_code = 0;
};
