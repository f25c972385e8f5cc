// Monitors over RandR: what EnumDisplayMonitors lists, where a saver popup goes on a screen of
// several, which popup holds the input, and the parts of the screen no monitor shows.
#include "test_user_fixture.h"

#include "monitors.h"

namespace {

using x11::MonitorArea;

std::vector<std::vector<LONG>> as_lists(const std::vector<RECT> &rects)
{
    std::vector<std::vector<LONG>> out;
    for (const RECT &r : rects) out.push_back({r.left, r.top, r.right, r.bottom});
    return out;
}

MonitorArea area(LONG x, LONG y, LONG w, LONG h) { return {{x, y, x + w, y + h}, false}; }

TEST(UnseenParts, AreWhatNoMonitorHoldsInFewRectangles)
{
    struct Case {
        const char *layout;
        std::vector<MonitorArea> monitors;
        int width, height;
        std::vector<std::vector<LONG>> unseen;
    } cases[] = {
        {"one monitor smaller than the screen", {area(0, 0, 800, 600)}, 1024, 768, {}},
        {"side by side, equal", {area(0, 0, 1920, 1080), area(1920, 0, 1920, 1080)}, 3840, 1080, {}},
        {"a short one on the left", {area(0, 0, 1280, 1024), area(1280, 0, 1920, 1080)}, 3200, 1080,
         {{0, 1024, 1280, 1080}}},
        {"a short one on the right, lowered",
         {area(0, 0, 1920, 1200), area(1920, 100, 1280, 1024)},
         3200,
         1200,
         {{1920, 0, 3200, 100}, {1920, 1124, 3200, 1200}}},
        {"stacked with a gap to the right",
         {area(0, 0, 1024, 768), area(0, 768, 1600, 900)},
         1600,
         1668,
         {{1024, 0, 1600, 768}}},
        {"overlapping", {area(0, 0, 1000, 1000), area(500, 500, 1000, 1000)}, 1500, 1500,
         {{1000, 0, 1500, 500}, {0, 1000, 500, 1500}}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(as_lists(x11::unseen_parts(c.monitors, c.width, c.height)), c.unseen) << c.layout;
}

class Monitors : public X11Test {
protected:
    // Two monitors of unequal size side by side, the right one primary.
    bool start_two()
    {
        if (!start(3200, 1080)) return false;
        MonitorSpec m[2] = {{0, 0, 1280, 1024, false}, {1280, 0, 1920, 1080, true}};
        return set_monitors(xvfb.display(), m, 2);
    }
    std::vector<LONG> window_rect(HWND hwnd)
    {
        RECT r = {};
        EXPECT_TRUE(GetWindowRect(hwnd, &r));
        return {r.left, r.top, r.right, r.bottom};
    }
    int grab_keyboard_elsewhere()
    {
        Window mine = foreign_window(0, 0, 50, 50);
        int r = XGrabKeyboard(other, mine, False, GrabModeAsync, GrabModeAsync, CurrentTime);
        if (r == GrabSuccess) XUngrabKeyboard(other, CurrentTime);
        XSync(other, False);
        return r;
    }
};

BOOL CALLBACK note(HMONITOR m, HDC, LPRECT, LPARAM data)
{
    MONITORINFO mi = {};
    mi.cbSize = sizeof mi;
    if (GetMonitorInfoA(m, &mi))
        reinterpret_cast<std::vector<std::vector<LONG>> *>(data)->push_back(
            {mi.rcMonitor.left, mi.rcMonitor.top, mi.rcMonitor.right, mi.rcMonitor.bottom, (LONG)mi.dwFlags});
    return TRUE;
}

TEST_F(Monitors, EnumerationListsEachMonitorAndFlagsThePrimary)
{
    ASSERT_TRUE(start_two());
    std::vector<std::vector<LONG>> seen;
    EXPECT_TRUE(EnumDisplayMonitors(NULL, NULL, note, reinterpret_cast<LPARAM>(&seen)));
    std::sort(seen.begin(), seen.end()); // the server lists the primary first
    EXPECT_EQ(seen, (std::vector<std::vector<LONG>>{{0, 0, 1280, 1024, 0}, {1280, 0, 3200, 1080, MONITORINFOF_PRIMARY}}));
    MONITORINFO mi = {};
    mi.cbSize = sizeof mi;
    EXPECT_FALSE(GetMonitorInfoA(reinterpret_cast<HMONITOR>(3), &mi));
}

TEST_F(Monitors, SaverPopupCoversTheMonitorItIsPlacedOn)
{
    ASSERT_TRUE(start_two());
    HWND first = CreateWindowExA(WS_EX_TOPMOST, "recorder", "recorder", WS_POPUP | WS_VISIBLE, 1280, 0, 10, 10, NULL,
                                 NULL, NULL, NULL);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(window_rect(first), (std::vector<LONG>{1280, 0, 3200, 1080}));
    EXPECT_EQ(grab_keyboard_elsewhere(), AlreadyGrabbed) << "the first saver holds the keyboard";
    // A saver that takes no activation grabs nothing: the first one keeps the input.
    DestroyWindow(first);
    HWND other_monitor = CreateWindowExA(WS_EX_TOPMOST | WS_EX_NOACTIVATE, "recorder", "recorder", WS_POPUP, 0, 0,
                                         1280, 1024, NULL, NULL, NULL, NULL);
    ASSERT_NE(other_monitor, nullptr);
    ShowWindow(other_monitor, SW_SHOWNOACTIVATE);
    EXPECT_EQ(window_rect(other_monitor), (std::vector<LONG>{0, 0, 1280, 1024}));
    EXPECT_EQ(grab_keyboard_elsewhere(), GrabSuccess);
    DestroyWindow(other_monitor);

    // A monitor over both (the server's own for the whole screen, left in place): one saver
    // covers it, whichever monitor inside it the saver was placed on.
    MonitorSpec with_whole[3] = {{0, 0, 1280, 1024, false}, {1280, 0, 1920, 1080, true}, {0, 0, 3200, 1080, false}};
    ASSERT_TRUE(set_monitors(xvfb.display(), with_whole, 3));
    HWND whole = CreateWindowExA(WS_EX_TOPMOST, "recorder", "recorder", WS_POPUP | WS_VISIBLE, 0, 0, 3200, 1080, NULL,
                                 NULL, NULL, NULL);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(window_rect(whole), (std::vector<LONG>{0, 0, 3200, 1080}));
}

TEST_F(Monitors, TheSaverHoldingTheInputCoversTheUnseenStripUntilItGoes)
{
    ASSERT_TRUE(start_two());
    // Something of the desktop in the strip under the small monitor.
    Window behind = foreign_window(0, 1024, 1280, 56);
    HWND saver = CreateWindowExA(WS_EX_TOPMOST, "recorder", "recorder", WS_POPUP | WS_VISIBLE, 1280, 0, 1920, 1080,
                                 NULL, NULL, NULL, NULL);
    ASSERT_NE(saver, nullptr);
    unsigned strip[1280 * 56];
    ASSERT_TRUE(read_screen(xvfb.display(), 0, 1024, 1280, 56, strip));
    EXPECT_EQ(std::count(std::begin(strip), std::end(strip), 0u), 1280 * 56) << "the strip is not black";
    DestroyWindow(saver);
    ASSERT_TRUE(read_screen(xvfb.display(), 0, 1024, 1280, 56, strip));
    EXPECT_EQ(strip[0], 0x336699u) << "the cover outlived the saver";
    XDestroyWindow(other, behind);
}

} // namespace
