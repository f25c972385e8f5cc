// The full-screen saver on a screen of two monitors of unequal size (1280x1024 at +0+0 and
// 1920x1080 at +1280+0), which leaves a strip under the small one that no monitor shows; and on
// monitors that come, go, change and mirror each other while it runs (RandR 1.5 monitors that
// the server does not announce: the saver finds them by looking).
#include <gtest/gtest.h>

#include "dummy_xorg.h"
#include "harness.h"
#include "test_embedded_support.h"

#include <algorithm>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <csignal>

namespace {

constexpr int kWidth = 3200, kHeight = 1080;
const MonitorSpec kLeft = {0, 0, 1280, 1024, false}, kRight = {1280, 0, 1920, 1080, false};
constexpr int kStartMs = 10000;

// The left monitor's area is red, brighter to the right; the right one's blue, brighter to the
// right; the unseen strip green. A little green grows downwards in both, so nothing is flat.
std::vector<unsigned> monitor_desktop()
{
    std::vector<unsigned> p((size_t)kWidth * kHeight);
    for (int y = 0; y < kHeight; y++)
        for (int x = 0; x < kWidth; x++) {
            unsigned g = (unsigned)(y * 40 / kHeight), v;
            if (x >= kRight.x)
                v = (g << 8) | (unsigned)(80 + 170 * (x - kRight.x) / (kRight.width - 1));
            else if (y >= kLeft.height)
                v = 0x00C000;
            else
                v = ((unsigned)(80 + 170 * x / (kLeft.width - 1)) << 16) | (g << 8);
            p[(size_t)y * kWidth + x] = v;
        }
    return p;
}

bool reddish(unsigned v) { return ((v >> 16) & 255) >= 60 && (v & 255) < 30; }
bool bluish(unsigned v) { return (v & 255) >= 60 && ((v >> 16) & 255) < 30; }

long count_pixels(const Picture &p, bool (*kind)(unsigned))
{
    long n = 0;
    for (unsigned v : p.pixels) n += kind(v);
    return n;
}

bool same_area(const MonitorSpec &a, const MonitorSpec &b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

class TwoMonitorSaver : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(s.start_display(kWidth, kHeight)); }

    // Splits the screen (the first saver goes to the primary monitor), paints the desktop, starts
    // the saver with the pointer at (x, y) and waits for a window on each monitor.
    void start_saver(int x, int y, bool right_is_primary = false, const std::string &switches = "")
    {
        MonitorSpec left = kLeft, right = kRight;
        (right_is_primary ? right : left).primary = true;
        ASSERT_TRUE(s.set_monitors({left, right})) << "the server has no RandR 1.5";
        s.paint_desktop(monitor_desktop());
        s.move_pointer(x, y);
        ASSERT_TRUE(s.launch("/s " + switches));
        ASSERT_NE(s.wait_for_saver_window(kStartMs), 0u) << "no saver window appeared";
        for (int waited = 0; waited < kStartMs && s.saver_windows().size() < 2; waited += 50) sleep_ms(50);
        sleep_ms(700);
        ASSERT_TRUE(s.running());
    }

    // Waits up to timeout_ms for every process the saver started to end.
    bool all_ended(const std::vector<pid_t> &pids, int timeout_ms)
    {
        for (int waited = 0;; waited += 10) {
            bool ended = true;
            for (pid_t p : pids) ended = ended && process_ended(p);
            if (ended) return true;
            if (waited >= timeout_ms) return false;
            sleep_ms(10);
        }
    }

    // The server takes the windows of a client that ended away once it notices the connection
    // closed, a moment after the process is gone.
    bool windows_gone(int timeout_ms)
    {
        for (int waited = 0;; waited += 10) {
            if (s.saver_windows().empty()) return true;
            if (waited >= timeout_ms) return false;
            sleep_ms(10);
        }
    }

    SaverSession s;
};

