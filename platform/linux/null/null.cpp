// The null backend (see null.h).
#include "null.h"

#include "queue.h"
#include "window_core.h"

#include <algorithm>

namespace null {
namespace {

using namespace platform;

int g_cursor_changes = 0;
constexpr int kScreenWidth = 640, kScreenHeight = 480;

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam)
{
    WindowClass *cls = find_class(lpClassName);
    if (!cls) return nullptr;
    auto w = std::make_unique<WindowRecord>();
    w->hwnd = reinterpret_cast<HWND>(new_handle());
    w->parent = hWndParent;
    w->proc = cls->wc.lpfnWndProc;
    w->style = dwStyle;
    w->ex_style = dwExStyle;
    w->x = X;
    w->y = Y;
    w->width = std::max(nWidth, 1);
    w->height = std::max(nHeight, 1);
    return finish_creation(std::move(w), lpClassName, lpWindowName, hMenu, hInstance, lpParam);
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect)
{
    WindowRecord *w = live_window(hWnd);
    if (!w || !lpRect) return FALSE;
    *lpRect = {w->x, w->y, w->x + w->width, w->y + w->height};
    return TRUE;
}

int WINAPI GetSystemMetrics(int nIndex)
{
    return nIndex == SM_CXSCREEN ? kScreenWidth : nIndex == SM_CYSCREEN ? kScreenHeight : 0;
}
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

int cursor_changes() { return g_cursor_changes; }

void shutdown()
{
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
    [] {},
    [] {},
    [](WindowRecord &w, bool visible) {
        w.mapped = visible;
        return true;
    },
    [] {},
    [](WindowRecord &) {},
    [](const std::vector<WindowRecord *> &, bool) {},
    [](HWND, RECT *) { return false; },
    [] { null::g_cursor_changes++; },
#define TIDEFOLD_BACKEND_CALL(ret, name, params, args) null::name,
#include "backend_calls.h"
#undef TIDEFOLD_BACKEND_CALL
};

} // namespace platform
