// The saver as a user runs it, on a private 1920x1080 Xvfb (no vsync): `tidefold /s` for 10 s
// with the default settings and again single-buffered, measured from outside: frames per second
// (counted with DAMAGE on its GL window), CPU seconds per wall second, peak resident memory. For
// comparison, the same loop run in this process unpaced (what one frame costs) and paced. Last, on a
// 3840x1080 Xvfb split into two 1920x1080 monitors, where the saver runs one process per monitor:
// frames per second on each monitor, CPU seconds per wall second of each process and of both, and
// the peak resident memory of each. Then the same two monitors powered down (DPMS, faked in front of
// Xvfb): the CPU seconds per wall second of both processes together.
//
//   bench_pacing [seconds] [WIDTHxHEIGHT]     (10 s and 1920x1080 by default)
#include "frames.h"
#include "harness.h"
#include "pacing.h"
#include "ripple.h"
#include "ssaver.h"
#include "xvfb.h"

#include <X11/Xlib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int kW = 1920, kH = 1080;

double now_s()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double self_cpu_seconds()
{
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Runs `tidefold /s` for the given time after a second of warming up, and prints what it used.
bool measure_program(Display *dpy, const char *what, double seconds)
{
    pid_t pid = fork();
    if (pid == 0) {
        execl(TIDEFOLD_EXE, TIDEFOLD_EXE, "/s", (char *)nullptr);
        _exit(127);
    }
    Window gl = wait_for_gl_window(dpy, 15000);
    FrameCounter counter;
    if (!gl || !counter.watch(dpy, gl)) {
        fprintf(stderr, "%s: no saver window to watch\n", what);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return false;
    }
    counter.count_for(1000);
    double cpu0 = cpu_seconds(pid), t0 = now_s();
    int frames = counter.count_for(int(seconds * 1000));
    double cpu1 = cpu_seconds(pid), t1 = now_s();
    kill(pid, SIGTERM);
    int status;
    rusage ru;
    wait4(pid, &status, 0, &ru);
    printf("%-28s %7.1f frames/s   %5.3f CPU s per s   peak RSS %6.1f MiB   (%d frames in %.1f s)\n", what,
           frames / (t1 - t0), (cpu1 - cpu0) / (t1 - t0), ru.ru_maxrss / 1024.0, frames, t1 - t0);
    return true;
}

// Peak resident memory of a running process in MiB (VmHWM), 0 when it cannot be read.
double peak_rss_mib(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

// `tidefold /s` on two monitors side by side: the one started takes the primary (left) monitor
// and starts a saver for the right one. Each window is counted on its own connection, at once.
bool measure_two_monitors(double seconds)
{
    SaverSession s;
    if (!s.start_display(2 * kW, kH) || !s.set_monitors({{0, 0, kW, kH, true}, {kW, 0, kW, kH, false}}) ||
        !s.launch("/s"))
        return false;
    std::vector<unsigned long> gl;
    for (int waited = 0; waited < 15000 && (gl = saver_gl_windows(s.dpy())).size() < 2; waited += 50) sleep_ms(50);
    std::vector<pid_t> savers = s.child_processes();
    savers.insert(savers.begin(), s.pid());
    // Closed after the counters below are gone (declared first, destroyed last).
    std::unique_ptr<Display, int (*)(Display *)> right_conn(XOpenDisplay(nullptr), XCloseDisplay);
    Display *right_dpy = right_conn.get();
    bool ok = gl.size() == 2 && savers.size() == 2 && right_dpy;
    FrameCounter counter[2];
    ok = ok && counter[0].watch(s.dpy(), gl[0]) && counter[1].watch(right_dpy, gl[1]);
    if (ok) {
        sleep_ms(1000);
        double cpu[2] = {cpu_seconds(savers[0]), cpu_seconds(savers[1])}, t0 = now_s(), all = 0;
        int frames[2];
        std::thread right([&] { frames[1] = counter[1].count_for(int(seconds * 1000)); });
        frames[0] = counter[0].count_for(int(seconds * 1000));
        right.join();
        double wall = now_s() - t0;
        for (int i = 0; i < 2; i++) {
            double used = cpu_seconds(savers[i]) - cpu[i];
            all += used;
            printf("%-28s %7.1f frames/s   %5.3f CPU s per s   peak RSS %6.1f MiB   (%d frames in %.1f s)\n",
                   i ? "two monitors, right" : "two monitors, left", frames[i] / wall, used / wall,
                   peak_rss_mib(savers[i]), frames[i], wall);
        }
        printf("%-28s %7.1f frames/s   %5.3f CPU s per s\n", "two monitors, both", (frames[0] + frames[1]) / wall,
               all / wall);
    } else
        fprintf(stderr, "two monitors: %zu saver windows, %zu saver processes\n", gl.size(), savers.size());
    s.signal(SIGTERM);
    s.wait_exit(5000);
    return ok;
}

#ifdef FAKE_DPMS_LIBRARY
// `tidefold /s` on two monitors again, under a DPMS extension put in front of Xvfb (which has
// none) that holds every monitor off: CPU seconds per wall second of both processes together, and
// the frames drawn meanwhile (none are due); then the monitors come on and frames are counted again.
bool measure_dark_monitors(double seconds)
{
    char dir[] = "/tmp/tidefold-bench-dpms-XXXXXX";
    if (!mkdtemp(dir)) return false;
    std::string power = std::string(dir) + "/state";
    std::ofstream(power) << "on\n";
    SaverSession s;
    bool ok = s.start_display(2 * kW, kH) && s.set_monitors({{0, 0, kW, kH, true}, {kW, 0, kW, kH, false}});
    setenv("LD_PRELOAD", FAKE_DPMS_LIBRARY, 1);
    setenv("FAKE_DPMS_FILE", power.c_str(), 1);
    ok = ok && s.launch("/s");
    unsetenv("LD_PRELOAD");
    std::vector<unsigned long> gl;
    for (int waited = 0; ok && waited < 15000 && (gl = saver_gl_windows(s.dpy())).size() < 2; waited += 50)
        sleep_ms(50);
    std::vector<pid_t> savers = s.child_processes();
    savers.insert(savers.begin(), s.pid());
    FrameCounter counter;
    ok = ok && gl.size() == 2 && savers.size() == 2 && counter.watch(s.dpy(), gl[0]);
    if (ok) {
        sleep_ms(1000);
        std::ofstream(power) << "off\n";
        sleep_ms(1000);
        double cpu0 = cpu_seconds(savers[0]) + cpu_seconds(savers[1]), t0 = now_s();
        int dark_frames = counter.count_for(int(seconds * 1000));
        double wall = now_s() - t0, used = cpu_seconds(savers[0]) + cpu_seconds(savers[1]) - cpu0;
        std::ofstream(power) << "on\n";
        int lit_frames = counter.count_for(1000);
        printf("%-28s %7.1f frames/s   %5.3f CPU s per s (goal <= 0.01)   %d frames in %.1f s; on again: %d frames in 1 s\n",
               "two monitors, both dark", dark_frames / wall, used / wall, dark_frames, wall, lit_frames);
    } else
        fprintf(stderr, "dark monitors: %zu saver windows, %zu saver processes\n", gl.size(), savers.size());
    s.signal(SIGTERM);
    s.wait_exit(5000);
    unsetenv("FAKE_DPMS_FILE");
    std::string rm = std::string("rm -rf ") + dir;
    return system(rm.c_str()) == 0 && ok;
}
#endif

// Runs the launcher's loop rule (every waiting message, one frame, a 1 ms sleep) in this process
// for the given time, paced or not; gives the frames drawn and the CPU seconds used.
void run_loop(HWND hWnd, bool paced, double seconds, int *frames, double *cpu, double *wall)
{
    x11::set_presentation_pacing(paced);
    double cpu0 = self_cpu_seconds(), t0 = now_s();
    *frames = 0;
    while (now_s() - t0 < seconds) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        if (ss_draw(hWnd) == 0) ++*frames;
        Sleep(1);
    }
    *cpu = self_cpu_seconds() - cpu0;
    *wall = now_s() - t0;
}

// The same frames drawn in this process, paced and unpaced, by the launcher's loop rule: what
// pacing saves, measured one way for both.
void measure_in_process(double seconds)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ScreenSaverProc;
    wc.lpszClassName = "screensaver";
    RegisterClassA(&wc);
    nScreenWidth = kW;
    nScreenHeight = kH;
    ss_mode = SS_MODE_PREVIEW;
    HWND hWnd = CreateWindowExA(WS_EX_TOPMOST, "screensaver", "screensaver", WS_POPUP | WS_VISIBLE, 0, 0, kW, kH,
                                NULL, NULL, NULL, NULL);
    for (int f = 0; f < 60; f++) ss_draw(hWnd);
    int frames;
    double cpu, wall;
    run_loop(hWnd, false, seconds, &frames, &cpu, &wall);
    printf("%-28s %7.1f frames/s   %5.3f CPU s per s   %.2f ms CPU, %.2f ms wall per frame (60 frames: %.3f CPU s)\n",
           "in process, unpaced", frames / wall, cpu / wall, 1000 * cpu / frames, 1000 * wall / frames,
           60 * cpu / frames);
    run_loop(hWnd, true, seconds, &frames, &cpu, &wall);
    printf("%-28s %7.1f frames/s   %5.3f CPU s per s   %.2f ms CPU per frame\n", "in process, paced", frames / wall,
           cpu / wall, 1000 * cpu / frames);
    DestroyWindow(hWnd);
}

} // namespace