TEST_F(TwoMonitorSaver, EachMonitorShowsItsOwnAreaInPlaceAndTheUnseenStripIsBlack)
{
    start_saver(100, 100);
    std::vector<MonitorSpec> windows = s.saver_windows();
    ASSERT_EQ(windows.size(), 2u) << "one saver window for each monitor";
    EXPECT_TRUE(same_area(windows[0], kLeft)) << windows[0].width << "x" << windows[0].height << "+" << windows[0].x;
    EXPECT_TRUE(same_area(windows[1], kRight)) << windows[1].width << "x" << windows[1].height << "+" << windows[1].x;
    sleep_ms(800);
    Picture left = s.screenshot(kLeft.x, kLeft.y, kLeft.width, kLeft.height);
    Picture right = s.screenshot(kRight.x, kRight.y, kRight.width, kRight.height);
    Picture strip = s.screenshot(0, kLeft.height, kLeft.width, kHeight - kLeft.height);
    EXPECT_EQ(count_pixels(left, bluish), 0) << "the right monitor's colour shows on the left one";
    EXPECT_EQ(count_pixels(right, reddish), 0) << "the left monitor's colour shows on the right one";
    EXPECT_GT(count_pixels(left, reddish), long(left.pixels.size() * 0.7)) << "the left monitor lost its picture";
    EXPECT_GT(count_pixels(right, bluish), long(right.pixels.size() * 0.7)) << "the right monitor lost its picture";
    EXPECT_EQ(strip.black_fraction(), 1.0) << "the strip no monitor shows is not black";
    // In place and at scale: each ramp runs from 80 at its monitor's left edge to 250 at its right;
    // a picture of the whole screen, or of the wrong area, would not.
    struct Ramp {
        const Picture *p;
        int shift;
    };
    // Ripples bend the ramps, the more so the busier the machine and the further the waves have
    // run, so each third is averaged over this picture and two more taken a little later.
    Picture later[2][2];
    for (auto &shots : later) {
        sleep_ms(150);
        shots[0] = s.screenshot(kLeft.x, kLeft.y, kLeft.width, kLeft.height);
        shots[1] = s.screenshot(kRight.x, kRight.y, kRight.width, kRight.height);
    }
    for (Ramp r : {Ramp{&left, 16}, Ramp{&right, 0}}) {
        int w = r.p->width, h = r.p->height;
        int side = r.p == &left ? 0 : 1;
        // Thirds, which ripples bend but cannot move far: 80 + 170 * (1/6, 3/6, 5/6).
        double thirds[3];
        for (int t = 0; t < 3; t++) {
            thirds[t] = r.p->channel_mean(r.shift, w * t / 3, w * (t + 1) / 3, h / 8, h * 7 / 8);
            for (auto &shots : later)
                thirds[t] += shots[side].channel_mean(r.shift, w * t / 3, w * (t + 1) / 3, h / 8, h * 7 / 8);
            thirds[t] /= 3;
        }
        EXPECT_NEAR(thirds[0], 108, 30);
        EXPECT_NEAR(thirds[1], 165, 30);
        EXPECT_NEAR(thirds[2], 222, 30);
    }
    s.key("Escape", true, true);
    EXPECT_EQ(s.wait_exit(5000), 0);
}

TEST_F(TwoMonitorSaver, OneKeyEndsEveryMonitorsSaverWithStatusZero)
{
    start_saver(100, 100);
    std::vector<pid_t> others = s.child_processes();
    EXPECT_EQ(others.size(), 1u) << "one more saver for the second monitor";
    s.key("a", true, true);
    EXPECT_EQ(s.wait_exit(5000), 0);
    // The first saver waits for the others before it ends.
    for (pid_t p : others) EXPECT_TRUE(process_ended(p)) << "the second monitor's saver outlived the first";
    EXPECT_TRUE(windows_gone(500));
}

// A second saver started while the first covers both monitors leaves at once, showing nothing,
// so the one key leaves no monitor covered.
TEST_F(TwoMonitorSaver, ASecondSaverLeavesAtOnceAndOneKeyUncoversEveryMonitor)
{
    start_saver(100, 100);
    Process second;
    ASSERT_TRUE(second.start({TIDEFOLD_EXE, "/s"}));
    EXPECT_EQ(second.wait_exit(5000), 0) << "a second saver stayed";
    EXPECT_EQ(s.saver_windows().size(), 2u);
    s.key("a", true, true);
    EXPECT_EQ(s.wait_exit(5000), 0);
    EXPECT_TRUE(windows_gone(1000)) << "a saver still covers a monitor after the key";
}

