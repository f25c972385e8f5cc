// The null backend (see null.h).
#include "null.h"

#include "queue.h"
#include "window_core.h"

#include <algorithm>
#include <map>

namespace null {
namespace {

using namespace platform;

struct WindowRec {
    WNDPROC proc = nullptr;
    RECT rect = {};
    bool visible = false;
    bool destroying = false;
};

std::map<HWND, WindowRec> g_windows;
int g_cursor_changes = 0;
constexpr int kScreenWidth = 640, kScreenHeight = 480;

WindowState window_state(HWND hwnd, WNDPROC *proc)
{
    auto it = g_windows.find(hwnd);
    if (it == g_windows.end()) return WindowState::none;
    if (proc) *proc = it->second.proc;
    return it->second.destroying ? WindowState::destroying : WindowState::alive;
}

WindowRec *find_window(HWND hwnd)
{
    auto it = g_windows.find(hwnd);
    return it == g_windows.end() || it->second.destroying ? nullptr : &it->second;
}

void finish_destroy(HWND hwnd)
{
    call_proc(hwnd, WM_DESTROY, 0, 0);
    g_windows.erase(hwnd);
    purge_window_messages(hwnd);
}

bool same_window(HWND filter, HWND hwnd) { return filter == hwnd; }

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam)
{
    WindowClass *cls = find_class(lpClassName);
    if (!cls) return nullptr;
    HWND hwnd = reinterpret_cast<HWND>(new_handle());
    nWidth = std::max(nWidth, 1);
    nHeight = std::max(nHeight, 1);
    g_windows[hwnd] = {cls->wc.lpfnWndProc, {X, Y, X + nWidth, Y + nHeight}, false, false};
    CREATESTRUCTA cs = creation_params(dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth, nHeight,
                                       hWndParent, hMenu, hInstance, lpParam);
    if (!deliver_creation(hwnd, cls->wc.lpfnWndProc, &cs)) return nullptr;
    if (WindowRec *w = find_window(hwnd)) w->visible = dwStyle & WS_VISIBLE;
    return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    WindowState state = window_state(hWnd, nullptr);
    if (state == WindowState::none) return FALSE;
    if (state == WindowState::destroying && !take_pending_destroy(hWnd)) return FALSE;
    g_windows[hWnd].destroying = true;
    purge_window_messages(hWnd);
    finish_destroy(hWnd);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) { return find_window(hWnd) != nullptr; }

// The window's rectangle on the screen, or its client area (the same size, at 0, 0).
BOOL rect_of(HWND hwnd, LPRECT rect, bool client)
{
    WindowRec *w = find_window(hwnd);
    if (!w || !rect) return FALSE;
    *rect = w->rect;
    if (client) *rect = {0, 0, rect->right - rect->left, rect->bottom - rect->top};
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) { return rect_of(hWnd, lpRect, false); }
BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) { return rect_of(hWnd, lpRect, true); }

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    WindowRec *w = find_window(hWnd);
    BOOL was_visible = w && w->visible;
    if (w) w->visible = nCmdShow != SW_HIDE;
    return was_visible;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    if (!lpMsg) return FALSE;
    deliver_sent_messages();
    return peek_queued(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg, same_window);
}

int WINAPI GetSystemMetrics(int nIndex)
{
    return nIndex == SM_CXSCREEN ? kScreenWidth : nIndex == SM_CYSCREEN ? kScreenHeight : 0;
}
BOOL WINAPI UpdateWindow(HWND hWnd) { return find_window(hWnd) != nullptr; }
BOOL WINAPI GetCursorPos(LPPOINT) { return FALSE; }
HWND WINAPI GetDesktopWindow(void) { return nullptr; }
HDC WINAPI GetDC(HWND) { return nullptr; }
int WINAPI GetDeviceCaps(HDC, int) { return 0; }
int WINAPI ChoosePixelFormat(HDC, const PIXELFORMATDESCRIPTOR *) { return 0; }
BOOL WINAPI SetPixelFormat(HDC, int, const PIXELFORMATDESCRIPTOR *) { return FALSE; }
BOOL WINAPI SwapBuffers(HDC) { return FALSE; }
HGLRC WINAPI wglCreateContext(HDC) { return nullptr; }
BOOL WINAPI wglMakeCurrent(HDC, HGLRC) { return FALSE; }
BOOL WINAPI wglDeleteContext(HGLRC) { return FALSE; }
BOOL WINAPI EnumDisplayMonitors(HDC, LPCRECT, MONITORENUMPROC, LPARAM) { return FALSE; }
BOOL WINAPI GetMonitorInfoA(HMONITOR, LPMONITORINFO) { return FALSE; }
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR) { return nullptr; }

} // namespace

void close_from_outside(HWND hwnd)
{
    WindowRec *w = find_window(hwnd);
    if (!w) return;
    w->destroying = true;
    purge_window_messages(hwnd);
    queue_message(hwnd, WM_DESTROY, 0, 0, true);
}

int cursor_changes() { return g_cursor_changes; }

void shutdown()
{
    g_windows.clear();
    g_cursor_changes = 0;
    reset_queue();
    reset_window_core();
}

} // namespace null

namespace platform {

const Backend null_backend = {
    [] { return true; },
    [] { return false; },
    [](const DcRec &, int, int, BitmapRec &, int, int, int, int) { return false; },
    [](int, int, BitmapRec &, int, int, int, int) { return false; },
    [] { return false; },
    [] { return 0ul; },
    [](unsigned long) {},
    [] { return false; },
    [](void *) { return 0ul; },
    null::window_state,
    [] {},
    null::finish_destroy,
    [] { null::g_cursor_changes++; },
#define TIDEFOLD_BACKEND_CALL(ret, name, params, args) null::name,
#include "backend_calls.h"
#undef TIDEFOLD_BACKEND_CALL
};

} // namespace platform
