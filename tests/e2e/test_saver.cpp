// The full-screen saver as a user meets it: the rippling desktop, and what ends it.
#include <gtest/gtest.h>

#include "harness.h"
#include "test_embedded_support.h"

#include <algorithm>
#include <filesystem>
#include <functional>

namespace {

constexpr int kWidth = 1024, kHeight = 768;
constexpr int kStartMs = 10000;

class FullScreenSaver : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(s.start_display(kWidth, kHeight)); }

    // Puts the pointer at (x, y), starts the saver and waits for its window and first frames.
    void start_saver(int x = 100, int y = 100)
    {
        s.move_pointer(x, y);
        ASSERT_TRUE(s.launch("/s"));
        ASSERT_NE(s.wait_for_saver_window(kStartMs), 0u) << "the saver window never appeared";
        sleep_ms(700);
        ASSERT_TRUE(s.running());
    }
    void expect_still_running(const char *after)
    {
        EXPECT_EQ(s.wait_exit(1200), -1) << "the saver closed after " << after;
    }
    void expect_closed(const char *after) { EXPECT_EQ(s.wait_exit(5000), 0) << "the saver did not close with 0 after " << after; }
    // A window under the saver, focused, that hears the events in mask (what leaks to it).
    Window focused_window_underneath(long mask)
    {
        Display *d = s.dpy();
        Window under = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 400, 300, 0, 0, 0);
        XSelectInput(d, under, mask);
        XMapWindow(d, under);
        XSync(d, False);
        XSetInputFocus(d, under, RevertToParent, CurrentTime);
        XSync(d, False);
        return under;
    }
    // A client of its own asks for the keyboard: AlreadyGrabbed while a saver holds it.
    static int grab_from_another_client()
    {
        Display *other = XOpenDisplay(nullptr);
        int r = XGrabKeyboard(other, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync, CurrentTime);
        XCloseDisplay(other);
        return r;
    }

    SaverSession s;
};

TEST_F(FullScreenSaver, ShowsTheDesktopRipplingInItsOwnColours)
{
    Picture desktop = s.screenshot();
    start_saver();
    sleep_ms(1500);
    Picture a = s.screenshot();
    sleep_ms(400);
    Picture b = s.screenshot();
    // Ripples may pull in the black texture beyond the picture near the edges, never much more.
    EXPECT_LT(a.black_fraction(), 0.3) << "the screen is black";
    EXPECT_GT(a.mean_difference(b), 0.5) << "the picture does not move";
    EXPECT_GT(a.mean_difference(desktop), 0.5) << "the picture does not ripple";
    // The known desktop has red growing to the right and green growing downwards, blue in
    // between: the saver keeps that, so channels are neither swapped nor the picture flipped.
    int w = kWidth, h = kHeight;
    for (const Picture *p : {&desktop, &a}) {
        EXPECT_GT(p->channel_mean(16, w * 3 / 4, w, h / 8, h * 7 / 8), p->channel_mean(16, 0, w / 4, h / 8, h * 7 / 8) + 60);
        EXPECT_GT(p->channel_mean(8, 0, w, h * 5 / 8, h * 7 / 8), p->channel_mean(8, 0, w, h / 8, h * 3 / 8) + 60);
    }
    EXPECT_NEAR(a.channel_mean(0, 0, w, h / 8, h * 7 / 8), desktop.channel_mean(0, 0, w, h / 8, h * 7 / 8), 25);
    s.key("Escape", true, true);
    expect_closed("a key");
}

TEST_F(FullScreenSaver, LightingPassDarkensThePictureByTheMapsFactor)
{
    Picture desktop = s.screenshot();
    s.store_setting("flags", 0x17);
    start_saver();
    sleep_ms(1000);
    Picture lit = s.screenshot();
    // At rest every vertex samples the map at its centre, 51 of 255.
    double ratio = lit.mean_brightness() / desktop.mean_brightness();
    EXPECT_GT(ratio, 0.12);
    EXPECT_LT(ratio, 0.32);
}

