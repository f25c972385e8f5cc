// The message queue, window classes and the calls that need no display server.
#include "queue.h"

#include "resources.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <strings.h>
#include <vector>

namespace platform {
namespace {

std::deque<QueuedMessage> g_queue;

struct CharNote {
    HWND hwnd;
    DWORD time;
    WPARAM vk;
    unsigned char ch;
};
std::deque<CharNote> g_chars;

POINT g_last_pt = {0, 0};
std::vector<WindowClass> g_classes;
ATOM g_next_atom = 0xC000;
uintptr_t g_next_handle = 0x1000000;
DWORD g_last_error = ERROR_SUCCESS;

} // namespace

std::deque<QueuedMessage> &queued_messages() { return g_queue; }

DWORD now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<DWORD>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

uintptr_t new_handle()
{
    g_next_handle += 4;
    return g_next_handle;
}

void set_message_point(POINT pt) { g_last_pt = pt; }

void queue_message(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool sent, DWORD time)
{
    QueuedMessage e;
    e.msg.hwnd = hwnd;
    e.msg.message = msg;
    e.msg.wParam = wParam;
    e.msg.lParam = lParam;
    e.msg.time = time ? time : now_ms();
    e.msg.pt = g_last_pt;
    e.sent = sent;
    g_queue.push_back(e);
}

void purge_window_messages(HWND hwnd)
{
    g_queue.erase(std::remove_if(g_queue.begin(), g_queue.end(), [&](const QueuedMessage &e) { return e.msg.hwnd == hwnd; }),
                  g_queue.end());
    g_chars.erase(std::remove_if(g_chars.begin(), g_chars.end(), [&](const CharNote &c) { return c.hwnd == hwnd; }),
                  g_chars.end());
}

void purge_all_window_messages()
{
    g_queue.erase(std::remove_if(g_queue.begin(), g_queue.end(), [](const QueuedMessage &e) { return e.msg.hwnd != nullptr; }),
                  g_queue.end());
    g_chars.clear();
}

bool take_sent_message(MSG *msg)
{
    auto it = std::find_if(g_queue.begin(), g_queue.end(), [](const QueuedMessage &e) { return e.sent; });
    if (it == g_queue.end()) return false;
    *msg = it->msg;
    g_queue.erase(it);
    return true;
}

bool take_pending_destroy(HWND hwnd)
{
    auto pending = std::find_if(g_queue.begin(), g_queue.end(), [&](const QueuedMessage &e) {
        return e.sent && e.msg.hwnd == hwnd && e.msg.message == WM_DESTROY;
    });
    if (pending == g_queue.end()) return false;
    g_queue.erase(pending);
    return true;
}

bool peek_queued(LPMSG msg, HWND filter, UINT min, UINT max, UINT remove, bool (*in_window)(HWND filter, HWND hwnd))
{
    for (auto it = g_queue.begin(); it != g_queue.end(); ++it) {
        const MSG &m = it->msg;
        if (filter == reinterpret_cast<HWND>(-1)) {
            if (m.hwnd) continue;
        } else if (filter && !in_window(filter, m.hwnd)) {
            continue;
        }
        if ((min || max) && (m.message < min || m.message > max)) continue;
        *msg = m;
        if (remove & PM_REMOVE) g_queue.erase(it);
        return true;
    }
    return false;
}

// Activation changes reach the window procedure in the order Windows sends them.
void queue_activation(HWND hwnd, bool active)
{
    if (active) {
        queue_message(hwnd, WM_ACTIVATEAPP, TRUE, 0, true);
        queue_message(hwnd, WM_NCACTIVATE, TRUE, 0, true);
        queue_message(hwnd, WM_ACTIVATE, WA_ACTIVE, 0, true);
    } else {
        queue_message(hwnd, WM_NCACTIVATE, FALSE, 0, true);
        queue_message(hwnd, WM_ACTIVATE, WA_INACTIVE, 0, true);
        queue_message(hwnd, WM_ACTIVATEAPP, FALSE, 0, true);
    }
}

void note_character(HWND hwnd, DWORD time, WPARAM vk, unsigned char ch)
{
    if (g_chars.size() >= 64) g_chars.pop_front();
    g_chars.push_back({hwnd, time, vk, ch});
}

WindowClass *find_class(LPCSTR name)
{
    if (!name) return nullptr;
    for (WindowClass &c : g_classes) {
        if (IS_INTRESOURCE(name) ? c.atom == static_cast<ATOM>(reinterpret_cast<uintptr_t>(name))
                                 : strcasecmp(c.name.c_str(), name) == 0)
            return &c;
    }
    return nullptr;
}

void reset_queue()
{
    g_queue.clear();
    g_chars.clear();
    g_classes.clear();
}

} // namespace platform

