// The frame clock that paces presentation: never more frames than the monitor shows, no drift
// when the waits end late, and no burst of catch-up frames after the process was stopped. While the
// display is dark it waits for light or input, a few checks a second, and shows nothing meanwhile.
#include <gtest/gtest.h>

#include "dpms.h"
#include "pacing.h"

#include <X11/extensions/dpmsconst.h>

#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kPeriod = 16666667; // 60 Hz
constexpr int64_t kTolerance = kMs / 5;

struct FrameClockInput {
    int64_t start = 1000 * kMs;
    int64_t until = 0;
    int64_t render_ns = kMs;
    int64_t wake_late_ns = 0;
};

// A drawing loop as the saver runs it: each frame takes render_ns to draw, then waits until it
// is due (the wait ending wake_late_ns after the deadline). Gives the times frames were shown.
std::vector<int64_t> run(FrameClockInput in)
{
    x11::FrameClock clock;
    clock.period_ns = kPeriod;
    std::vector<int64_t> shown;
    for (int64_t now = in.start; now < in.until;) {
        now += in.render_ns;
        int64_t due = x11::frame_due(&clock, now, kTolerance);
        if (due > now) now = due + in.wake_late_ns;
        shown.push_back(now);
    }
    return shown;
}

// The most frames shown within any window of the given length.
size_t most_in_window(const std::vector<int64_t> &shown, int64_t window)
{
    size_t best = 0;
    for (size_t i = 0, j = 0; i < shown.size(); i++) {
        while (shown[i] - shown[j] >= window) j++;
        best = std::max(best, i - j + 1);
    }
    return best;
}

TEST(FrameClock, FastFramesNeverExceedTheRefreshRate)
{
    for (int64_t render : {int64_t(0), kMs, 9 * kMs, 16 * kMs}) {
        std::vector<int64_t> shown = run({1000 * kMs, 3000 * kMs, render, 0});
        EXPECT_LE(most_in_window(shown, 2000 * kMs), 121u) << "frames taking " << render / kMs << " ms";
        EXPECT_GE(shown.size(), 119u) << "frames taking " << render / kMs << " ms";
    }
}

TEST(FrameClock, WakingLateDoesNotSlowTheRate)
{
    // Each wait ends 0.5 ms late; deadlines measured from the previous wake-up would lose 0.5 ms
    // a frame and fall to about 58 frames a second.
    std::vector<int64_t> shown = run({0, 10000 * kMs, kMs, kMs / 2});
    EXPECT_GE(shown.size(), 599u);
    EXPECT_LE(most_in_window(shown, 2000 * kMs), 121u);
}

TEST(FrameClock, SlowFramesAreNeverHeldBack)
{
    std::vector<int64_t> shown = run({0, 2000 * kMs, 25 * kMs, 0});
    for (size_t i = 1; i < shown.size(); i++) EXPECT_EQ(shown[i] - shown[i - 1], 25 * kMs) << "frame " << i;
}

TEST(FrameClock, ResumingAfterAStopShowsNoBurst)
{
    x11::FrameClock clock;
    clock.period_ns = kPeriod;
    int64_t now = 0;
    for (int f = 0; f < 30; f++) now = std::max(now + kMs, x11::frame_due(&clock, now + kMs, kTolerance));
    now += 3000 * kMs; // stopped for three seconds
    std::vector<int64_t> shown;
    for (int f = 0; f < 30; f++) {
        now += kMs;
        now = std::max(now, x11::frame_due(&clock, now, kTolerance));
        shown.push_back(now);
    }
    for (size_t i = 1; i < shown.size(); i++) EXPECT_GE(shown[i] - shown[i - 1], kPeriod - kTolerance) << "frame " << i;
}

TEST(FrameClock, AFrameLateByLessThanAPeriodKeepsTheBeat)
{
    x11::FrameClock clock;
    clock.period_ns = kPeriod;
    EXPECT_EQ(x11::frame_due(&clock, 0, kTolerance), 0);
    EXPECT_EQ(x11::frame_due(&clock, kPeriod + 5 * kMs, kTolerance), kPeriod + 5 * kMs) << "late: goes at once";
    EXPECT_EQ(x11::frame_due(&clock, kPeriod + 6 * kMs, kTolerance), 2 * kPeriod) << "back on the beat";
    EXPECT_EQ(x11::frame_due(&clock, 3 * kPeriod - kTolerance / 2, kTolerance), 3 * kPeriod - kTolerance / 2)
        << "within the tolerance: goes at once";
}

// A display that stays dark for a number of questions, and may have input come during a wait.
struct DarkDisplay {
    int dark_answers = 0;
    int input_after_waits = -1; // the wait that input ends (counted from 1); -1: none
    std::vector<int> waits;     // the timeout of every wait that blocked
};
DarkDisplay g_dark;

