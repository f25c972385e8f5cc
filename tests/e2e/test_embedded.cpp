// The embedded runs a screen saver daemon asks for (--root, --window-id): drawing inside the given
// window what lay under it, leaving input and the pointer to others, and ending on that window's
// destruction or on a termination signal with status 0.
#include <gtest/gtest.h>

#include "harness.h"
#include "test_embedded_support.h"

#include <algorithm>
#include <fstream>
#include <string>

namespace {

constexpr int kWidth = 800, kHeight = 600;
constexpr int kStartMs = 10000;

class Embedded : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("XSCREENSAVER_WINDOW");
        ASSERT_TRUE(s.start_display(kWidth, kHeight));
        d = s.dpy();
        desktop = s.screenshot();
    }
    void TearDown() override { unsetenv("XSCREENSAVER_WINDOW"); }

    void launch(const std::vector<std::string> &args)
    {
        std::vector<std::string> argv = {TIDEFOLD_EXE};
        argv.insert(argv.end(), args.begin(), args.end());
        ASSERT_TRUE(saver.start(argv));
        ASSERT_NE(s.wait_for_saver_window(kStartMs), 0u) << "tidefold never showed its window";
        sleep_ms(900);
        ASSERT_TRUE(saver.running());
    }

    SaverSession s;
    Display *d = nullptr;
    Picture desktop;
    Process saver;
};

TEST_F(Embedded, WindowIdDrawsWhatLayUnderTheWindowLeavesInputToItsOwnerAndEndsWithIt)
{
    const int x = 400, y = 330, w = 360, h = 240;
    Window target = client_window(d, x, y, w, h, true);
    XSelectInput(d, target, ButtonPressMask | KeyPressMask);
    launch({"--window-id", hex(target)});
    expect_rippling(s, x, y, w, h, crop(desktop, x, y, w, h), "inside the window");
    EXPECT_LT(s.screenshot(0, 0, x, kHeight).mean_difference(crop(desktop, 0, 0, x, kHeight)), 0.5)
        << "drew outside the window it was given";

    // Clicks and keys over it reach the window's owner and close nothing; nothing is grabbed.
    s.move_pointer(x + w / 2, y + h / 2);
    s.button(1);
    s.key("a", true, true);
    XEvent ev;
    EXPECT_TRUE(XCheckTypedWindowEvent(d, target, ButtonPress, &ev)) << "the click did not reach the window's owner";
    EXPECT_TRUE(XCheckTypedWindowEvent(d, target, KeyPress, &ev)) << "the key did not reach the window's owner";
    EXPECT_EQ(XGrabPointer(d, DefaultRootWindow(d), False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None,
                           CurrentTime),
              GrabSuccess);
    EXPECT_EQ(XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync, CurrentTime), GrabSuccess);
    XUngrabPointer(d, CurrentTime);
    XUngrabKeyboard(d, CurrentTime);
    XSync(d, False);
    EXPECT_EQ(saver.wait_exit(800), -1) << "input ended the embedded run";

    XDestroyWindow(d, target);
    XSync(d, False);
    EXPECT_EQ(saver.wait_exit(3000), 0);
}