TEST_F(FullScreenSaver, KeyPressCloses)
{
    start_saver();
    s.key("a", true, true);
    expect_closed("a key press");
}

TEST_F(FullScreenSaver, EachButtonCloses)
{
    for (unsigned b : {1u, 2u, 3u}) {
        start_saver();
        s.button(b);
        expect_closed("a button press");
    }
}

TEST_F(FullScreenSaver, TenPixelMoveFromStartKeepsRunningElevenCloses)
{
    start_saver(100, 100);
    s.move_pointer(104, 106);
    expect_still_running("a move of 10 pixels");
    s.move_pointer(100, 100);
    expect_still_running("a move back to the start");
    s.move_pointer(105, 106);
    expect_closed("a move of 11 pixels");
}

TEST_F(FullScreenSaver, SmallMovesAddingUpPastTenPixelsClose)
{
    start_saver(300, 300);
    for (int step = 1; step <= 5; step++) {
        s.move_pointer(300 + step, 300 + step);
        sleep_ms(60);
    }
    expect_still_running("small moves totalling 10 pixels");
    s.move_pointer(306, 305);
    expect_closed("small moves totalling 11 pixels");
}

TEST_F(FullScreenSaver, KeyReleaseAndWheelDoNotClose)
{
    XAutoRepeatOff(s.dpy()); // a key held down would otherwise repeat its press
    s.key("b", true, false); // held down before the saver starts
    start_saver();
    s.key("b", false, true);
    expect_still_running("a key release");
    s.button(4);
    s.button(5);
    expect_still_running("the wheel");
    s.key("Return", true, true);
    expect_closed("a key after the wheel");
}

TEST_F(FullScreenSaver, KeyNeverReachesTheWindowUnderneath)
{
    Display *d = s.dpy();
    Window under = focused_window_underneath(KeyPressMask | ButtonPressMask);
    start_saver(50, 50);
    s.key("x", true, true);
    s.button(1);
    expect_closed("a key");
    sleep_ms(100);
    XSync(d, False);
    int leaked = 0;
    XEvent ev;
    while (XCheckWindowEvent(d, under, KeyPressMask | ButtonPressMask, &ev)) leaked++;
    EXPECT_EQ(leaked, 0) << "input meant for the saver reached the application underneath";
}

// Another client (a launcher, a hotkey daemon) still holds the keyboard when the saver starts.
// Its release shuffles the focus, which is no loss of activation; the saver keeps asking for the
// keyboard meanwhile, so once it is free the keys are the saver's and none reach the desktop.
TEST_F(FullScreenSaver, AnotherClientsKeyboardGrabEndingNeitherClosesNorLeaksKeys)
{
    Display *d = s.dpy();
    Window under = focused_window_underneath(KeyPressMask);
    ASSERT_EQ(XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync, CurrentTime), GrabSuccess);
    XSync(d, False);
    start_saver(50, 50);
    sleep_ms(1000);
    XUngrabKeyboard(d, CurrentTime);
    XSync(d, False);
    expect_still_running("another client's keyboard grab ended");
    XSync(d, False);
    XEvent ev;
    while (XCheckWindowEvent(d, under, KeyPressMask, &ev)) {
    }
    s.key("x", true, true);
    expect_closed("a key once the keyboard was free");
    sleep_ms(100);
    XSync(d, False);
    int leaked = 0;
    while (XCheckWindowEvent(d, under, KeyPressMask, &ev)) leaked++;
    EXPECT_EQ(leaked, 0) << "the saver never took the keyboard once it was free";
}

// Another client holding the keyboard for longer than the saver keeps asking: the saver does not
// stay over the screen without it, where keys would reach the windows underneath.
TEST_F(FullScreenSaver, AnotherClientsGrabOutlastingTheRetriesEndsItWithStatusOne)
{
    Display *d = s.dpy();
    ASSERT_EQ(XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync, CurrentTime), GrabSuccess);
    XSync(d, False);
    start_saver(50, 50);
    EXPECT_EQ(s.wait_exit(8000), 1) << "the saver covers the screen without the keyboard";
    EXPECT_EQ(s.error_output(),
              "tidefold: another program holds the keyboard or pointer; not covering the screen without them\n");
    EXPECT_TRUE(s.saver_windows().empty());
}

