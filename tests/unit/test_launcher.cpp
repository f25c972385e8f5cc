// The launcher's command-line scan, its share-out of the monitors, and the frame driver's drop
// countdown.
#include "monitor_plan.h"
#include "ripple.h"
#include "ssaver.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct ScanCase {
    const char *args;
    int mode;
    intptr_t parent;
};

class CommandLine : public ::testing::TestWithParam<ScanCase> {};

TEST_P(CommandLine, LastSwitchWinsAndHandleStartsTwoAfterTheLetter)
{
    const ScanCase &c = GetParam();
    ss_mode = SS_MODE_CONFIG;
    ss_scan_command_line(c.args);
    EXPECT_EQ(ss_mode, c.mode) << "\"" << c.args << "\"";
    if (c.mode == SS_MODE_PREVIEW) {
        EXPECT_EQ((intptr_t)ss_invoked_parent(), c.parent) << "\"" << c.args << "\"";
    }
    ss_mode = SS_MODE_CONFIG;
}

INSTANTIATE_TEST_SUITE_P(
    Switches, CommandLine,
    ::testing::Values(ScanCase{"", SS_MODE_CONFIG, 0}, ScanCase{"/S", SS_MODE_SAVER, 0}, ScanCase{"-s", SS_MODE_SAVER, 0},
                      ScanCase{"/s", SS_MODE_SAVER, 0}, ScanCase{"/P 1234", SS_MODE_PREVIEW, 1234},
                      ScanCase{"/p 1234", SS_MODE_PREVIEW, 1234}, ScanCase{"/p:1234", SS_MODE_PREVIEW, 1234},
                      ScanCase{"/p1234", SS_MODE_PREVIEW, 234}, ScanCase{"/l 77", SS_MODE_PREVIEW, 77},
                      ScanCase{"/s /c", SS_MODE_CONFIG, 0}, ScanCase{"/c /s", SS_MODE_SAVER, 0},
                      ScanCase{"//s", SS_MODE_CONFIG, 0}, ScanCase{"/x", SS_MODE_CONFIG, 0},
                      ScanCase{"/x /s", SS_MODE_SAVER, 0}, ScanCase{"/a 1234", SS_MODE_PASSWORD, 0},
                      ScanCase{"saver /c", SS_MODE_CONFIG, 0}, ScanCase{"/A", SS_MODE_PASSWORD, 0},
                      ScanCase{"/p 12 /p 34", SS_MODE_PREVIEW, 34}, ScanCase{"/p 5 /s", SS_MODE_SAVER, 0},
                      // The handle's digits after the third character are scanned as text: "-s" here is a switch.
                      ScanCase{"/p 9-s", SS_MODE_SAVER, 0},
                      // Strings that end at the switch, the letter or inside the handle.
                      ScanCase{"/", SS_MODE_CONFIG, 0}, ScanCase{"-", SS_MODE_CONFIG, 0},
                      ScanCase{"/s -", SS_MODE_SAVER, 0}, ScanCase{"/p", SS_MODE_PREVIEW, 0},
                      ScanCase{"/p5", SS_MODE_PREVIEW, 0}, ScanCase{"/p ", SS_MODE_PREVIEW, 0},
                      ScanCase{"/p 99999999999999999999999", SS_MODE_PREVIEW, (intptr_t)LONG_MAX}));

// The scan must stop at the terminating NUL: the string is placed at the very end of a heap
// block so that AddressSanitizer catches any read past it.
TEST(CommandLineBounds, ScanNeverReadsPastTheTerminator)
{
    for (const char *s : {"/", "-", "/p", "/p5", "/l", "/p 1", "x/"}) {
        size_t n = strlen(s) + 1;
        char *exact = static_cast<char *>(malloc(n));
        memcpy(exact, s, n);
        ss_scan_command_line(exact);
        free(exact);
    }
    ss_mode = SS_MODE_CONFIG;
}

