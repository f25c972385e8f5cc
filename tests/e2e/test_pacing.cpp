// Frame pacing seen from outside, on a server that paces nothing itself (Xvfb, no refresh rate:
// 60 Hz): the program shows no more frames than a 60 Hz monitor would, double- or single-buffered,
// full screen or embedded, and after being stopped and continued it goes on at that pace with no
// burst of catch-up frames. On Xorg with the dummy driver, whose output runs a real 30 Hz mode,
// it keeps to that monitor's rate. Frames are counted with DAMAGE on the window the GL frames go to.
// While DPMS holds the monitors off (a DPMS extension put in front of Xvfb's lack of one), nothing
// is drawn and next to no processor time used, and the ripples go on when the monitors come back.
#include <gtest/gtest.h>

#include "dummy_xorg.h"
#include "frames.h"
#include "harness.h"
#include "rippling.h"
#include "test_embedded_support.h"

#include <filesystem>
#include <functional>
#include <poll.h>

namespace {

constexpr int kWidth = 640, kHeight = 480; // small, so that unpaced frames would come far faster
constexpr int kStartMs = 10000;
// Frames a 60 Hz monitor shows in ms milliseconds, with a small margin for where the count starts.
int most_frames(int ms, int rate = 60) { return ms * rate / 1000 + 3; }

class FramePacing : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("XSCREENSAVER_WINDOW");
        ASSERT_TRUE(s.start_display(kWidth, kHeight));
    }

    void launch(const std::vector<std::string> &args, const std::vector<std::string> &env = {})
    {
        std::vector<std::string> argv = {TIDEFOLD_EXE};
        argv.insert(argv.end(), args.begin(), args.end());
        ASSERT_TRUE(saver.start(argv, env));
        Window top = s.wait_for_saver_window(kStartMs);
        ASSERT_NE(top, 0u) << "tidefold never showed its window";
        for (int waited = 0; !(gl = first_child(s.dpy(), top)) && waited < kStartMs; waited += 20) sleep_ms(20);
        ASSERT_NE(gl, 0u) << "no GL window inside the saver window";
        ASSERT_TRUE(counter.watch(s.dpy(), gl));
        counter.count_for(500); // the first frames, and start-up, are not counted
    }

    void expect_paced(const char *what)
    {
        int frames = counter.count_for(2000);
        EXPECT_LE(frames, most_frames(2000)) << what;
        EXPECT_GT(frames, 0) << what << ": nothing drawn";
    }

    SaverSession s;
    Process saver;
    Window gl = 0;
    FrameCounter counter;
};

TEST_F(FramePacing, FullScreenDoubleBufferedShowsNoMoreThanTheRefreshRate)
{
    launch({"/s"});
    expect_paced("full screen, double-buffered");
}

TEST_F(FramePacing, FullScreenSingleBufferedShowsNoMoreThanTheRefreshRate)
{
    s.store_setting("flags", 0x06);
    launch({"/s"});
    expect_paced("full screen, single-buffered");
}

TEST_F(FramePacing, EmbeddedShowsNoMoreThanTheRefreshRate)
{
    Window target = client_window(s.dpy(), 0, 0, kWidth, kHeight, true);
    launch({"--window-id", hex(target)});
    expect_paced("embedded");
}

TEST_F(FramePacing, StoppedAndContinuedGoesOnAtItsPaceWithoutBurst)
{
    launch({"--window-id", hex(client_window(s.dpy(), 0, 0, kWidth, kHeight, true))});
    saver.signal(SIGSTOP);
    sleep_ms(1500);
    saver.signal(SIGCONT);
    int frames = counter.count_for(500);
    EXPECT_LE(frames, most_frames(500)) << "a burst of frames after SIGCONT";
    EXPECT_GT(frames, 0) << "nothing drawn after SIGCONT";
    expect_paced("after SIGCONT");
}

TEST_F(FramePacing, KeyStillEndsTheSaverPromptly)
{
    s.move_pointer(100, 100);
    ASSERT_TRUE(s.launch("/s"));
    ASSERT_NE(s.wait_for_saver_window(kStartMs), 0u);
    sleep_ms(700);
    s.key("Escape", true, true);
    EXPECT_EQ(s.wait_exit(100 + 1000), 0) << "the saver did not close after a key";
}

