// How soon a monitor added while `tidefold /s` runs is covered: the time from the change to the
// first frame on the new monitor (the saver's picture showing in its middle), several times over.
// On a private Xvfb whose monitors a client sets (RandR 1.5 monitors, which the server does not
// announce: the saver finds them by looking), and, run as root, on Xorg with the dummy driver,
// an output switched on with xrandr (announced). Each monitor shows one of two flat pictures
// (--image), the desktop is grey.
//
//   bench_monitors [rounds]     (5 by default)
#include "dummy_xorg.h"
#include "harness.h"
#include "picture_files.h"
#include "xvfb.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kW = 1280, kH = 1024;

double now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Whether the middle of the area shows one of the saver's pictures.
bool picture_shown(const std::string &display, int x, int y)
{
    const int side = 64;
    Picture p;
    p.width = p.height = side;
    p.pixels.resize(side * side);
    if (!read_screen(display, x + kW / 2 - side / 2, y + kH / 2 - side / 2, side, side, p.pixels.data())) return false;
    return std::max(p.fraction_near(kGreenPicture), p.fraction_near(kRedPicture)) > 0.9;
}

// Waits up to timeout_ms for the saver to have this many processes.
bool savers_running(pid_t first, size_t count, int timeout_ms)
{
    for (int waited = 0; waited <= timeout_ms; waited += 10) {
        if (child_processes_of(first).size() + 1 == count) return true;
        sleep_ms(10);
    }
    return false;
}

// Adds the second monitor (add), times until its picture shows at (x, y), takes it away again
// (remove) and waits for its saver to end; prints the rounds' times.
bool measure_rounds(const char *what, const std::string &display, pid_t saver, int rounds,
                    const std::function<void()> &add, const std::function<void()> &remove)
{
    std::vector<double> times;
    for (int r = 0; r < rounds; r++) {
        remove();
        if (!savers_running(saver, 1, 5000)) break;
        sleep_ms(300);
        double t0 = now_ms();
        add();
        while (!picture_shown(display, kW, 0) && now_ms() - t0 < 10000) sleep_ms(5);
        if (!picture_shown(display, kW, 0)) break;
        times.push_back(now_ms() - t0);
    }
    if ((int)times.size() < rounds) {
        fprintf(stderr, "%s: the added monitor was not covered within 10 s\n", what);
        return false;
    }
    std::sort(times.begin(), times.end());
    printf("%-34s min %6.0f ms   median %6.0f ms   max %6.0f ms   (%d rounds)\n", what, times.front(),
           times[times.size() / 2], times.back(), rounds);
    return true;
}

std::string picture_folder()
{
    char tmpl[] = "/tmp/tidefold-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return "";
    save_flat_picture(std::string(tmpl) + "/green.png", kGreenPicture);
    save_flat_picture(std::string(tmpl) + "/red.png", kRedPicture);
    return tmpl;
}

bool measure_xvfb(const std::string &dir, int rounds)
{
    PrivateXvfb xvfb;
    if (!xvfb.start(2 * kW, kH, 24)) return false;
    std::vector<unsigned> grey((size_t)2 * kW * kH, 0x808080);
    paint_root(xvfb.display(), 2 * kW, kH, grey.data());
    MonitorSpec one[] = {{0, 0, kW, kH, true}, {kW, 0, kW, kH, false}};
    set_monitors(xvfb.display(), one, 2);
    Process saver;
    if (!saver.start({TIDEFOLD_EXE, "/s", "--image", dir, "--no-lighting"}, {"DISPLAY=" + xvfb.display()}) ||
        !savers_running(saver.pid(), 2, 15000))
        return false;
    bool ok = measure_rounds(
        "Xvfb, monitor set by a client", xvfb.display(), saver.pid(), rounds,
        [&] { set_monitors(xvfb.display(), one, 2); }, [&] { set_monitors(xvfb.display(), one, 1); });
    saver.signal(SIGTERM);
    saver.wait_exit(5000);
    return ok;
}

bool measure_xorg(const std::string &dir, int rounds)
{
    DummyXorg xorg;
    if (!xorg.start("        Virtual 4096 2048") || !xorg.xrandr("--addmode DUMMY1 1280x1024") ||
        !xorg.xrandr("--output DUMMY0 --mode 1280x1024 --output DUMMY1 --mode 1280x1024 --right-of DUMMY0"))
        return false;
    Process saver;
    if (!saver.start({TIDEFOLD_EXE, "/s", "--image", dir, "--no-lighting"}, {"DISPLAY=" + xorg.display()}) ||
        !savers_running(saver.pid(), 2, 15000))
        return false;
    bool ok = measure_rounds(
        "Xorg dummy, output on with xrandr", xorg.display(), saver.pid(), rounds,
        [&] { xorg.xrandr("--output DUMMY1 --mode 1280x1024 --right-of DUMMY0"); },
        [&] { xorg.xrandr("--output DUMMY1 --off"); });
    saver.signal(SIGTERM);
    saver.wait_exit(5000);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 5;
    if (rounds < 1) return 2;
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string dir = picture_folder();
    if (dir.empty()) return 1;
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    printf("time from a %dx%d monitor added to its first frame\n", kW, kH);
    bool ok = measure_xvfb(dir, rounds);
    if (geteuid() == 0)
        ok = measure_xorg(dir, rounds) && ok;
    else
        printf("Xorg dummy: skipped (needs root)\n");
    std::string rm = "rm -rf " + dir;
    return system(rm.c_str()) == 0 && ok ? 0 : 1;
}