using namespace platform;

ATOM WINAPI RegisterClassA(const WNDCLASSA *lpWndClass)
{
    if (!lpWndClass || !lpWndClass->lpfnWndProc || !lpWndClass->lpszClassName ||
        IS_INTRESOURCE(lpWndClass->lpszClassName) || !*lpWndClass->lpszClassName)
        return 0;
    if (find_class(lpWndClass->lpszClassName)) return 0;
    WindowClass c;
    c.name = lpWndClass->lpszClassName;
    c.atom = g_next_atom++;
    c.wc = *lpWndClass;
    c.wc.lpszClassName = nullptr;
    c.wc.lpszMenuName = nullptr;
    g_classes.push_back(c);
    return c.atom;
}

// The stock icon and cursor are tokens: the windows draw no icon and use the system's arrow.
HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName)
{
    if (!lpIconName) return nullptr;
    if (!hInstance) return IS_INTRESOURCE(lpIconName) ? reinterpret_cast<HICON>(0x10000 | (uintptr_t)lpIconName) : nullptr;
    const BYTE *data;
    DWORD size;
    if (!find_resource(MAKEINTRESOURCEA(RT_GROUP_ICON_ID), lpIconName, &data, &size)) return nullptr;
    return reinterpret_cast<HICON>(const_cast<BYTE *>(data));
}

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName)
{
    if (!lpCursorName || hInstance || !IS_INTRESOURCE(lpCursorName)) return nullptr;
    return reinterpret_cast<HCURSOR>(0x20000 | (uintptr_t)lpCursorName);
}

// Closing a window destroys it; the close command asks its procedure first.
LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM)
{
    if (Msg == WM_CLOSE) {
        DestroyWindow(hWnd);
    } else if (Msg == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
        MSG close = {};
        close.hwnd = hWnd;
        close.message = WM_CLOSE;
        DispatchMessageA(&close);
    }
    return 0;
}

void WINAPI PostQuitMessage(int nExitCode)
{
    queue_message(nullptr, WM_QUIT, static_cast<WPARAM>(nExitCode), 0, false);
}

BOOL WINAPI TranslateMessage(const MSG *lpMsg)
{
    if (!lpMsg || (lpMsg->message != WM_KEYDOWN && lpMsg->message != WM_SYSKEYDOWN)) return FALSE;
    auto it = std::find_if(g_chars.begin(), g_chars.end(), [&](const CharNote &c) {
        return c.hwnd == lpMsg->hwnd && c.time == lpMsg->time && c.vk == lpMsg->wParam;
    });
    if (it != g_chars.end()) {
        QueuedMessage e;
        e.msg = *lpMsg;
        e.msg.message = lpMsg->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR;
        e.msg.wParam = it->ch;
        e.sent = false;
        g_chars.erase(it);
        g_queue.push_front(e);
    }
    return TRUE;
}

DWORD WINAPI GetTickCount(void) { return now_ms(); }

void WINAPI Sleep(DWORD dwMilliseconds)
{
    timespec ts;
    ts.tv_sec = dwMilliseconds / 1000;
    ts.tv_nsec = static_cast<long>(dwMilliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

DWORD WINAPI GetLastError(void) { return g_last_error; }

void WINAPI SetLastError(DWORD dwErrCode) { g_last_error = dwErrCode; }