// The pointer is measured over the whole screen, wherever the first saver's own window lies: here
// it covers the right monitor and the pointer rests on the left one.
TEST_F(TwoMonitorSaver, TenPixelsAwayOnTheOtherMonitorStaysElevenEnds)
{
    start_saver(300, 300, true);
    std::vector<MonitorSpec> windows = s.saver_windows();
    ASSERT_EQ(windows.size(), 2u);
    s.move_pointer(304, 306);
    EXPECT_EQ(s.wait_exit(1200), -1) << "a move of 10 pixels ended the saver";
    s.move_pointer(305, 306);
    EXPECT_EQ(s.wait_exit(5000), 0) << "a move of 11 pixels did not end the saver with 0";
}

TEST_F(TwoMonitorSaver, KillingTheFirstSaverLeavesNothingRunning)
{
    start_saver(100, 100);
    std::vector<pid_t> others = s.child_processes();
    ASSERT_FALSE(others.empty());
    s.kill_program(SIGKILL);
    EXPECT_TRUE(all_ended(others, 1000)) << "a monitor's saver outlived the killed first one by a second";
    s.wait_exit(1000);
    EXPECT_TRUE(windows_gone(500));
}

TEST_F(TwoMonitorSaver, AMonitorsSaverEndingEndsTheWholeSaver)
{
    start_saver(100, 100);
    std::vector<pid_t> others = s.child_processes();
    ASSERT_FALSE(others.empty());
    kill(others[0], SIGKILL);
    EXPECT_EQ(s.wait_exit(5000), 0) << "the first saver kept running with a monitor uncovered";
    EXPECT_TRUE(windows_gone(500));
}

