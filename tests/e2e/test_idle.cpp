// The idle watcher (tidefold --idle) on X11: the idle time from the X server, input through XTest,
// and the session held awake by a stand-in for GNOME's session manager on a private session bus.
#include <gtest/gtest.h>

#include "idle_cases.h"
#include "xvfb.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

TEST(X11IdleWatcher, StartsTheSaverOncePerIdlePeriodNeverWhileHeldAwakeAndEndsWithIt)
{
    PrivateXvfb xvfb;
    ASSERT_TRUE(xvfb.start(640, 480));
    char dir[] = "/tmp/tidefold-idle-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string home = dir;
    Process bus;
    ASSERT_TRUE(bus.start({"dbus-daemon", "--session", "--nofork", "--print-address=3", "--address=unix:path=" + home +
                           "/bus"}, {}, false, -1, home + "/bus.log"));
    for (int waited = 0; access((home + "/bus").c_str(), F_OK) != 0; waited += 20) {
        ASSERT_LT(waited, 5000) << "no session bus";
        sleep_ms(20);
    }
    const std::vector<std::string> env = {"HOME=" + home, "PATH=/usr/bin:/bin", "DISPLAY=" + xvfb.display(),
                                          "XDG_RUNTIME_DIR=" + home, "XDG_CONFIG_HOME=" + home,
                                          "DBUS_SESSION_BUS_ADDRESS=unix:path=" + home + "/bus"};
    IdleSession session;
    session.launch = [&](Process &program, const std::vector<std::string> &args) {
        std::vector<std::string> argv = {TIDEFOLD_EXE};
        argv.insert(argv.end(), args.begin(), args.end());
        return program.start(argv, env, true, -1, home + "/tidefold.log");
    };
    session.user_input = [&] {
        Process xdotool;
        return xdotool.start({"xdotool", "key", "shift"}, env, true) && xdotool.wait_exit(5000) == 0;
    };
    session.hold_awake = [&](Process &holder) {
        if (!holder.start({SESSION_CLIENT, "inhibit"}, env, true, -1, home + "/holder.log")) return false;
        for (int waited = 0; read_file(home + "/holder.log").find("ready") == std::string::npos; waited += 20) {
            if (waited >= 5000 || !holder.running()) return false;
            sleep_ms(20);
        }
        return true;
    };
    expect_idle_watcher_rules(session, [&] { return "\n--- tidefold.log ---\n" + read_file(home + "/tidefold.log"); });
    bus.signal(SIGTERM);
    bus.wait_exit(2000);
    std::filesystem::remove_all(home);
}

} // namespace
