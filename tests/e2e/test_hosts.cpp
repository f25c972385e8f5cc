// Tidefold under the other screen saver hosts, run for real on a private X server with a private
// home: MATE's screen saver with the theme entry we ship chosen in its settings, and xsecurelock
// with our saver module. Each host finds its programs only in its own folders (MATE's in its
// saver folders, among them xscreensaver's hacks folder; xsecurelock in its helper folder), so
// each runs in a private mount namespace where that folder holds what the package installs there,
// pointing at the program built here. Mounting needs root; without it the tests are skipped.
//
// Neither host leaves a screenshot, and both have covered the screen by the time the saver starts,
// so the desktop the saver ripples is the wallpaper a desktop publishes on the root window.
#include <gtest/gtest.h>

#include "test_hosts_support.h"

#include <X11/Xlib.h>

namespace {

constexpr int kWidth = 800, kHeight = 600;
const std::string kSource = TIDEFOLD_SOURCE_DIR;

// argv run with `folder` mounted over `over` in a mount namespace of its own.
std::vector<std::string> with_folder_mounted(const std::string &folder, const std::string &over,
                                             const std::vector<std::string> &argv)
{
    std::string command = "mount --bind '" + folder + "' '" + over + "' && exec";
    for (const std::string &a : argv) command += " '" + a + "'";
    return {"unshare", "-m", "/bin/sh", "-c", command};
}

class ScreenSaverHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0) GTEST_SKIP() << "the hosts run in a mount namespace of their own, which needs root";
        ASSERT_TRUE(s.start_display(kWidth, kHeight));
        desktop = s.screenshot();
        // The desktop's wallpaper, published as desktops do.
        Pixmap wallpaper = desktop_pixmap(s.dpy(), kWidth, kHeight);
        unsigned long value = wallpaper;
        XChangeProperty(s.dpy(), DefaultRootWindow(s.dpy()), XInternAtom(s.dpy(), "_XROOTPMAP_ID", False), XA_PIXMAP,
                        32, PropModeReplace, reinterpret_cast<unsigned char *>(&value), 1);
        XSync(s.dpy(), False);
    }

    void expect_tidefold_rippling(const std::string &exe, const char *host, const std::string &log)
    {
        ASSERT_EQ(wait_for_processes(exe, s_display(), 15000).size(), 1u) << host << " started no Tidefold" << log;
        // xsecurelock draws in the composite overlay window, outside the root's tree of windows:
        // only the screen tells that Tidefold's window is up.
        ASSERT_TRUE(wait_for_picture(s, 15000)) << "Tidefold never drew" << log;
        sleep_ms(500);
        expect_rippling(s, 0, 0, kWidth, kHeight, desktop, host);
    }

    std::string s_display() const { return getenv("DISPLAY"); }

    SaverSession s;
    Picture desktop;
    HostHome h;
};

class MateScreenSaver : public ScreenSaverHost {
protected:
    void SetUp() override
    {
        ScreenSaverHost::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_EQ(access("/usr/bin/mate-screensaver", X_OK), 0) << "mate-screensaver is not installed (tools/deps.sh)";
        ASSERT_TRUE(h.create("mate", false));
        // The theme entry as the package installs it, in a data folder of the session's own.
        std::filesystem::create_directories(h.home + "/share/applications/screensavers");
        std::filesystem::copy_file(kSource + "/packaging/tidefold-screensaver.desktop",
                                   h.home + "/share/applications/screensavers/tidefold.desktop");
        // The hacks folder with the link the package puts there.
        std::filesystem::create_directories(h.home + "/hacks");
        std::filesystem::create_symlink(h.exe, h.home + "/hacks/tidefold");
        std::filesystem::create_directories(h.home + "/run");
        std::filesystem::permissions(h.home + "/run", std::filesystem::perms::owner_all);
        bus = "unix:path=" + h.home + "/bus";
        h.env.push_back("XDG_DATA_DIRS=" + h.home + "/share:/usr/share");
        h.env.push_back("XDG_RUNTIME_DIR=" + h.home + "/run");
        h.env.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus);
        ASSERT_TRUE(session_bus.start({"dbus-daemon", "--session", "--nofork", "--address=" + bus}, h.env, true, -1,
                                      h.home + "/bus.log", h.home));
        for (int waited = 0; access((h.home + "/bus").c_str(), F_OK) != 0 && waited < 5000; waited += 20) sleep_ms(20);
        for (const auto &kv : std::vector<std::pair<std::string, std::string>>{{"mode", "single"},
                                                                             {"themes", "['screensavers-tidefold']"},
                                                                             {"lock-enabled", "false"},
                                                                             {"idle-activation-enabled", "false"}})
            ASSERT_EQ(h.run({"gsettings", "set", "org.mate.screensaver", kv.first, kv.second}), 0)
                << "gsettings could not set " << kv.first << log();
    }

    void TearDown() override
    {
        if (daemon.running()) {
            daemon.signal(SIGTERM);
            daemon.wait_exit(3000);
        }
    }

    int command(const char *option) { return h.run({"mate-screensaver-command", option}); }
    std::string log() { return h.log("daemon.log") + h.log("commands.log"); }

    Process session_bus, daemon;
    std::string bus;
};