const platform::FrameDisplay kFakeDisplay = {
    [] { return g_dark.dark_answers-- <= 0; },
    [](int timeout_ms) {
        if (timeout_ms <= 0) return false;
        g_dark.waits.push_back(timeout_ms);
        return int(g_dark.waits.size()) == g_dark.input_after_waits;
    },
};

TEST(FrameClockWhileDark, WaitsForLightAFewChecksASecondAndThenShowsTheFrameAtOnce)
{
    g_dark = DarkDisplay{12, -1, {}};
    x11::FrameClock clock;
    clock.period_ns = kPeriod;
    int64_t before = platform::monotonic_ns();
    EXPECT_TRUE(platform::pace_frame(&clock, kFakeDisplay)) << "the frame after the light came back";
    EXPECT_LT(platform::monotonic_ns() - before, kPeriod) << "waited longer than a frame after the light came back";
    ASSERT_EQ(g_dark.waits.size(), 12u) << "one wait for each dark answer";
    for (int timeout : g_dark.waits) EXPECT_GE(timeout, 200) << "the display asked more than five times a second";
}

TEST(FrameClockWhileDark, InputEndsTheWaitAndTheFrameIsNotShown)
{
    g_dark = DarkDisplay{1000, 3, {}};
    x11::FrameClock clock;
    clock.period_ns = kPeriod;
    EXPECT_FALSE(platform::pace_frame(&clock, kFakeDisplay)) << "a frame shown on a dark display";
    EXPECT_EQ(g_dark.waits.size(), 3u) << "the wait went on after input came";
}

struct DpmsCase {
    bool extension, capable, answers;
    unsigned short level;
    bool enabled;
    bool saver_on; // the server's own screen saver
    bool dark;
};
DpmsCase g_dpms;

TEST(MonitorsDark, OnlyWhilePowerManagementHoldsThemInALowerStateOrTheServerBlanksThem)
{
    const DpmsCase cases[] = {
        {true, true, true, DPMSModeOn, true, false, false},
        {true, true, true, DPMSModeStandby, true, false, true},
        {true, true, true, DPMSModeSuspend, true, false, true},
        {true, true, true, DPMSModeOff, true, false, true},
        {true, true, true, DPMSModeOff, false, false, false}, // power management off: the level means nothing
        {false, true, true, DPMSModeOff, true, false, false}, // no extension (Xvfb, the dummy driver)
        {true, false, true, DPMSModeOff, true, false, false}, // a screen that cannot be powered down
        {true, true, false, DPMSModeOff, true, false, false}, // the question failed
        {true, true, true, DPMSModeOn, true, true, true},     // powered, but the server's saver is on
        {false, true, true, DPMSModeOn, true, true, true},    // the same without DPMS
    };
    x11::DpmsCalls real = x11::dpms_calls;
    x11::dpms_calls = {[](Display *, int *, int *) -> Bool { return g_dpms.extension; },
                       [](Display *) -> Bool { return g_dpms.capable; },
                       [](Display *, unsigned short *level, unsigned char *enabled) -> Status {
                           *level = g_dpms.level;
                           *enabled = g_dpms.enabled;
                           return g_dpms.answers;
                       },
                       [](Display *) { return g_dpms.saver_on; }};
    static char not_a_connection;
    for (const DpmsCase &c : cases) {
        g_dpms = c;
        EXPECT_EQ(x11::monitors_dark(reinterpret_cast<Display *>(&not_a_connection)), c.dark)
            << "extension " << c.extension << ", capable " << c.capable << ", answers " << c.answers << ", level "
            << c.level << ", enabled " << c.enabled << ", server's saver on " << c.saver_on;
    }
    x11::dpms_calls = real;
}

struct ModeCase {
    unsigned long dot_clock;
    unsigned h_total, v_total;
    unsigned long flags;
    double rate;
};

TEST(ModeRefreshRate, FromTheModeTimings)
{
    const ModeCase cases[] = {
        {148500000, 2200, 1125, 0, 60.0},                // 1920x1080 at 60 Hz
        {148500000, 2640, 1125, 0, 50.0},                // 1920x1080 at 50 Hz
        {74250000, 2200, 1125, RR_Interlace, 60.0},      // 1080i: a field every other line
        {12588000, 400, 262, RR_DoubleScan, 60.05},      // 320x240: each line sent twice
        {0, 1920, 1080, 0, 0},                           // a virtual framebuffer's mode
        {148500000, 0, 1125, 0, 0},
    };
    for (const ModeCase &c : cases)
        EXPECT_NEAR(x11::mode_refresh_rate(c.dot_clock, c.h_total, c.v_total, c.flags), c.rate, 0.01)
            << c.dot_clock << " Hz over " << c.h_total << "x" << c.v_total << " flags " << c.flags;
}

} // namespace
