// The screen saver framework: start-up by mode, the saver window and the polling message loop.
#include "ssaver.h"

#include "monitor_plan.h"

#include <stdio.h>
#include <stdlib.h>

int ss_mode = SS_MODE_CONFIG;
HINSTANCE hInst = NULL;
HWND hMainWnd = NULL;
int nScreenWidth = 0;
int nScreenHeight = 0;
int nScreenLeft = 0;
int nScreenTop = 0;

static HWND hInvokedParent = NULL;
// 1 in a saver started for one monitor by the saver the user started: it takes no activation.
static int bMonitorSaver = 0;
// While the first saver makes its window anew for another area, or lets it go: the window's end
// is not the saver's.
static int bRemaking = 0;
// The saver window was asked to close (by input, as the saver ends).
static int bClosing = 0;
// The monitors changed at this tick and have not been followed yet.
static int bMonitorsChanged = 0;
static DWORD dwMonitorsChangedAt = 0;
static DWORD dwMonitorsLookedAt = 0;
static const char *const szAppName = "screensaver";

HWND ss_invoked_parent(void) { return hInvokedParent; }

static char fold_ascii(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

// A switch is "/" or "-" and one letter, anywhere; the last one wins. The preview handle starts at
// the second character after p or l, so "/p 1234" and "/p:1234" both give 1234. The scan never
// steps past the terminating NUL, however the string ends.
void ss_scan_command_line(const char *lpCmdLine)
{
    if (!lpCmdLine) return;
    size_t i = 0;
    while (lpCmdLine[i]) {
        if (lpCmdLine[i] != '/' && lpCmdLine[i] != '-') {
            i++;
            continue;
        }
        i++;
        if (!lpCmdLine[i]) break;
        switch (fold_ascii(lpCmdLine[i])) {
        case 'a': ss_mode = SS_MODE_PASSWORD; break;
        case 'c': ss_mode = SS_MODE_CONFIG; break;
        case 's': ss_mode = SS_MODE_SAVER; break;
        case 'p':
        case 'l':
            ss_mode = SS_MODE_PREVIEW;
            for (int k = 0; k < 2 && lpCmdLine[i]; k++) i++;
            // strtol rather than atol: the same number, but a run of digits too long for a long
            // is held at the limit instead of being undefined.
            hInvokedParent = (HWND)(intptr_t)strtol(lpCmdLine + i, NULL, 10);
            if (!lpCmdLine[i]) return;
            break;
        default: break;
        }
        i++;
    }
}

// Every monitor, as EnumDisplayMonitors lists it.
static BOOL CALLBACK note_monitor(HMONITOR hMonitor, HDC hdc, LPRECT rc, LPARAM data)
{
    (void)hdc;
    (void)rc;
    MONITORINFO mi;
    mi.cbSize = sizeof mi;
    if (!GetMonitorInfoA(hMonitor, &mi)) return TRUE;
    SS_MONITOR m = {mi.rcMonitor, (mi.dwFlags & MONITORINFOF_PRIMARY) != 0};
    ((std::vector<SS_MONITOR> *)data)->push_back(m);
    return TRUE;
}

// The areas that want a saver each (mirrored monitors share one), and which is the primary's.
static std::vector<RECT> monitor_areas(int *primary)
{
    std::vector<SS_MONITOR> monitors;
    EnumDisplayMonitors(NULL, NULL, note_monitor, (LPARAM)&monitors);
    return ss_distinct_areas(monitors, primary);
}

static void use_area(const RECT *rc)
{
    nScreenLeft = rc->left;
    nScreenTop = rc->top;
    nScreenWidth = rc->right - rc->left;
    nScreenHeight = rc->bottom - rc->top;
}

// Reads "left,top,width,height" as a saver started for one monitor is told its area.
int ss_read_monitor_area(const char *text, RECT *rc)
{
    long x, y, w, h;
    char end;
    if (!text || sscanf(text, "%ld,%ld,%ld,%ld%c", &x, &y, &w, &h, &end) != 4) return 0;
    if (w <= 0 || h <= 0 || w > 65535 || h > 65535 || x < -65535 || x > 65535 || y < -65535 || y > 65535) return 0;
    rc->left = (LONG)x;
    rc->top = (LONG)y;
    rc->right = (LONG)(x + w);
    rc->bottom = (LONG)(y + h);
    return 1;
}

// One full-screen saver at a time: a second one started while the first runs (an idle manager
// firing twice, a double click) would cover the screen without the keyboard and pointer, which
// the first one holds. The mutex is kept until the process ends.
static int another_saver_running(void)
{
    HANDLE hRunning = CreateMutexA(NULL, FALSE, "Tidefold full-screen saver");
    return hRunning && GetLastError() == ERROR_ALREADY_EXISTS;
}

// The full-screen saver covers every monitor, one process each, every one with its own ripples.
// The one the user started takes the primary monitor (else the first) and starts one saver for
// each of the others, which it tells their areas. 0 when another full-screen saver runs already.
static int take_monitor(void)
{
    RECT area;
    if (ss_given_monitor(&area)) {
        bMonitorSaver = 1;
        use_area(&area);
        return 1;
    }
    if (another_saver_running()) return 0;
    int primary;
    std::vector<RECT> areas = monitor_areas(&primary);
    if (areas.size() < 2) return 1;
    for (size_t i = 0; i < areas.size(); i++)
        if ((int)i != primary) ss_start_monitor_saver(&areas[i]);
    use_area(&areas[primary]);
    return 1;
}

static int InitApplication(HINSTANCE hInstance)
{
    WNDCLASSA wc;
    wc.style = 0;
    wc.lpfnWndProc = ScreenSaverProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconA(NULL, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = NULL;
    wc.lpszMenuName = NULL;
    wc.lpszClassName = szAppName;
    return RegisterClassA(&wc);
}

static int InitInstance(HINSTANCE hInstance, int nCmdShow)
{
    hInst = hInstance;
    HWND hWnd;
    if (ss_mode == SS_MODE_PREVIEW) {
        RECT rc = {0, 0, 0, 0};
        GetWindowRect(hInvokedParent, &rc);
        hWnd = CreateWindowExA(0, szAppName, szAppName, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0,
                               0, rc.right - rc.left, rc.bottom - rc.top, hInvokedParent, NULL, hInstance, NULL);
    } else if (bMonitorSaver) {
        // Shown without taking activation, so the first saver keeps the keyboard.
        hWnd = CreateWindowExA(WS_EX_TOPMOST | WS_EX_NOACTIVATE, szAppName, szAppName,
                               WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, nScreenLeft, nScreenTop, nScreenWidth,
                               nScreenHeight, NULL, NULL, hInstance, NULL);
        nCmdShow = SW_SHOWNOACTIVATE;
    } else {
        hWnd = CreateWindowExA(WS_EX_TOPMOST, szAppName, szAppName,
                               WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, nScreenLeft, nScreenTop,
                               nScreenWidth, nScreenHeight, NULL, NULL, hInstance, NULL);
    }
    hMainWnd = hWnd;
    if (!hWnd) return 0;
    ShowWindow(hWnd, nCmdShow);
    UpdateWindow(hWnd);
    return 1;
}

// Where the pointer was when the saver started (or the screen last changed).
static POINT prevPt = {0, 0};

// Whether a monitor still shows the area this saver covers. A window destroyed unasked while it
// does is the end of the saver (a termination signal); else the window went with its monitor.
static int own_area_shown(void)
{
    int primary;
    std::vector<RECT> areas = monitor_areas(&primary);
    RECT own = {nScreenLeft, nScreenTop, nScreenLeft + nScreenWidth, nScreenTop + nScreenHeight};
    for (const RECT &rc : areas)
        if (ss_same_rect(&rc, &own)) return 1;
    return 0;
}

static void note_monitor_change(void)
{
    bMonitorsChanged = 1;
    dwMonitorsChangedAt = GetTickCount();
}

// The first saver's window made anew over area, or let go with NULL; the input stays held by the
// new window, and the pointer's start and the cursor count stay as they were.
static void remake_main_window(const RECT *area)
{
    bRemaking = 1;
    if (hMainWnd && IsWindow(hMainWnd)) DestroyWindow(hMainWnd);
    hMainWnd = NULL;
    if (area) {
        use_area(area);
        InitInstance(hInst, SW_SHOWDEFAULT);
    }
    bRemaking = 0;
}

// Brings the savers in line with the monitors shown now: one per distinct area, each made for
// its area's size.
static void follow_monitors(void)
{
    bMonitorsChanged = 0;
    dwMonitorsLookedAt = GetTickCount();
    int primary;
    std::vector<RECT> areas = monitor_areas(&primary);
    RECT own = {nScreenLeft, nScreenTop, nScreenLeft + nScreenWidth, nScreenTop + nScreenHeight};
    SS_MONITOR_PLAN plan = ss_plan_monitors(areas, primary, hMainWnd ? &own : NULL, ss_monitor_saver_areas());
    for (const RECT &rc : plan.end) ss_end_monitor_saver(&rc);
    if (plan.remake) remake_main_window(plan.own >= 0 ? &areas[plan.own] : NULL);
    for (const RECT &rc : plan.start) ss_start_monitor_saver(&rc);
}

// The first saver's share of the loop: monitor savers that ended, and monitor changes once they
// have settled (one change arrives as several notices). Not every change is announced (monitors a
// client sets on an X server; none at all while there is no window to hear of them), so the
// monitors are also looked at twice a second, four times without a window.
static void tend_monitors(void)
{
    if (ss_reap_monitor_savers()) note_monitor_change();
    DWORD now = GetTickCount();
    if (bMonitorsChanged && now - dwMonitorsChangedAt >= 100)
        follow_monitors();
    else if (!bMonitorsChanged && now - dwMonitorsLookedAt >= (hMainWnd ? 500u : 250u))
        follow_monitors();
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    nScreenWidth = GetSystemMetrics(SM_CXSCREEN);
    nScreenHeight = GetSystemMetrics(SM_CYSCREEN);
    ss_scan_command_line(lpCmdLine);
    if (ss_mode == SS_MODE_SAVER && !take_monitor()) return 0;

    if (ss_mode == SS_MODE_PASSWORD) return 0;
    if (ss_mode == SS_MODE_CONFIG) {
        ss_config();
        return 0;
    }
    if ((!hPrevInstance && !InitApplication(hInstance)) || !InitInstance(hInstance, nCmdShow)) {
        ss_end_monitor_savers();
        return 0;
    }
    if (ss_mode == SS_MODE_SAVER && !bMonitorSaver) ss_watch_monitor_savers(hMainWnd);

    MSG msg;
    for (;;) {
        if (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                ss_end_monitor_savers();
                return (int)msg.wParam;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            continue;
        }
        int first_saver = ss_mode == SS_MODE_SAVER && !bMonitorSaver;
        if (first_saver) tend_monitors();
        if (hMainWnd && (ss_mode == SS_MODE_SAVER || ss_mode == SS_MODE_PREVIEW)) {
            ss_draw(hMainWnd);
            Sleep(1);
        } else if (first_saver) {
            Sleep(50);
        }
    }
}

static void close_saver(HWND hWnd) { PostMessageA(hWnd, WM_CLOSE, 0, 0); }

// Closes once the pointer is more than 10 pixels (across plus up) from where it was at start.
// The point is the window's, signed (a saver on one monitor hears of moves over the others),
// made a screen point by the window's origin.
static int moved_too_far(LPARAM lParam, POINT start)
{
    long long x = (short)LOWORD(lParam) + (long long)nScreenLeft;
    long long y = (short)HIWORD(lParam) + (long long)nScreenTop;
    long long d = llabs(x - start.x) + llabs(y - start.y);
    return d > 10;
}

LRESULT CALLBACK DefScreenSaverProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    int saver = ss_mode == SS_MODE_SAVER;
    switch (msg) {
    case WM_CREATE:
        if (saver && !bRemaking) {
            GetCursorPos(&prevPt);
            ShowCursor(FALSE);
        }
        ss_initialize(hWnd);
        break;
    case WM_DESTROY:
        ss_shutdown(hWnd);
        if (bRemaking) break;
        if (saver && !bClosing && !own_area_shown()) {
            // A monitor saver tells the first one why it ends; the first one stays, holding the
            // input, and covers what monitors are left.
            if (bMonitorSaver) {
                PostQuitMessage(SS_MONITOR_GONE_STATUS);
            } else {
                hMainWnd = NULL;
                note_monitor_change();
            }
            break;
        }
        ShowCursor(TRUE);
        PostQuitMessage(0);
        break;
    case WM_CLOSE:
        bClosing = 1;
        break;
    case WM_DISPLAYCHANGE:
        // A screen that shrinks pulls the pointer in with it, which is no move of the user's.
        if (saver) GetCursorPos(&prevPt);
        if (saver && !bMonitorSaver) note_monitor_change();
        break;
    case WM_ACTIVATE:
    case WM_ACTIVATEAPP:
    case WM_NCACTIVATE:
        if (saver && wParam == 0) close_saver(hWnd);
        break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        if (saver) close_saver(hWnd);
        break;
    case WM_MOUSEMOVE:
        if (saver && moved_too_far(lParam, prevPt)) close_saver(hWnd);
        break;
    case WM_SYSCOMMAND:
        if (saver && (wParam == SC_SCREENSAVE || wParam == SC_CLOSE)) return 0;
        break;
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}
