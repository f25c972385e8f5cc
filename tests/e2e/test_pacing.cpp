// Frame pacing seen from outside, on a server that paces nothing itself (Xvfb, no refresh rate:
// 60 Hz): the program shows no more frames than a 60 Hz monitor would, double- or single-buffered,
// full screen or embedded, and after being stopped and continued it goes on at that pace with no
// burst of catch-up frames. On Xorg with the dummy driver, whose output runs a real 30 Hz mode,
// it keeps to that monitor's rate. Frames are counted with DAMAGE on the window the GL frames go to.
#include <gtest/gtest.h>

#include "dummy_xorg.h"
#include "frames.h"
#include "harness.h"
#include "test_embedded_support.h"

#include <filesystem>
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

    void launch(const std::vector<std::string> &args)
    {
        std::vector<std::string> argv = {TIDEFOLD_EXE};
        argv.insert(argv.end(), args.begin(), args.end());
        ASSERT_TRUE(saver.start(argv));
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