// An idle manager firing twice, or a double click: two savers started together. Whatever covers
// the screen holds the keyboard and pointer, before the first key and after it: a third client's
// grab fails and typed keys never reach the focused window underneath.
TEST_F(FullScreenSaver, TwoStartedTogetherNeverCoverTheScreenWithoutTheGrabs)
{
    Display *d = s.dpy();
    Window under = focused_window_underneath(KeyPressMask);
    s.move_pointer(50, 50);
    Process second;
    ASSERT_TRUE(s.launch("/s"));
    ASSERT_TRUE(second.start({TIDEFOLD_EXE, "/s"}));
    ASSERT_NE(s.wait_for_saver_window(kStartMs), 0u);
    sleep_ms(5500); // past the time a saver asks again for grabs another one holds
    EXPECT_EQ(grab_from_another_client(), AlreadyGrabbed);
    s.key("x", true, true);
    sleep_ms(1000);
    XEvent ev;
    while (XCheckWindowEvent(d, under, KeyPressMask, &ev)) {
    }
    if (!s.saver_windows().empty()) {
        EXPECT_EQ(grab_from_another_client(), AlreadyGrabbed) << "a saver covers the screen without the keyboard";
        for (const char *key : {"h", "u", "n", "t", "e", "r", "2"}) s.key(key, true, true);
        sleep_ms(300);
        XSync(d, False);
        int leaked = 0;
        while (XCheckWindowEvent(d, under, KeyPressMask, &ev)) leaked++;
        EXPECT_EQ(leaked, 0) << "keys typed at the covered screen reached the window underneath";
        s.button(1);
    }
    EXPECT_EQ(s.wait_exit(5000), 0);
    EXPECT_EQ(second.wait_exit(5000), 0);
}

// Only the saver's own children are savers of one monitor, which grab nothing. The variable they
// are told their monitor in, set in the user's environment, with or without a descriptor number,
// makes no such saver.
TEST_F(FullScreenSaver, MonitorVariableInTheUsersEnvironmentStillHoldsTheKeyboard)
{
    for (const char *forged : {"0,0,1024,768", "1024,0,1920,1080", "-100,-100,50,50", "0:0,0,1024,768", "3:0,0,1024,768"}) {
        setenv("TIDEFOLD_MONITOR", forged, 1);
        start_saver(50, 50);
        unsetenv("TIDEFOLD_MONITOR");
        EXPECT_EQ(grab_from_another_client(), AlreadyGrabbed) << forged;
        std::vector<MonitorSpec> covering = s.saver_windows();
        EXPECT_EQ(covering.size(), 1u) << forged;
        EXPECT_TRUE(!covering.empty() && covering[0].width == kWidth) << forged << ": not the whole screen";
        s.key("x", true, true);
        expect_closed(forged);
        s.button(1);
        s.wait_exit(5000);
    }
}

TEST(Launcher, PasswordModeExitsAtOnceWithoutAWindow)
{
    SaverSession s;
    ASSERT_TRUE(s.start_display(640, 480));
    XSelectInput(s.dpy(), DefaultRootWindow(s.dpy()), SubstructureNotifyMask);
    XSync(s.dpy(), True);
    ASSERT_TRUE(s.launch("/a"));
    EXPECT_EQ(s.wait_exit(3000), 0);
    XSync(s.dpy(), False);
    XEvent ev;
    EXPECT_FALSE(XCheckTypedEvent(s.dpy(), CreateNotify, &ev)) << "a window was created";
}

