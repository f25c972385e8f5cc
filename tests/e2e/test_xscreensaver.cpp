// Tidefold under the real xscreensaver daemon: a private X server, a private home whose
// ~/.xscreensaver lists only Tidefold (the binary built here, with --root), the daemon activated
// and deactivated with xscreensaver-command. The daemon refuses to run display modes as root, so
// when the tests run as root it runs as "nobody".
#include <gtest/gtest.h>

#include "harness.h"
#include "test_embedded_support.h"

#include <filesystem>
#include <pwd.h>

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

        if (geteuid() == 0) {
            passwd *pw = getpwnam("nobody");
            ASSERT_NE(pw, nullptr) << "no user \"nobody\" to run the daemon as";
            user = int(pw->pw_uid);
            group = int(pw->pw_gid);
        }
        char tmpl[] = "/tmp/tidefold-xscreensaver-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        home = tmpl;
        exe = TIDEFOLD_EXE;
        // The built program must be reachable by the daemon's user; if the build tree is private
        // to root, the same binary is run from the daemon's home instead.
        if (user >= 0 && !reachable_by_user(exe)) {
            std::filesystem::copy_file(exe, home + "/tidefold");
            exe = home + "/tidefold";
        }
        std::ofstream(home + "/.xscreensaver") << "mode: one\n"
                                                  "selected: 0\n"
                                                  "lock: False\n"
                                                  "fade: False\n"
                                                  "unfade: False\n"
                                                  "splash: False\n"
                                                  "timeout: 0:30:00\n"
                                                  "cycle: 0:30:00\n"
                                                  "programs: \\\n"
                                                  "  GL: "
                                               << exe << " --root \\n\\\n\n";
        if (user >= 0) {
            for (const auto &entry : std::filesystem::recursive_directory_iterator(home))
                if (chown(entry.path().c_str(), uid_t(user), gid_t(group)) != 0) FAIL() << "chown " << entry.path();
            ASSERT_EQ(chown(home.c_str(), uid_t(user), gid_t(group)), 0);
        }
        env = {"DISPLAY=" + s_display(), "HOME=" + home, "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
        for (const char *pass : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (const char *v = getenv(pass)) env.push_back(std::string(pass) + "=" + v);
    }

    void TearDown() override
    {
        if (daemon.running()) {
            command("-exit");
            daemon.wait_exit(3000);
        }
        std::error_code ignored;
        if (!home.empty()) std::filesystem::remove_all(home, ignored);
    }

    std::string s_display() const { return getenv("DISPLAY"); }

    bool reachable_by_user(const std::string &path)
    {
        Process probe;
        std::string test = "test -x '" + path + "'";
        if (!probe.start({"/bin/sh", "-c", test}, {}, false, user)) return false;
        return probe.wait_exit(5000) == 0;
    }

    // Runs xscreensaver-command with one option as the daemon's user; gives its exit status.
    int command(const char *option)
    {
        Process c;
        if (!c.start({"xscreensaver-command", option}, env, true, user, home + "/command.log", home)) return -1;
        int status = c.wait_exit(10000);
        return status;
    }

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

    std::string log() { return "\n--- daemon log ---\n" + read_file(home + "/daemon.log"); }

    SaverSession s;
    Picture desktop;
    Process daemon;
    std::string home, exe;
    std::vector<std::string> env;
    int user = -1, group = -1;
};

TEST_F(XScreenSaverDaemon, RunsTidefoldOnItsWindowShowingTheRipplingDesktopAndEndsItOnDeactivation)
{
    ASSERT_TRUE(daemon.start({"xscreensaver", "--no-splash", "--verbose"}, env, true, user, home + "/daemon.log", home));
    ASSERT_TRUE(daemon_ready(10000)) << "the daemon did not start" << log();

    ASSERT_EQ(command("-activate"), 0) << log();
    ASSERT_NE(s.wait_for_saver_window(15000), 0u) << "Tidefold never showed its window" << log();
    std::vector<pid_t> running = processes_running(exe, s_display());
    ASSERT_EQ(running.size(), 1u) << "expected one Tidefold process" << log();
    sleep_ms(1000);
    // The daemon blanks to black without fading, so only Tidefold can be showing the desktop.
    expect_rippling(s, 0, 0, kWidth, kHeight, desktop, "under the daemon");

    ASSERT_EQ(command("-deactivate"), 0) << log();
    int waited = 0;
    while (!processes_running(exe, s_display()).empty() && waited < 1000) {
        sleep_ms(20);
        waited += 20;
    }
    EXPECT_TRUE(processes_running(exe, s_display()).empty()) << "Tidefold still runs a second after deactivation" << log();
    sleep_ms(300);
    EXPECT_LT(s.screenshot().mean_difference(desktop), 0.5) << "the desktop did not come back" << log();
    EXPECT_TRUE(daemon.running()) << "the daemon died" << log();
}

} // namespace
