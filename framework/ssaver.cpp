// The screen saver framework: start-up by mode, the saver window and the polling message loop.
#include "ssaver.h"

#include <stdlib.h>

int ss_mode = SS_MODE_CONFIG;
HINSTANCE hInst = NULL;
HWND hMainWnd = NULL;
int nScreenWidth = 0;
int nScreenHeight = 0;

static HWND hInvokedParent = NULL;
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
    } else {
        hWnd = CreateWindowExA(WS_EX_TOPMOST, szAppName, szAppName,
                               WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, nScreenWidth,
                               nScreenHeight, NULL, NULL, hInstance, NULL);
    }
    hMainWnd = hWnd;
    if (!hWnd) return 0;
    ShowWindow(hWnd, nCmdShow);
    UpdateWindow(hWnd);
    return 1;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    nScreenWidth = GetSystemMetrics(SM_CXSCREEN);
    nScreenHeight = GetSystemMetrics(SM_CYSCREEN);
    ss_scan_command_line(lpCmdLine);

    if (ss_mode == SS_MODE_PASSWORD) return 0;
    if (ss_mode == SS_MODE_CONFIG) {
        ss_config();
        return 0;
    }
    if (!hPrevInstance && !InitApplication(hInstance)) return 0;
    if (!InitInstance(hInstance, nCmdShow)) return 0;

    MSG msg;
    for (;;) {
        if (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return (int)msg.wParam;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            continue;
        }
        if (ss_mode == SS_MODE_SAVER || ss_mode == SS_MODE_PREVIEW) {
            ss_draw(hMainWnd);
            Sleep(1);
        }
    }
}

static void close_saver(HWND hWnd) { PostMessageA(hWnd, WM_CLOSE, 0, 0); }

// Closes once the pointer is more than 10 pixels (across plus up) from where it was at start.
static int moved_too_far(LPARAM lParam, POINT start)
{
    long long x = LOWORD(lParam);
    long long y = HIWORD(lParam);
    long long d = llabs(x - start.x) + llabs(y - start.y);
    return d > 10;
}

LRESULT CALLBACK DefScreenSaverProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    static POINT prevPt = {0, 0};
    int saver = ss_mode == SS_MODE_SAVER;
    switch (msg) {
    case WM_CREATE:
        if (saver) {
            GetCursorPos(&prevPt);
            ShowCursor(FALSE);
        }
        ss_initialize(hWnd);
        break;
    case WM_DESTROY:
        ss_shutdown(hWnd);
        ShowCursor(TRUE);
        PostQuitMessage(0);
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