// The host's switches take the place of the stored settings for the run and write nothing: a
// picture instead of the photograph, the passes turned off and on, the frame-rate read-out.
TEST_F(FullScreenSaver, HostSwitchesTakeThePlaceOfTheStoredSettingsForTheRun)
{
    s.paint_desktop(std::vector<unsigned>(size_t(kWidth) * kHeight, kPinkDesktop));
    char tmpl[] = "/tmp/tidefold-pictures-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string green = save_flat_picture(std::string(tmpl) + "/green.png", kGreenPicture);
    struct Case {
        std::string args;
        std::function<void(const Picture &)> check;
    } cases[] = {
        {"/s --image " + green,
         [](const Picture &p) { EXPECT_GT(p.fraction_near(kGreenPicture), 0.5) << "not the picture asked for"; }},
        {"/s --no-desktop", [](const Picture &p) { EXPECT_GT(p.black_fraction(), 0.95) << "a pass was drawn"; }},
        // The lighting map alone is grey, drawn opaque.
        {"/s -no-desktop --lighting",
         [](const Picture &p) {
             EXPECT_LT(p.black_fraction(), 0.5) << "the lighting pass was not drawn";
             EXPECT_LT(p.fraction_near(kPinkDesktop), 0.01) << "the desktop pass was drawn";
         }},
        {"--speed 3 --frequency 400 --texture-size 64 --low-quality --single-buffer /s",
         [](const Picture &p) { EXPECT_GT(p.fraction_near(kPinkDesktop), 0.5) << "the desktop is not shown"; }},
        // The read-out: yellow figures in the bottom-left corner, nothing elsewhere.
        {"/s --no-desktop -fps",
         [](const Picture &p) {
             EXPECT_GT(p.black_fraction(), 0.95) << "more than the read-out was drawn";
             Picture corner = crop(p, 0, kHeight - 30, 300, 30);
             EXPECT_GT(corner.fraction_near(0xffff4c), 0.01) << "no read-out in the corner";
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        ASSERT_TRUE(s.launch(c.args));
        ASSERT_NE(s.wait_for_saver_window(kStartMs), 0u) << s.error_output();
        sleep_ms(900);
        c.check(s.screenshot());
        s.key("Escape", true, true);
        EXPECT_EQ(s.wait_exit(5000), 0);
        EXPECT_EQ(s.error_output(), "");
    }
    EXPECT_FALSE(std::filesystem::exists(std::string(getenv("XDG_CONFIG_HOME")) + "/tidefold/registry.ini"))
        << "a switch was written to the settings";
    std::error_code ignored;
    std::filesystem::remove_all(tmpl, ignored);
}

// A bad value stops the full-screen saver before it covers anything, with one line and status 1;
// an embedded run says the same and goes on with the stored value.
TEST_F(FullScreenSaver, BadSwitchValuesEndTheSaverWithOneLineAndStatusOne)
{
    for (const char *args : {"/s --speed 0", "/s --frequency 501", "/s --texture-size 1000", "--speed 31 /s",
                             "/s --image", "/s -speed x"}) {
        SCOPED_TRACE(args);
        ASSERT_TRUE(s.launch(args));
        EXPECT_EQ(s.wait_exit(5000), 1);
        std::string said = s.error_output();
        EXPECT_EQ(said.rfind("tidefold: ", 0), 0u) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_EQ(s.wait_for_saver_window(100), 0u);
    }
    // A window another program handed over is never left empty: the stored value stands.
    Window target = client_window(s.dpy(), 100, 100, 320, 240, true);
    ASSERT_TRUE(s.launch("--window-id " + hex(target) + " --speed 0"));
    ASSERT_NE(s.wait_for_saver_window(kStartMs), 0u);
    sleep_ms(900);
    EXPECT_TRUE(s.running()) << "a bad value ended an embedded run";
    EXPECT_LT(s.screenshot(100, 100, 320, 240).black_fraction(), 0.4) << "nothing drawn";
    s.signal(SIGTERM);
    EXPECT_EQ(s.wait_exit(3000), 0);
    std::string said = s.error_output();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

} // namespace
