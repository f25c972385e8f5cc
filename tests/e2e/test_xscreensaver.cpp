// Tidefold under the real xscreensaver daemon: a private X server, a private home whose
// ~/.xscreensaver lists only Tidefold (the binary built here, with --root), the daemon activated
// and deactivated with xscreensaver-command; the image settings in that file decide what Tidefold
// may show. The daemon refuses to run display modes as root, so when the tests run as root it
// runs as "nobody".
#include <gtest/gtest.h>

#include "test_hosts_support.h"

namespace {

constexpr int kWidth = 800, kHeight = 600;

class XScreenSaverDaemon : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(access("/usr/bin/xscreensaver", X_OK), 0)
            << "the xscreensaver package is not installed (tools/deps.sh installs it)";
        ASSERT_EQ(access("/usr/libexec/xscreensaver/xscreensaver-gfx", X_OK), 0)
            << "xscreensaver's helper xscreensaver-gfx is missing";
        ASSERT_TRUE(s.start_display(kWidth, kHeight));
        desktop = s.screenshot();
        ASSERT_TRUE(h.create("xscreensaver", true)) << "no private home, or no user \"nobody\" to run the daemon as";
    }

    // Writes ~/.xscreensaver with the given image settings (none: the app-defaults' say), starts
    // the daemon, blanks the screen and waits for Tidefold's first frames.
    void blank_with(const std::string &image_settings)
    {
        std::ofstream(h.home + "/.xscreensaver") << "mode: one\n"
                                                    "selected: 0\n"
                                                    "lock: False\n"
                                                    "fade: False\n"
                                                    "unfade: False\n"
                                                    "splash: False\n"
                                                    "timeout: 0:30:00\n"
                                                    "cycle: 0:30:00\n"
                                                 << image_settings
                                                 << "programs: \\\n"
                                                    "  GL: "
                                                 << h.exe << " --root \\n\\\n\n";
        ASSERT_TRUE(h.hand_over());
        ASSERT_TRUE(daemon.start({"xscreensaver", "--no-splash", "--verbose"}, h.env, true, h.user,
                                 h.home + "/daemon.log", h.home));
        ASSERT_TRUE(daemon_ready(10000)) << "the daemon did not start" << log();
        ASSERT_EQ(command("-activate"), 0) << log();
        ASSERT_NE(s.wait_for_saver_window(15000), 0u) << "Tidefold never showed its window" << log();
        ASSERT_TRUE(wait_for_picture(s, 10000)) << "Tidefold never drew" << log();
        sleep_ms(500);
    }

    void stop_daemon()
    {
        command("-exit");
        daemon.wait_exit(3000);
        wait_until_gone(h.exe, h.display(), 2000);
    }

    void TearDown() override
    {
        if (daemon.running()) {
            command("-exit");
            daemon.wait_exit(3000);
        }
    }

    // Runs xscreensaver-command with one option as the daemon's user; gives its exit status.
    int command(const char *option) { return h.run({"xscreensaver-command", option}); }

    // The daemon answers commands once it is up.
    bool daemon_ready(int timeout_ms)
    {
        for (int waited = 0; waited < timeout_ms; waited += 100) {
            if (!daemon.running()) return false;
            if (command("-time") == 0) return true;
            sleep_ms(100);
        }
        return false;
    }

    std::string log() { return h.log("daemon.log"); }

    SaverSession s;
    Picture desktop;
    HostHome h;
    Process daemon;
};