class DropCountdown : public ::testing::Test {
protected:
    void SetUp() override
    {
        nScreenWidth = 1024;
        nScreenHeight = 768;
        nScreenWidth2 = nScreenHeight2 = 1024;
        ripple_prepare();
    }
    void TearDown() override { ripple_freq = 10; }

    // Frames (counting from 1) on which a drop is attempted within the first n frames.
    static std::vector<int> drop_frames(int n)
    {
        int frame = 0;
        std::vector<int> drops;
        for (int f = 1; f <= n; f++)
            if (drop_countdown(&frame)) drops.push_back(f);
        return drops;
    }
};

TEST_F(DropCountdown, DropsComeEveryFreqPlusTwoFramesFromTheSecond)
{
    ripple_freq = 10;
    EXPECT_EQ(drop_frames(40), (std::vector<int>{2, 14, 26, 38}));
    ripple_freq = 1;
    EXPECT_EQ(drop_frames(12), (std::vector<int>{2, 5, 8, 11}));
}

TEST_F(DropCountdown, NegativeAndExtremeFrequenciesNeitherStallNorOverflow)
{
    ripple_freq = -1000;
    EXPECT_EQ(drop_frames(4), (std::vector<int>{2, 3, 4}));
    ripple_freq = INT_MIN;
    EXPECT_EQ(drop_frames(4), (std::vector<int>{2, 3, 4}));
    ripple_freq = INT_MAX;
    EXPECT_EQ(drop_frames(5), (std::vector<int>{2}));
}

TEST_F(DropCountdown, DrawsYThenXFromTheGenerator)
{
    srand(7);
    int first = rand();
    int second = rand();
    srand(7);
    int frame = -1;
    ASSERT_TRUE(drop_countdown(&frame));
    int y = first % nScreenHeight, x = second % nScreenWidth;
    EXPECT_EQ(ripple[0].x, (int)(x * 32.0 / nScreenWidth));
    EXPECT_EQ(ripple[0].y, (int)(y * 32.0 / nScreenHeight));
    EXPECT_EQ(ripple[0].t, 28);
    EXPECT_EQ(frame, ripple_freq);
}

TEST_F(DropCountdown, DropIsSpentEvenWhenNoSlotIsFree)
{
    for (auto &r : ripple) r = {1, 1, 100, 2048};
    int frame = -1;
    EXPECT_TRUE(drop_countdown(&frame));
    EXPECT_EQ(frame, ripple_freq);
    for (auto &r : ripple) EXPECT_EQ(r.t, 100);
}

// What a saver started for one monitor reads from its environment: left,top,width,height, whole,
// or nothing at all (then it is an ordinary saver).
TEST(MonitorArea, IsReadWholeOrNotAtAll)
{
    struct Case {
        const char *text;
        bool read;
        RECT rc;
    } cases[] = {
        {"1280,0,1920,1080", true, {1280, 0, 3200, 1080}},
        {"-1920,-120,1920,1200", true, {-1920, -120, 0, 1080}},
        {"0,0,1,1", true, {0, 0, 1, 1}},
        {"", false, {}},
        {"0,0,1280", false, {}},
        {"0,0,1280,1024,5", false, {}},
        {"0,0,1280,1024x", false, {}},
        {"0,0,0,1024", false, {}},
        {"0,0,1280,-1", false, {}},
        {"0,0,99999999999,1024", false, {}},
    };
    for (const Case &c : cases) {
        RECT rc = {7, 7, 7, 7};
        ASSERT_EQ(ss_read_monitor_area(c.text, &rc) != 0, c.read) << "\"" << c.text << "\"";
        if (c.read) {
            EXPECT_TRUE(rc.left == c.rc.left && rc.top == c.rc.top && rc.right == c.rc.right && rc.bottom == c.rc.bottom)
                << c.text;
        }
    }
    EXPECT_FALSE(ss_read_monitor_area(NULL, NULL));
}

std::string areas_text(const std::vector<RECT> &areas)
{
    std::string t;
    for (const RECT &r : areas)
        t += std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right - r.left) + "x" +
             std::to_string(r.bottom - r.top) + " ";
    return t;
}