int main(int argc, char **argv)
{
    double seconds = argc > 1 ? atof(argv[1]) : 10;
    if (argc > 2 && sscanf(argv[2], "%dx%d", &kW, &kH) != 2) return 2;
    setvbuf(stdout, nullptr, _IOLBF, 0);
    PrivateXvfb xvfb;
    if (!xvfb.start(kW, kH, 24)) {
        fprintf(stderr, "no Xvfb\n");
        return 1;
    }
    std::vector<unsigned> desktop((size_t)kW * kH);
    for (int y = 0; y < kH; y++)
        for (int x = 0; x < kW; x++) desktop[(size_t)y * kW + x] = ((x & 255) << 16) | ((y & 255) << 8) | ((x ^ y) & 255);
    paint_root(xvfb.display(), kW, kH, desktop.data());
    char dir[] = "/tmp/tidefold-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    setenv("XDG_CONFIG_HOME", dir, 1);
    Display *dpy = XOpenDisplay(xvfb.display().c_str());
    if (!dpy) return 1;

    printf("Xvfb %dx%d, %.0f s each\n", kW, kH, seconds);
    bool ok = measure_program(dpy, "tidefold /s, defaults", seconds);
    store_saver_setting("flags", 0x16 & ~OPTION_DOUBLE_BUFFER);
    ok = measure_program(dpy, "tidefold /s, single buffer", seconds) && ok;
    store_saver_setting("flags", 0x16);
    measure_in_process(seconds);
    XCloseDisplay(dpy);
    printf("Xvfb %dx%d as two %dx%d monitors, %.0f s\n", 2 * kW, kH, kW, kH, seconds);
    ok = measure_two_monitors(seconds) && ok;
#ifdef FAKE_DPMS_LIBRARY
    ok = measure_dark_monitors(seconds) && ok;
#endif
    std::string rm = std::string("rm -rf ") + dir;
    return system(rm.c_str()) == 0 && ok ? 0 : 1;
}