TEST_F(XScreenSaverDaemon, RunsTidefoldOnItsWindowShowingTheRipplingDesktopAndEndsItOnDeactivation)
{
    blank_with("grabDesktopImages: True\n");
    if (HasFatalFailure()) return;
    std::vector<pid_t> running = processes_running(h.exe, h.display());
    ASSERT_EQ(running.size(), 1u) << "expected one Tidefold process" << log();
    // The daemon blanks to black without fading, so only Tidefold can be showing the desktop.
    expect_rippling(s, 0, 0, kWidth, kHeight, desktop, "under the daemon");

    ASSERT_EQ(command("-deactivate"), 0) << log();
    EXPECT_TRUE(wait_until_gone(h.exe, h.display(), 1000)) << "Tidefold still runs a second after deactivation" << log();
    sleep_ms(300);
    EXPECT_LT(s.screenshot().mean_difference(desktop), 0.5) << "the desktop did not come back" << log();
    EXPECT_TRUE(daemon.running()) << "the daemon died" << log();
}

// The daemon leaves its photograph of the screen whatever the user allowed; Tidefold shows it only
// when grabDesktopImages says so, as the daemon's own display modes do. The desktop is painted a
// colour no other picture has, so any of it on the screen is the photograph.
TEST_F(XScreenSaverDaemon, ShowsThePhotographOnlyWhenTheUserAllowsItAndElseTheirPictures)
{
    s.paint_desktop(std::vector<unsigned>(size_t(kWidth) * kHeight, kPinkDesktop));
    save_flat_picture(h.home + "/Pictures/2024/lake.png", kGreenPicture);
    save_flat_picture(h.home + "/Pictures/sea.jpg", kGreenPicture);
    std::ofstream(h.home + "/Pictures/notes.txt") << "not a picture";
    struct Case {
        const char *what;
        std::string settings;
        bool wallpaper;
        unsigned colour; // what fills the screen; 0: the wallpaper, 1: the built-in picture
    } cases[] = {
        {"Debian's app-defaults alone", "", false, 1},
        {"grabDesktopImages False", "grabDesktopImages: False\nchooseRandomImages: False\n", false, 1},
        {"random images from a folder", "chooseRandomImages: True\nimageDirectory: ~/Pictures\n", false, kGreenPicture},
        {"random images but the desktop allowed", "grabDesktopImages: True\nchooseRandomImages: True\n"
                                                  "imageDirectory: ~/Pictures\n", false, kPinkDesktop},
        {"no photograph, a wallpaper published", "grabDesktopImages: False\n", true, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Pixmap wallpaper = c.wallpaper ? publish_wallpaper(s.dpy(), kWidth, kHeight) : 0;
        blank_with(c.settings);
        if (HasFatalFailure()) return;
        Picture shown = middle(s.screenshot());
        if (c.colour == kPinkDesktop) {
            EXPECT_GT(shown.fraction_near(kPinkDesktop), 0.5) << "the allowed photograph is not shown" << log();
        } else {
            EXPECT_LT(shown.fraction_near(kPinkDesktop), 0.01) << "the photograph shows, though not allowed" << log();
        }
        if (c.colour == 0) expect_rippling(s, 0, 0, kWidth, kHeight, known_picture(kWidth, kHeight), c.what);
        if (c.colour == 1) expect_builtin_picture(shown, c.what);
        if (c.colour == kGreenPicture) {
            EXPECT_GT(shown.fraction_near(kGreenPicture), 0.5) << "not the folder's picture" << log();
        }
        stop_daemon();
        if (wallpaper) {
            XDeleteProperty(s.dpy(), DefaultRootWindow(s.dpy()), XInternAtom(s.dpy(), "_XROOTPMAP_ID", False));
            XFreePixmap(s.dpy(), wallpaper);
            XSync(s.dpy(), False);
        }
    }
}

// xscreensaver-settings reads each display mode's command line against its entry when it shows
// the mode, warns of every switch the entry has no control for, and rebuilds the command from its
// controls: with our entry in its folder (mounted there in a namespace of its own, which needs
// root), every switch Tidefold takes comes back as it went in, and only a made-up one is refused.
// Its preview leaves a screenshot too, which the image settings keep off the preview as well.
TEST_F(XScreenSaverDaemon, SettingsDialogTakesEverySwitchOfTheEntryBackAndItsPreviewKeepsThePhotographOff)
{
    if (geteuid() != 0) GTEST_SKIP() << "the entry is put in xscreensaver's folder in a mount namespace, which needs root";
    ASSERT_EQ(access("/usr/bin/xscreensaver-settings", X_OK), 0) << "xscreensaver-settings is not installed";
    s.paint_desktop(std::vector<unsigned>(size_t(kWidth) * kHeight, kPinkDesktop));
    const std::string config = h.home + "/config";
    std::filesystem::create_directories(config);
    for (const auto &entry : std::filesystem::directory_iterator("/usr/share/xscreensaver/config"))
        std::filesystem::copy_file(entry.path(), config + "/" + entry.path().filename().string());
    std::filesystem::copy_file(std::string(TIDEFOLD_SOURCE_DIR) + "/packaging/tidefold.xml", config + "/tidefold.xml",
                               std::filesystem::copy_options::overwrite_existing);
    // Runs the dialog on the mode until its log holds `until`, or until the preview has drawn and
    // been looked at; gives the log.
    auto show_mode = [&](const std::string &command, const std::string &until, bool look_at_preview) {
        std::ofstream(h.home + "/.xscreensaver") << "mode: one\nselected: 0\ngrabDesktopImages: False\n"
                                                 << "programs: \\\n  GL: " << command << " \\n\\\n\n";
        EXPECT_TRUE(h.hand_over());
        std::string as_user = h.user >= 0 ? "setpriv --reuid=" + std::to_string(h.user) + " --regid=" +
                                                std::to_string(h.group) + " --clear-groups "
                                          : "";
        Process dialog;
        EXPECT_TRUE(dialog.start({"unshare", "-m", "/bin/sh", "-c",
                                  "mount --bind '" + config + "' /usr/share/xscreensaver/config && exec " + as_user +
                                      "timeout 20 xscreensaver-settings --debug"},
                                 h.env, true, -1, h.home + "/settings.log", h.home));
        std::string said;
        for (int waited = 0; waited < 15000 && (said = read_file(h.home + "/settings.log")).find(until) == std::string::npos;
             waited += 100)
            sleep_ms(100);
        if (look_at_preview) {
            EXPECT_NE(s.wait_for_saver_window(10000), 0u) << "no preview" << read_file(h.home + "/settings.log");
            sleep_ms(1500);
            std::vector<MonitorSpec> w = s.saver_windows();
            Picture preview = w.empty() ? Picture() : s.screenshot(w[0].x, w[0].y, w[0].width, w[0].height);
            EXPECT_LT(preview.black_fraction(), 0.4) << "nothing in the preview";
            EXPECT_LT(preview.fraction_near(kPinkDesktop), 0.01) << "the photograph shows in the preview";
        }
        dialog.signal(SIGTERM);
        dialog.wait_exit(3000);
        std::remove((h.home + "/settings.log").c_str());
        return said;
    };
    const std::string command = "tidefold --root --speed 5 --frequency 100 --texture-size 256 --no-desktop --lighting "
                                "--fps --single-buffer --low-quality --image /home/u/Pictures";
    const std::string rebuilt = "scheduling preview \"" + command + "\"";
    std::string said = show_mode(command + " --made-up 3", rebuilt, false);
    EXPECT_NE(said.find(rebuilt), std::string::npos) << "the dialog did not give the switches back" << said;
    EXPECT_NE(said.find("WARNING: tidefold: no match for --made-up 3"), std::string::npos) << said;
    size_t warnings = 0, refused = 0;
    for (size_t at = 0; (at = said.find("WARNING", at)) != std::string::npos; at++) warnings++;
    for (size_t at = 0; (at = said.find("no match for --made-up 3", at)) != std::string::npos; at++) refused++;
    EXPECT_EQ(warnings, refused) << "a warning about the entry or a switch of ours" << said;

    show_mode(h.exe + " --root", "", true);
    wait_until_gone(h.exe, h.display(), 2000);
}

} // namespace