// A daemon's screenshot wins over the screen (which its black window covers): one the size of the
// screen is read where the window lies, one of the window's own size as a whole. Without one, the
// wallpaper a desktop published on the root stands in for the covered screen.
TEST_F(Embedded, DaemonScreenshotIsThePictureWhereverItHangs)
{
    const int x = 420, y = 60, w = 320, h = 240;
    struct Case {
        const char *where;
        bool on_root;
        int shot_w, shot_h;
        Picture expected;
        const char *property;
    } cases[] = {
        {"screen-sized on the root", true, kWidth, kHeight, crop(known_picture(kWidth, kHeight), x, y, w, h),
         "_SCREENSAVER_SCREENSHOT"},
        {"window-sized on the window", false, w, h, known_picture(w, h), "_SCREENSAVER_SCREENSHOT"},
        {"the desktop's wallpaper", true, kWidth, kHeight, crop(known_picture(kWidth, kHeight), x, y, w, h),
         "_XROOTPMAP_ID"},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.where);
        Window target = client_window(d, x, y, w, h, false);
        Pixmap shot = desktop_pixmap(d, c.shot_w, c.shot_h);
        put_screenshot_property(d, c.on_root ? DefaultRootWindow(d) : target, shot, c.property);
        Process run;
        ASSERT_TRUE(run.start({TIDEFOLD_EXE, "-window-id", std::to_string(target)}));
        ASSERT_NE(s.wait_for_saver_window(kStartMs), 0u);
        sleep_ms(900);
        expect_rippling(s, x, y, w, h, c.expected, c.where);
        XDestroyWindow(d, target);
        XDeleteProperty(d, DefaultRootWindow(d), XInternAtom(d, c.property, False));
        XFreePixmap(d, shot);
        XSync(d, False);
        EXPECT_EQ(run.wait_exit(3000), 0);
    }
}

