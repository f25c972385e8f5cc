// A small Windows program the wine end-to-end checks drive the saver with.
//   probe preview SCR OUT.bmp GO [--screen-check]
//       hosts a preview: makes a top-level window, runs "SCR /p <hwnd>", checks that the saver's
//       child fills the window, prints "preview running", waits until the file GO exists (the
//       script looks at the preview meanwhile), saves what the screen shows in the window's
//       client area to OUT.bmp, destroys the window and checks that the saver then exits with
//       status 0. With --screen-check the client area must also show a moving, non-black
//       picture: true on Windows, but wine 8 renders GL in child windows off screen and never
//       shows it in the parent, so the script reads the saver's GL window from X instead.
//   probe locate TITLE ID...
//       waits for the top-level window TITLE and prints the screen position of its frame, and the
//       centre and text of each control ID
// Exit status 0 when every check passed.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const int kClientWidth = 320;
const int kClientHeight = 240;

// Handles the host window's messages; the saver's child paints the whole client area.
LRESULT CALLBACK HostProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_ERASEBKGND) return 1;
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

void pump_for(DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    } while (GetTickCount() - start < ms);
}

// The pixels of a window's client area as they are on the screen, 32-bit BGRX, top row first.
std::vector<DWORD> capture_client(HWND hWnd, int w, int h)
{
    POINT origin = {0, 0};
    ClientToScreen(hWnd, &origin);
    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi;
    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void *bits = NULL;
    HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    std::vector<DWORD> pixels;
    if (bmp) {
        HGDIOBJ old = SelectObject(mem, bmp);
        BitBlt(mem, 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY);
        GdiFlush();
        pixels.assign((DWORD *)bits, (DWORD *)bits + (size_t)w * h);
        SelectObject(mem, old);
        DeleteObject(bmp);
    }
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    return pixels;
}

// Fraction of pixels with any channel above a faint level.
double lit_fraction(const std::vector<DWORD> &p)
{
    if (p.empty()) return 0.0;
    size_t lit = 0;
    for (DWORD v : p)
        if ((v & 0xff) > 16 || ((v >> 8) & 0xff) > 16 || ((v >> 16) & 0xff) > 16) ++lit;
    return (double)lit / p.size();
}

double changed_fraction(const std::vector<DWORD> &a, const std::vector<DWORD> &b)
{
    if (a.empty() || a.size() != b.size()) return 0.0;
    size_t changed = 0;
    for (size_t i = 0; i < a.size(); ++i)
        if ((a[i] & 0xffffff) != (b[i] & 0xffffff)) ++changed;
    return (double)changed / a.size();
}

// Writes a top-down 32-bit picture as a bottom-up 24-bit BMP file.
void save_bmp(const char *path, const std::vector<DWORD> &p, int w, int h)
{
    FILE *f = fopen(path, "wb");
    if (!f) return;
    int stride = (w * 3 + 3) & ~3;
    BITMAPFILEHEADER fh;
    BITMAPINFOHEADER ih;
    memset(&fh, 0, sizeof fh);
    memset(&ih, 0, sizeof ih);
    fh.bfType = 0x4d42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + stride * h;
    ih.biSize = sizeof ih;
    ih.biWidth = w;
    ih.biHeight = h;
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    fwrite(&fh, sizeof fh, 1, f);
    fwrite(&ih, sizeof ih, 1, f);
    std::vector<unsigned char> row(stride, 0);
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            DWORD v = p[(size_t)y * w + x];
            row[x * 3] = v & 0xff;
            row[x * 3 + 1] = (v >> 8) & 0xff;
            row[x * 3 + 2] = (v >> 16) & 0xff;
        }
        fwrite(row.data(), 1, stride, f);
    }
    fclose(f);
}

int failures = 0;

void check(bool ok, const char *what)
{
    printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    fflush(stdout);
    if (!ok) ++failures;
}