// The host's switches reach the saver of every monitor: with a folder, each one takes a picture
// of its own from it, covering its whole area.
TEST_F(TwoMonitorSaver, EachMonitorTakesAPictureOfItsOwnFromTheFolder)
{
    char tmpl[] = "/tmp/tidefold-pictures-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    save_flat_picture(dir + "/green.png", kGreenPicture);
    save_flat_picture(dir + "/more/red.jpg", kRedPicture);
    start_saver(100, 100, false, "--image " + dir + " --no-lighting");
    if (HasFatalFailure()) return;
    for (const MonitorSpec &m : {kLeft, kRight}) {
        SCOPED_TRACE(m.x);
        Picture shown = middle(s.screenshot(m.x, m.y, m.width, m.height));
        EXPECT_GT(std::max(shown.fraction_near(kGreenPicture), shown.fraction_near(kRedPicture)), 0.5)
            << "not one of the folder's pictures";
    }
    s.key("Escape", true, true);
    EXPECT_EQ(s.wait_exit(5000), 0);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

// Monitors that change while the saver runs, each monitor showing one of the folder's flat
// pictures once covered (the desktop shows neither colour).
class ChangingMonitors : public TwoMonitorSaver {
protected:
    void start_with_pictures(const std::vector<MonitorSpec> &monitors)
    {
        char tmpl[] = "/tmp/tidefold-pictures-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        save_flat_picture(dir_ + "/green.png", kGreenPicture);
        save_flat_picture(dir_ + "/red.png", kRedPicture);
        ASSERT_TRUE(s.set_monitors(monitors)) << "the server has no RandR 1.5";
        s.paint_desktop(monitor_desktop());
        s.move_pointer(100, 100);
        ASSERT_TRUE(s.launch("/s --image " + dir_ + " --no-lighting"));
        expect_covered(monitors, "at start");
    }
    void TearDown() override
    {
        std::error_code ignored;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
    }

    // Waits for one saver window on each distinct area (of those given, mirrors left out) and no
    // other, then for each to show its picture. How fast is for bench_monitors to measure; the wait
    // leaves a sanitizer build on a busy machine room.
    void expect_covered(const std::vector<MonitorSpec> &monitors, const char *when, int timeout_ms = 5000)
    {
        std::vector<MonitorSpec> want;
        for (const MonitorSpec &m : monitors)
            if (std::none_of(want.begin(), want.end(), [&](const MonitorSpec &w) { return same_area(w, m); }))
                want.push_back(m);
        std::sort(want.begin(), want.end(), [](const MonitorSpec &a, const MonitorSpec &b) { return a.x < b.x; });
        bool placed = false;
        for (int waited = 0; !placed && waited <= timeout_ms; waited += 50) {
            if (waited) sleep_ms(50);
            std::vector<MonitorSpec> shown = s.saver_windows();
            // The saver of a monitor gone may still be on its way out after its window went.
            placed = shown.size() == want.size() && std::equal(shown.begin(), shown.end(), want.begin(), same_area) &&
                     s.child_processes().size() == want.size() - 1;
        }
        ASSERT_TRUE(placed) << when << ": not one saver window and process on each monitor ("
                            << s.child_processes().size() << " monitor savers)";
        sleep_ms(400);
        for (const MonitorSpec &m : want) {
            Picture shown = middle(s.screenshot(m.x, m.y, m.width, m.height));
            EXPECT_GT(std::max(shown.fraction_near(kGreenPicture), shown.fraction_near(kRedPicture)), 0.5)
                << when << ": the monitor at " << m.x << "," << m.y << " shows no picture of the saver's";
        }
    }

    std::string dir_;
};

// One monitor split in two (one resized, one added), one removed, the first saver's own monitor
// resized, a mirror of it added: after each, one saver per monitor and none left over, the
// savers of monitors that stayed as they were untouched, and at the end one key ends every one
// with status 0.
TEST_F(ChangingMonitors, EachChangeLeavesEveryMonitorCoveredOnceAndOneKeyStillEndsAll)
{
    MonitorSpec left = kLeft;
    left.primary = true;
    start_with_pictures({left, kRight});
    std::vector<pid_t> before = s.child_processes();
    ASSERT_EQ(before.size(), 1u);

    const MonitorSpec half1 = {1280, 0, 960, 1080, false}, half2 = {2240, 0, 960, 1080, false};
    s.set_monitors({left, half1, half2});
    expect_covered({left, half1, half2}, "one monitor split in two");
    EXPECT_TRUE(process_ended(before[0])) << "the saver of the monitor that changed size stayed";

    std::vector<pid_t> halves = s.child_processes();
    s.set_monitors({left, half1});
    expect_covered({left, half1}, "one removed");
    std::vector<pid_t> left_over = s.child_processes();
    ASSERT_EQ(left_over.size(), 1u);
    EXPECT_NE(std::find(halves.begin(), halves.end(), left_over[0]), halves.end())
        << "the saver of the monitor that stayed was replaced";

    const MonitorSpec taller = {0, 0, 1280, 1080, true};
    s.set_monitors({taller, half1});
    expect_covered({taller, half1}, "the first saver's own monitor resized");
    s.set_monitors({taller, half1, {0, 0, 1280, 1080, false}});
    expect_covered({taller, half1}, "a mirror of it added");
    EXPECT_EQ(s.child_processes(), left_over) << "a mirror changed the savers";

    s.key("a", true, true);
    EXPECT_EQ(s.wait_exit(5000), 0);
    EXPECT_TRUE(all_ended(left_over, 1000));
    EXPECT_TRUE(windows_gone(1000));
}

TEST_F(ChangingMonitors, EighteenMonitorsAreEachCovered)
{
    std::vector<MonitorSpec> monitors;
    for (int i = 0; i < 18; i++) monitors.push_back({i * 176, 0, 176, 1080, i == 0});
    start_with_pictures(monitors);
    if (HasFatalFailure()) return;
    expect_covered(monitors, "eighteen monitors", 30000);
    s.key("Escape", true, true);
    EXPECT_EQ(s.wait_exit(5000), 0);
}

// The same on a server that announces its changes (Xorg's dummy driver, outputs of 1280x1024
// switched on, off and to another mode with xrandr): each change is followed within a second.
class OutputsWithXrandr : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0) GTEST_SKIP() << "Xorg with the dummy driver needs root";
        ASSERT_TRUE(xorg.start("        Virtual 4096 2048")) << xorg.log();
        for (const char *o : {"DUMMY1", "DUMMY2"}) ASSERT_TRUE(xorg.xrandr(std::string("--addmode ") + o + " 1280x1024"));
        ASSERT_TRUE(xorg.xrandr("--output DUMMY0 --mode 1280x1024 --output DUMMY1 --mode 1280x1024 --right-of DUMMY0"));
        dpy = XOpenDisplay(xorg.display().c_str());
        ASSERT_NE(dpy, nullptr);
        char tmpl[] = "/tmp/tidefold-pictures-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        save_flat_picture(dir + "/green.png", kGreenPicture);
        save_flat_picture(dir + "/red.png", kRedPicture);
        ASSERT_TRUE(saver.start({TIDEFOLD_EXE, "/s", "--image", dir, "--no-lighting"},
                                {"DISPLAY=" + xorg.display(), "XDG_CONFIG_HOME=" + dir}));
    }
    void TearDown() override
    {
        if (saver.wait_exit(0) == -1) saver.signal(SIGKILL);
        if (dpy) XCloseDisplay(dpy);
        std::error_code ignored;
        if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
    }

    // Waits for exactly these saver windows, then for each to show its picture.
    void expect_covered(const std::vector<MonitorSpec> &want, const char *when, int timeout_ms = 5000)
    {
        bool placed = false;
        for (int waited = 0; !placed && waited <= timeout_ms; waited += 20) {
            if (waited) sleep_ms(20);
            std::vector<MonitorSpec> shown = saver_windows_on(dpy);
            // The saver of an output gone may still be on its way out after its window went.
            placed = shown.size() == want.size() && std::equal(shown.begin(), shown.end(), want.begin(), same_area) &&
                     child_processes_of(saver.pid()).size() == want.size() - 1;
        }
        ASSERT_TRUE(placed) << when << ": not one saver window and process on each output within " << timeout_ms
                            << " ms (" << child_processes_of(saver.pid()).size() << " monitor savers)";
        sleep_ms(300);
        for (const MonitorSpec &m : want) {
            Picture p;
            p.width = m.width;
            p.height = m.height;
            p.pixels.resize((size_t)m.width * m.height);
            ASSERT_TRUE(read_screen(xorg.display(), m.x, m.y, m.width, m.height, p.pixels.data()));
            Picture shown = middle(p);
            EXPECT_GT(std::max(shown.fraction_near(kGreenPicture), shown.fraction_near(kRedPicture)), 0.5)
                << when << ": the output at " << m.x << "," << m.y << " shows no picture of the saver's";
        }
    }

    DummyXorg xorg;
    Display *dpy = nullptr;
    std::string dir;
    Process saver;
};