// With no photograph to be had (the window handed over is a blank one and no daemon left a
// screenshot), the picture source comes first (--image over the stored image_path), then the
// wallpaper, then the built-in picture; a picture that cannot be shown says so in one line.
TEST_F(Embedded, WithoutAPhotographThePictureSourceThenTheWallpaperThenTheBuiltInPicture)
{
    const int x = 200, y = 100, w = 400, h = 300;
    char tmpl[] = "/tmp/tidefold-pictures-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string green = save_flat_picture(dir + "/green.png", kGreenPicture);
    save_flat_picture(dir + "/reds/deep/red.jpg", kRedPicture);
    std::ofstream(dir + "/broken.png") << "not a picture";
    struct Case {
        const char *what;
        std::vector<std::string> args;
        std::string stored;
        bool wallpaper;
        unsigned colour; // 0: the wallpaper, 1: the built-in picture
        int warnings;
    } cases[] = {
        {"--image naming a file", {"--image", green}, "", false, kGreenPicture, 0},
        {"image_path naming a folder", {}, dir + "/reds", false, kRedPicture, 0},
        {"--image over image_path", {"--image", green}, dir + "/reds", false, kGreenPicture, 0},
        {"a broken picture, then the wallpaper", {"--image", dir + "/broken.png"}, "", true, 0, 1},
        {"a missing picture, then the built-in one", {}, dir + "/none.png", false, 1, 1},
        {"nothing but the built-in picture", {}, "", false, 1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        store_saver_string("image_path", c.stored);
        Pixmap wallpaper = c.wallpaper ? publish_wallpaper(d, kWidth, kHeight) : 0;
        Window target = client_window(d, x, y, w, h, false);
        std::vector<std::string> argv = {TIDEFOLD_EXE, "--window-id", hex(target)};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const std::string log = dir + "/run.log";
        std::remove(log.c_str());
        Process run;
        ASSERT_TRUE(run.start(argv, {}, false, -1, log));
        ASSERT_NE(s.wait_for_saver_window(kStartMs), 0u);
        sleep_ms(900);
        Picture shown = middle(s.screenshot(x, y, w, h));
        if (c.colour == 0) expect_rippling(s, x, y, w, h, crop(known_picture(kWidth, kHeight), x, y, w, h), c.what);
        if (c.colour == 1) expect_builtin_picture(shown, c.what);
        if (c.colour > 1) {
            EXPECT_GT(shown.fraction_near(c.colour), 0.5) << "not the picture asked for";
        }
        XDestroyWindow(d, target);
        if (wallpaper) {
            XDeleteProperty(d, DefaultRootWindow(d), XInternAtom(d, "_XROOTPMAP_ID", False));
            XFreePixmap(d, wallpaper);
        }
        XSync(d, False);
        EXPECT_EQ(run.wait_exit(3000), 0);
        std::string said = read_file(log);
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), c.warnings) << said;
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

TEST_F(Embedded, RootFillsTheScreenWhenNoDaemonWindowIsNamedAndSigtermRestoresIt)
{
    launch({"--root"});
    expect_rippling(s, 0, 0, kWidth, kHeight, desktop, "the root");
    saver.signal(SIGTERM);
    EXPECT_EQ(saver.wait_exit(1000), 0);
    sleep_ms(100);
    EXPECT_LT(s.screenshot().mean_difference(desktop), 0.5) << "the desktop did not come back";
}

TEST_F(Embedded, RootDrawsIntoTheWindowTheDaemonNamesInHexOrDecimal)
{
    const int x = 360, y = 260, w = 400, h = 300;
    for (bool in_hex : {true, false}) {
        SCOPED_TRACE(in_hex ? "hex" : "decimal");
        Window target = client_window(d, x, y, w, h, true);
        setenv("XSCREENSAVER_WINDOW", (in_hex ? hex(target) : std::to_string(target)).c_str(), 1);
        Process run;
        ASSERT_TRUE(run.start({TIDEFOLD_EXE, "-root"}));
        ASSERT_NE(s.wait_for_saver_window(kStartMs), 0u);
        sleep_ms(900);
        expect_rippling(s, x, y, w, h, crop(desktop, x, y, w, h), "inside the daemon's window");
        EXPECT_LT(s.screenshot(0, 0, x, kHeight).mean_difference(crop(desktop, 0, 0, x, kHeight)), 0.5)
            << "drew outside the daemon's window";
        run.signal(in_hex ? SIGHUP : SIGINT);
        EXPECT_EQ(run.wait_exit(1000), 0);
        XDestroyWindow(d, target);
        XSync(d, False);
    }
}

// Every way of running ends promptly with status 0 on each termination signal, the full-screen
// saver giving the screen, keyboard and pointer back.
TEST_F(Embedded, TerminationSignalsEndEveryModeWithZero)
{
    struct Case {
        const char *args;
        int sig;
        bool has_saver_window;
    } cases[] = {
        {"/s", SIGTERM, true},
        {"/s", SIGINT, true},
        {"/p", SIGHUP, true},
        {"/c", SIGTERM, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.args) + " " + strsignal(c.sig));
        Window parent = client_window(d, 0, 0, 200, 150, false);
        std::vector<std::string> argv = {TIDEFOLD_EXE, c.args};
        if (std::string(c.args) == "/p") argv.push_back(std::to_string(parent));
        Process run;
        ASSERT_TRUE(run.start(argv));
        if (c.has_saver_window)
            ASSERT_NE(s.wait_for_saver_window(kStartMs), 0u);
        else
            sleep_ms(1500);
        sleep_ms(300);
        ASSERT_TRUE(run.running());
        run.signal(c.sig);
        EXPECT_EQ(run.wait_exit(1000), 0);
        XDestroyWindow(d, parent);
        XSync(d, False);
        EXPECT_EQ(XGrabPointer(d, DefaultRootWindow(d), False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None,
                               None, CurrentTime),
                  GrabSuccess);
        EXPECT_EQ(XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync, CurrentTime), GrabSuccess);
        XUngrabPointer(d, CurrentTime);
        XUngrabKeyboard(d, CurrentTime);
        sleep_ms(100);
        EXPECT_LT(s.screenshot().mean_difference(desktop), 0.5) << "the desktop did not come back";
    }
}

TEST_F(Embedded, WindowIdNamingNoWindowExitsZero)
{
    for (const char *id : {"0x7fffff0", "12ab", ""}) {
        SCOPED_TRACE(id);
        std::vector<std::string> argv = {TIDEFOLD_EXE, "--window-id"};
        if (*id) argv.push_back(id);
        Process run;
        ASSERT_TRUE(run.start(argv));
        EXPECT_EQ(run.wait_exit(5000), 0);
    }
}

} // namespace