TEST_F(MateScreenSaver, ShowsTidefoldRipplingTheDesktopAndEndsItOnDeactivation)
{
    ASSERT_TRUE(daemon.start(with_folder_mounted(h.home + "/hacks", "/usr/libexec/xscreensaver",
                                                 {"mate-screensaver", "--no-daemon", "--debug"}),
                             h.env, true, -1, h.home + "/daemon.log", h.home));
    int waited = 0;
    for (; command("--query") != 0 && waited < 10000; waited += 200) sleep_ms(200);
    ASSERT_LT(waited, 10000) << "mate-screensaver did not start" << log();

    ASSERT_EQ(command("--activate"), 0) << log();
    expect_tidefold_rippling(h.exe, "under mate-screensaver", log());

    ASSERT_EQ(command("--deactivate"), 0) << log();
    EXPECT_TRUE(wait_until_gone(h.exe, s_display(), 1000)) << "Tidefold still runs a second after deactivation" << log();
    EXPECT_TRUE(daemon.running()) << "mate-screensaver died" << log();
}

class XSecureLock : public ScreenSaverHost {
protected:
    void SetUp() override
    {
        ScreenSaverHost::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_EQ(access("/usr/bin/xsecurelock", X_OK), 0) << "xsecurelock is not installed (tools/deps.sh)";
        ASSERT_TRUE(h.create("xsecurelock", false));
        // xsecurelock's helper folder with our module added, as the package leaves it.
        std::string helpers = h.home + "/helpers";
        std::filesystem::create_directories(helpers);
        for (const auto &entry : std::filesystem::directory_iterator("/usr/libexec/xsecurelock"))
            std::filesystem::copy_file(entry.path(), helpers + "/" + entry.path().filename().string());
        std::filesystem::copy_file(kSource + "/packaging/saver_tidefold", helpers + "/saver_tidefold");
        // tidefold on PATH, as /usr/bin/tidefold is.
        std::filesystem::create_directories(h.home + "/bin");
        std::filesystem::create_symlink(h.exe, h.home + "/bin/tidefold");
        for (std::string &e : h.env)
            if (e.rfind("PATH=", 0) == 0) e = "PATH=" + h.home + "/bin:/usr/bin:/bin";
        h.env.push_back("XSECURELOCK_SAVER=saver_tidefold");
        h.env.push_back("XSECURELOCK_NO_PAM_RHOST=1");
        locker_argv = with_folder_mounted(helpers, "/usr/libexec/xsecurelock", {"xsecurelock"});
    }

    std::string log() { return h.log("xsecurelock.log"); }

    Process locker;
    std::vector<std::string> locker_argv;
};

TEST_F(XSecureLock, ShowsTidefoldRipplingTheDesktopAndEndingTheLockEndsIt)
{
    ASSERT_TRUE(locker.start(locker_argv, h.env, true, -1, h.home + "/xsecurelock.log", h.home));
    expect_tidefold_rippling(h.exe, "under xsecurelock", log());

    locker.signal(SIGTERM);
    EXPECT_NE(locker.wait_exit(3000), -1) << "xsecurelock did not end" << log();
    EXPECT_TRUE(wait_until_gone(h.exe, s_display(), 1000)) << "Tidefold still runs a second after the lock ended" << log();
}

// A host that passes no options still shows the user's picture, stored as image_path.
TEST_F(XSecureLock, ShowsThePictureStoredAsImagePath)
{
    save_flat_picture(h.home + "/Pictures/green.png", kGreenPicture);
    std::filesystem::create_directories(h.home + "/.config/tidefold");
    std::ofstream(h.home + "/.config/tidefold/registry.ini")
        << "[HKEY_CURRENT_USER\\Software\\Brindlewick Productions\\Tidefold Screen Saver]\n"
        << "image_path=sz:" << h.home << "/Pictures\n";
    ASSERT_TRUE(locker.start(locker_argv, h.env, true, -1, h.home + "/xsecurelock.log", h.home));
    ASSERT_EQ(wait_for_processes(h.exe, s_display(), 15000).size(), 1u) << "xsecurelock started no Tidefold" << log();
    ASSERT_TRUE(wait_for_picture(s, 15000)) << "Tidefold never drew" << log();
    sleep_ms(500);
    EXPECT_GT(middle(s.screenshot()).fraction_near(kGreenPicture), 0.5) << "not the stored picture" << log();
    locker.signal(SIGTERM);
    EXPECT_NE(locker.wait_exit(3000), -1) << "xsecurelock did not end" << log();
}

} // namespace
