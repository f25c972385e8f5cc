// The window rules both display backends share (see window_core.h).
#include "window_core.h"

#include "backend.h"
#include "bitmaps.h"
#include "keys.h"
#include "queue.h"

#include <X11/keysym.h>

#include <cstring>

namespace platform {
namespace {

int g_cursor_count = 0;
bool g_key_down[256];

} // namespace

LRESULT call_proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    WNDPROC proc = nullptr;
    if (backend().window_state(hwnd, &proc) == WindowState::none || !proc) return 0;
    return proc(hwnd, msg, wParam, lParam);
}

void deliver_sent_messages()
{
    MSG m;
    while (take_sent_message(&m)) {
        WindowState state = backend().window_state(m.hwnd, nullptr);
        if (state == WindowState::none) continue;
        if (m.message == WM_DESTROY)
            backend().finish_destroy(m.hwnd);
        else if (state == WindowState::alive)
            call_proc(m.hwnd, m.message, m.wParam, m.lParam);
    }
}

bool cursor_hidden() { return g_cursor_count < 0; }

WPARAM input_key(HWND hwnd, unsigned keycode, unsigned long keysym, bool alt_held, bool ctrl_held, bool press,
                 DWORD time)
{
    WPARAM vk = virtual_key(keysym);
    bool alt_key = vk == VK_MENU && keysym != XK_ISO_Level3_Shift;
    bool alt = alt_held || (press && alt_key);
    bool sys = (alt && !ctrl_held) || (keysym == XK_F10 && !ctrl_held);
    unsigned slot = keycode & 0xFF;
    bool repeat = press && g_key_down[slot];
    g_key_down[slot] = press;

    DWORD lp = 1u | (((keycode - 8u) & 0xFFu) << 16);
    if (extended_key(keysym)) lp |= 1u << 24;
    if (alt) lp |= 1u << 29;
    if (!press || repeat) lp |= 1u << 30;
    if (!press) lp |= 1u << 31;
    UINT msg = press ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
    queue_message(hwnd, msg, vk, static_cast<LPARAM>(lp), false, time);
    return vk;
}

void release_keys() { memset(g_key_down, 0, sizeof g_key_down); }

void reset_window_core()
{
    g_cursor_count = 0;
    release_keys();
}

} // namespace platform

using namespace platform;

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (hWnd && backend().window_state(hWnd, nullptr) != WindowState::alive) return FALSE;
    // Whatever the server sent before the post comes before it in the queue.
    backend().read_events();
    queue_message(hWnd, Msg, wParam, lParam, false);
    return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG *lpMsg)
{
    if (!lpMsg || !lpMsg->hwnd || backend().window_state(lpMsg->hwnd, nullptr) != WindowState::alive) return 0;
    return call_proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

// The pointer is invisible over our windows while the display count is below zero.
int WINAPI ShowCursor(BOOL bShow)
{
    bool was_hidden = cursor_hidden();
    g_cursor_count += bShow ? 1 : -1;
    if (was_hidden != cursor_hidden()) backend().cursor_visibility_changed();
    return g_cursor_count;
}

int WINAPI ReleaseDC(HWND, HDC hDC) { return release_window_dc(hDC) ? 1 : 0; }
