// Tidefold under the real xscreensaver daemon: a private X server, a private home whose
// ~/.xscreensaver lists only Tidefold (the binary built here, with --root), the daemon activated
// and deactivated with xscreensaver-command. The daemon refuses to run display modes as root, so
// when the tests run as root it runs as "nobody".
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
        std::ofstream(h.home + "/.xscreensaver") << "mode: one\n"
                                                    "selected: 0\n"
                                                    "lock: False\n"
                                                    "fade: False\n"
                                                    "unfade: False\n"
                                                    "splash: False\n"
                                                    "timeout: 0:30:00\n"
                                                    "cycle: 0:30:00\n"
                                                    "programs: \\\n"
                                                    "  GL: "
                                                 << h.exe << " --root \\n\\\n\n";
        ASSERT_TRUE(h.hand_over());
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
    ASSERT_TRUE(daemon.start({"xscreensaver", "--no-splash", "--verbose"}, h.env, true, h.user, h.home + "/daemon.log",
                             h.home));
    ASSERT_TRUE(daemon_ready(10000)) << "the daemon did not start" << log();

    ASSERT_EQ(command("-activate"), 0) << log();
    ASSERT_NE(s.wait_for_saver_window(15000), 0u) << "Tidefold never showed its window" << log();
    std::vector<pid_t> running = processes_running(h.exe, h.display());
    ASSERT_EQ(running.size(), 1u) << "expected one Tidefold process" << log();
    ASSERT_TRUE(wait_for_picture(s, 10000)) << "Tidefold never drew" << log();
    sleep_ms(500);
    // The daemon blanks to black without fading, so only Tidefold can be showing the desktop.
    expect_rippling(s, 0, 0, kWidth, kHeight, desktop, "under the daemon");

    ASSERT_EQ(command("-deactivate"), 0) << log();
    EXPECT_TRUE(wait_until_gone(h.exe, h.display(), 1000)) << "Tidefold still runs a second after deactivation" << log();
    sleep_ms(300);
    EXPECT_LT(s.screenshot().mean_difference(desktop), 0.5) << "the desktop did not come back" << log();
    EXPECT_TRUE(daemon.running()) << "the daemon died" << log();
}

} // namespace