TEST_F(OutputsWithXrandr, AddedRemovedAndResizedOutputsAreEachCoveredAndOneKeyStillEndsAll)
{
    const MonitorSpec first = {0, 0, 1280, 1024, false}, second = {1280, 0, 1280, 1024, false},
                      third = {2560, 0, 1280, 1024, false};
    expect_covered({first, second}, "at start", 10000);
    ASSERT_TRUE(xorg.xrandr("--output DUMMY2 --mode 1280x1024 --right-of DUMMY1"));
    expect_covered({first, second, third}, "an output added");
    std::vector<pid_t> three = child_processes_of(saver.pid());
    ASSERT_TRUE(xorg.xrandr("--output DUMMY1 --off"));
    expect_covered({first, third}, "an output switched off");
    std::vector<pid_t> left = child_processes_of(saver.pid());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_NE(std::find(three.begin(), three.end(), left[0]), three.end()) << "the saver of the output that stayed went";
    ASSERT_TRUE(xorg.xrandr("--output DUMMY0 --mode 1920x1080"));
    expect_covered({{0, 0, 1920, 1080, false}, third}, "the first saver's own output resized");
    EXPECT_EQ(child_processes_of(saver.pid()), left);

    XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, XK_a), True, 0);
    XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, XK_a), False, 0);
    XFlush(dpy);
    EXPECT_EQ(saver.wait_exit(5000), 0);
    for (pid_t p : left) EXPECT_TRUE(process_ended(p));
}

} // namespace