int preview(const char *scr, const char *out, const char *go, bool screen_check)
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.lpszClassName = "TidefoldPreviewHost";
    RegisterClassA(&wc);
    // Borderless, like the preview area of the Screen Saver settings: the saver sizes its child
    // by the host's outer rectangle, which is then exactly the client area.
    HWND host = CreateWindowA("TidefoldPreviewHost", "Tidefold preview host", WS_POPUP | WS_CLIPCHILDREN, 40, 40,
                              kClientWidth, kClientHeight, NULL, NULL, wc.hInstance, NULL);
    if (!host) {
        check(false, "host window created");
        return 1;
    }
    ShowWindow(host, SW_SHOWNORMAL);
    UpdateWindow(host);
    pump_for(200);

    // The control panel passes the handle in decimal after "/p ".
    std::string cmd = std::string("\"") + scr + "\" /p " + std::to_string((unsigned long long)(UINT_PTR)host);
    printf("running %s\n", cmd.c_str());
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        check(false, "saver process started");
        DestroyWindow(host);
        return 1;
    }

    // Wait (at most 30 s, a guard against hangs) for the saver's child window.
    HWND child = NULL;
    for (int i = 0; i < 300 && !child; ++i) {
        pump_for(100);
        child = GetWindow(host, GW_CHILD);
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) break;
    }
    check(child != NULL, "the saver made a child window in the host window");
    if (child) {
        char cls[64] = "";
        GetClassNameA(child, cls, sizeof cls);
        check(strcmp(cls, "screensaver") == 0, "the child is of the saver's window class \"screensaver\"");
        RECT rc;
        GetClientRect(child, &rc);
        printf("child client area %ldx%ld\n", rc.right, rc.bottom);
        check(rc.right == kClientWidth && rc.bottom == kClientHeight, "the child fills the host window");

        pump_for(2000);
        printf("preview running\n");
        for (int i = 0; i < 300 && GetFileAttributesA(go) == INVALID_FILE_ATTRIBUTES; ++i) pump_for(100);
        std::vector<DWORD> first = capture_client(host, kClientWidth, kClientHeight);
        pump_for(700);
        std::vector<DWORD> second = capture_client(host, kClientWidth, kClientHeight);
        double lit = lit_fraction(second), changed = changed_fraction(first, second);
        printf("on the screen: lit %.3f, changed between captures %.3f\n", lit, changed);
        save_bmp(out, second, kClientWidth, kClientHeight);
        if (screen_check) {
            check(lit > 0.5, "the preview shows a picture, not a black area");
            check(changed > 0.01, "the preview moves between two captures");
        }
    }

    // The saver's own code never closes a preview; destroying the host ends it.
    DestroyWindow(host);
    pump_for(200);
    DWORD waited = WaitForSingleObject(pi.hProcess, 20000);
    check(waited == WAIT_OBJECT_0, "the saver ends when the host window is destroyed");
    if (waited != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    DWORD status = 99;
    GetExitCodeProcess(pi.hProcess, &status);
    printf("saver exit status %lu\n", status);
    check(waited == WAIT_OBJECT_0 && status == 0, "the saver exits with status 0");
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return failures ? 1 : 0;
}

int locate(const char *title, int count, char **ids)
{
    HWND w = NULL;
    for (int i = 0; i < 300; ++i) {
        w = FindWindowA(NULL, title);
        if (w && IsWindowVisible(w)) break;
        w = NULL;
        Sleep(100);
    }
    if (!w) {
        printf("no visible window \"%s\"\n", title);
        return 1;
    }
    // Give the dialog a moment to finish its first paint.
    Sleep(300);
    RECT r;
    GetWindowRect(w, &r);
    printf("window %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    int status = 0;
    for (int i = 0; i < count; ++i) {
        int id = atoi(ids[i]);
        HWND c = GetDlgItem(w, id);
        if (!c || !GetWindowRect(c, &r)) {
            printf("no control %d\n", id);
            status = 1;
            continue;
        }
        char text[256] = "";
        GetWindowTextA(c, text, sizeof text);
        printf("control %d %ld %ld %s\n", id, (r.left + r.right) / 2, (r.top + r.bottom) / 2, text);
    }
    return status;
}

}  // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc >= 5 && strcmp(argv[1], "preview") == 0)
        return preview(argv[2], argv[3], argv[4], argc >= 6 && strcmp(argv[5], "--screen-check") == 0);
    if (argc >= 3 && strcmp(argv[1], "locate") == 0) return locate(argv[2], argc - 3, argv + 3);
    fprintf(stderr, "usage: probe preview SCR OUT.bmp GO [--screen-check] | probe locate TITLE ID...\n");
    return 2;
}