RECT area(LONG x, LONG y, LONG w, LONG h) { return {x, y, x + w, y + h}; }

// One saver per area that some monitor shows and no other one holds: a mirror or a monitor inside
// another adds none (and a primary one so held passes the part to the one holding it); partly
// overlapping monitors keep one each; empty ones none.
TEST(MonitorShare, OneSaverPerDistinctArea)
{
    RECT a = area(0, 0, 1280, 1024), b = area(1280, 0, 1920, 1080), big = area(0, 0, 1920, 1080);
    struct Case {
        const char *what;
        std::vector<SS_MONITOR> monitors;
        std::vector<RECT> areas;
        int primary;
    } cases[] = {
        {"side by side", {{a, 0}, {b, 1}}, {a, b}, 1},
        {"mirrored", {{a, 0}, {b, 0}, {a, 1}}, {a, b}, 0},
        {"inside a bigger one", {{a, 1}, {big, 0}}, {big}, 0},
        {"partly overlapping", {{area(0, 0, 1280, 1024), 0}, {area(1000, 0, 1280, 1024), 0}},
         {area(0, 0, 1280, 1024), area(1000, 0, 1280, 1024)}, 0},
        {"an empty one", {{area(5, 5, 0, 0), 1}, {a, 0}}, {a}, 0},
        {"none", {}, {}, -1},
    };
    for (const Case &c : cases) {
        int primary = 99;
        std::vector<RECT> got = ss_distinct_areas(c.monitors, &primary);
        EXPECT_EQ(areas_text(got), areas_text(c.areas)) << c.what;
        EXPECT_EQ(primary, c.primary) << c.what;
    }
    std::vector<SS_MONITOR> many;
    for (int i = 0; i < 18; i++) many.push_back({area(i * 100, 0, 100, 100), i == 0});
    int primary;
    EXPECT_EQ(ss_distinct_areas(many, &primary).size(), 18u) << "no fixed table size";
}

// After a change every area shown has exactly one saver, each made for its area's size and place;
// the first saver keeps its window while its area is shown, else takes the primary area.
TEST(MonitorShare, AChangeLeavesOneSaverPerAreaAndNoOther)
{
    RECT a = area(0, 0, 1280, 1024), b = area(1280, 0, 1920, 1080), c = area(3200, 0, 1280, 1024);
    RECT b_bigger = area(1280, 0, 2560, 1440), a_moved = area(0, 56, 1280, 1024);
    struct Case {
        const char *what;
        std::vector<RECT> areas;
        int primary;
        const RECT *own;
        std::vector<RECT> running;
        int own_after, remake;
        std::vector<RECT> end, start;
    } cases[] = {
        {"one added", {a, b, c}, 0, &a, {b}, 0, 0, {}, {c}},
        {"one removed", {a}, 0, &a, {b, c}, 0, 0, {b, c}, {}},
        {"one resized", {a, b_bigger}, 0, &a, {b}, 0, 0, {b}, {b_bigger}},
        {"the first one's moved", {a_moved, b}, 0, &a, {b}, 0, 1, {}, {}},
        {"the first one's gone", {b, c}, 1, &a, {b, c}, 1, 1, {c}, {}},
        {"all gone", {}, -1, &a, {b}, -1, 1, {b}, {}},
        {"one back with no window", {b}, 0, nullptr, {}, 0, 1, {}, {}},
        {"still none", {}, -1, nullptr, {}, -1, 0, {}, {}},
    };
    for (const Case &k : cases) {
        SS_MONITOR_PLAN plan = ss_plan_monitors(k.areas, k.primary, k.own, k.running);
        EXPECT_EQ(plan.own, k.own_after) << k.what;
        EXPECT_EQ(plan.remake, k.remake) << k.what;
        EXPECT_EQ(areas_text(plan.end), areas_text(k.end)) << k.what;
        EXPECT_EQ(areas_text(plan.start), areas_text(k.start)) << k.what;
    }
}

} // namespace