// The program with the fake DPMS extension, whose monitors are on while power_file says "on".
class DarkMonitors : public FramePacing {
protected:
    void launch_with_power()
    {
        char dir[] = "/tmp/tidefold-dpms-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        power_dir = dir;
        power_file = power_dir + "/state";
        set_power("on");
        // The sanitizers' runtime wants to come first; the preloaded library goes before it.
        const char *asan = getenv("ASAN_OPTIONS");
        launch({"/s"}, {"LD_PRELOAD=" FAKE_DPMS_LIBRARY, "FAKE_DPMS_FILE=" + power_file,
                        "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":verify_asan_link_order=0"});
    }
    void set_power(const char *state) { std::ofstream(power_file) << state << "\n"; }
    void TearDown() override
    {
        std::error_code ignored;
        if (!power_dir.empty()) std::filesystem::remove_all(power_dir, ignored);
    }

    std::string power_dir, power_file;
};

// Dark, by DPMS (faked) and then by the X server's own screen saver blanking the screen (Xvfb's,
// for real): nothing drawn, next to no processor time; lit again: the same ripples go on; off
// again: a key still ends the saver.
TEST_F(DarkMonitors, NothingDrawnWhileOffRipplesGoOnWhenOnAndAKeyStillEnds)
{
    struct Way {
        const char *name;
        std::function<void(bool)> darken;
    };
    const Way ways[] = {
        {"DPMS", [&](bool dark) { set_power(dark ? "off" : "on"); }},
        {"the server's screen saver", [&](bool dark) {
             XForceScreenSaver(s.dpy(), dark ? ScreenSaverActive : ScreenSaverReset);
             XSync(s.dpy(), False);
         }},
    };
    s.move_pointer(100, 100);
    launch_with_power();
    for (const Way &way : ways) {
        SCOPED_TRACE(way.name);
        way.darken(true);
        counter.count_for(500); // the monitors are asked a few times a second
        double cpu = cpu_seconds(saver.pid());
        EXPECT_EQ(counter.count_for(3000), 0) << "frames drawn for monitors that are off";
        // Drawing costs more than 3 % of a core on any machine; waiting costs next to nothing.
        EXPECT_LT(cpu_seconds(saver.pid()) - cpu, 0.1) << "CPU seconds over 3 s with the monitors off";

        way.darken(false);
        EXPECT_GT(counter.count_for(1000), 0) << "nothing drawn after the monitors came back";
        expect_rippling_shots([&] { return s.screenshot(); }, known_picture(kWidth, kHeight),
                              "after the monitors came back");
    }

    set_power("off");
    counter.count_for(1000);
    s.key("Escape", true, true);
    EXPECT_EQ(saver.wait_exit(1000), 0) << "the saver did not close after a key with the monitors off";
}

TEST(FramePacingOnARealMode, ShowsNoMoreThanTheMonitorsOwnRate)
{
    if (geteuid() != 0) GTEST_SKIP() << "Xorg with the dummy driver needs root";
    DummyXorg xorg;
    ASSERT_TRUE(xorg.start()) << "Xorg with the dummy driver did not start\n" << xorg.log();
    Display *d = XOpenDisplay(xorg.display().c_str());
    ASSERT_NE(d, nullptr);
    char config[] = "/tmp/tidefold-config-XXXXXX";
    ASSERT_NE(mkdtemp(config), nullptr);
    Process saver;
    ASSERT_TRUE(saver.start({TIDEFOLD_EXE, "/s"}, {"DISPLAY=" + xorg.display(), "XDG_CONFIG_HOME=" + std::string(config)}));
    Window gl = wait_for_gl_window(d, kStartMs);
    ASSERT_NE(gl, 0u) << "the saver window never appeared";
    {
        FrameCounter counter;
        ASSERT_TRUE(counter.watch(d, gl));
        counter.count_for(500);
        int frames = counter.count_for(2000);
        EXPECT_LE(frames, most_frames(2000, 30)) << "more frames than a 30 Hz monitor shows";
        EXPECT_GT(frames, 0) << "nothing drawn";
    }
    saver.signal(SIGTERM);
    EXPECT_EQ(saver.wait_exit(3000), 0);
    XCloseDisplay(d);
    std::error_code ignored;
    std::filesystem::remove_all(config, ignored);
}

} // namespace
