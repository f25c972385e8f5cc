// Start-up (capture, conversion, upload) to the first presented frame, and steady frame time,
// on a private Xvfb with Mesa's software GL.
#include "ripple.h"
#include "ssaver.h"
#include "xvfb.h"

#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// One private X server per screen size, kept for the whole run.
bool use_screen(int width, int height)
{
    static std::map<std::pair<int, int>, std::unique_ptr<PrivateXvfb>> servers;
    auto &server = servers[{width, height}];
    if (!server) {
        server = std::make_unique<PrivateXvfb>();
        if (!server->start(width, height, 24)) return false;
        std::vector<unsigned> desktop((size_t)width * height);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                desktop[(size_t)y * width + x] = ((x & 255) << 16) | ((y & 255) << 8) | ((x ^ y) & 255);
        paint_root(server->display(), width, height, desktop.data());
    }
    setenv("DISPLAY", server->display().c_str(), 1);
    static bool class_registered = false;
    if (!class_registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ScreenSaverProc;
        wc.lpszClassName = "screensaver";
        class_registered = RegisterClassA(&wc) != 0;
    }
    nScreenWidth = width;
    nScreenHeight = height;
    ss_mode = SS_MODE_PREVIEW;
    return true;
}

HWND create_saver_window(int width, int height)
{
    return CreateWindowExA(WS_EX_TOPMOST, "screensaver", "screensaver", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                           NULL, NULL, NULL, NULL);
}

std::string renderer(HWND hWnd)
{
    HDC hDC = GetDC(hWnd);
    std::string name = "no context";
    if (ss_context() && wglMakeCurrent(hDC, ss_context())) {
        const GLubyte *r = glGetString(GL_RENDERER);
        name = r ? reinterpret_cast<const char *>(r) : "unknown";
        wglMakeCurrent(NULL, NULL);
    }
    ReleaseDC(hWnd, hDC);
    return name;
}

void BM_StartToFirstFrame(benchmark::State &state)
{
    int width = (int)state.range(0), height = (int)state.range(1);
    max_texture_size = (int)state.range(2);
    if (!use_screen(width, height)) {
        state.SkipWithError("no Xvfb");
        return;
    }
    std::string gl;
    for (auto _ : state) {
        HWND hWnd = create_saver_window(width, height);
        ss_draw(hWnd);
        state.PauseTiming();
        gl = renderer(hWnd);
        DestroyWindow(hWnd);
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        }
        state.ResumeTiming();
    }
    state.SetLabel(gl);
}

void BM_SteadyFrame(benchmark::State &state)
{
    if (!use_screen(1920, 1080)) {
        state.SkipWithError("no Xvfb");
        return;
    }
    max_texture_size = 1024;
    int options = (int)state.range(0);
    // Settings come from the store on start-up; point it at an empty directory so the defaults hold.
    setenv("XDG_CONFIG_HOME", "/nonexistent-tidefold-bench", 1);
    user_options = options;
    HWND hWnd = create_saver_window(1920, 1080);
    for (int f = 0; f < 60; f++) ss_draw(hWnd);
    for (auto _ : state) ss_draw(hWnd);
    state.SetLabel(renderer(hWnd) + ((options & OPTION_LIGHTEN_DARKEN) ? ", both passes" : ", desktop pass"));
    DestroyWindow(hWnd);
}

} // namespace

BENCHMARK(BM_StartToFirstFrame)->Args({1920, 1080, 1024})->Args({1920, 1080, 2048})->Args({3840, 2160, 1024})
    ->Args({3840, 2160, 2048})->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SteadyFrame)->Arg(0x16)->Arg(0x17)->Unit(benchmark::kMillisecond);
