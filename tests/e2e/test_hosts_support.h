// Shared by the tests that run Tidefold under a real screen saver host (the xscreensaver daemon,
// MATE's screen saver, xsecurelock): a private home for the host, owned by the user it runs as,
// the plain environment it starts with, and the checks on the Tidefold processes it starts.
// Include after gtest.
#pragma once

#include "harness.h"
#include "test_embedded_support.h"

#include <filesystem>
#include <pwd.h>

class HostHome {
public:
    // Makes /tmp/tidefold-<name>-XXXXXX. With as_nobody and the tests running as root, the host
    // will run as "nobody" (for hosts that refuse root), and the program it starts must be
    // reachable by that user: if the build tree is private to root, a copy in the home is used.
    bool create(const std::string &name, bool as_nobody)
    {
        if (as_nobody && geteuid() == 0) {
            passwd *pw = getpwnam("nobody");
            if (!pw) return false;
            user = int(pw->pw_uid);
            group = int(pw->pw_gid);
        }
        std::string tmpl = "/tmp/tidefold-" + name + "-XXXXXX";
        if (!mkdtemp(&tmpl[0])) return false;
        home = tmpl;
        exe = TIDEFOLD_EXE;
        if (user >= 0 && !reachable_by_user(exe)) {
            std::filesystem::copy_file(exe, home + "/tidefold");
            exe = home + "/tidefold";
        }
        env = {"DISPLAY=" + std::string(getenv("DISPLAY")), "HOME=" + home, "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
        for (const char *pass : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (const char *v = getenv(pass)) env.push_back(std::string(pass) + "=" + v);
        return true;
    }

    ~HostHome()
    {
        std::error_code ignored;
        if (!home.empty()) std::filesystem::remove_all(home, ignored);
    }

    // Gives everything in the home to the host's user, once the test has written its files.
    bool hand_over()
    {
        if (user < 0) return true;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(home))
            if (lchown(entry.path().c_str(), uid_t(user), gid_t(group)) != 0) return false;
        return chown(home.c_str(), uid_t(user), gid_t(group)) == 0;
    }

    std::string display() const { return getenv("DISPLAY"); }
    std::string log(const std::string &file) const { return "\n--- " + file + " ---\n" + read_file(home + "/" + file); }

    // Runs a command as the host's user with the host's environment (plus extra); its exit status.
    int run(const std::vector<std::string> &argv, const std::vector<std::string> &extra = {}, int timeout_ms = 10000)
    {
        std::vector<std::string> e = env;
        e.insert(e.end(), extra.begin(), extra.end());
        Process c;
        if (!c.start(argv, e, true, user, home + "/commands.log", home)) return -1;
        return c.wait_exit(timeout_ms);
    }

    int user = -1, group = -1;
    std::string home, exe;
    std::vector<std::string> env;

private:
    bool reachable_by_user(const std::string &path)
    {
        Process probe;
        if (!probe.start({"/bin/sh", "-c", "test -x '" + path + "'"}, {}, false, user)) return false;
        return probe.wait_exit(5000) == 0;
    }
};

// Waits up to timeout_ms for the program at exe to run on display; the processes found.
inline std::vector<pid_t> wait_for_processes(const std::string &exe, const std::string &display, int timeout_ms)
{
    std::vector<pid_t> found;
    for (int waited = 0; (found = processes_running(exe, display)).empty() && waited < timeout_ms; waited += 50)
        sleep_ms(50);
    return found;
}

// Waits up to timeout_ms for every process of the program at exe on display to end.
inline bool wait_until_gone(const std::string &exe, const std::string &display, int timeout_ms)
{
    for (int waited = 0; !processes_running(exe, display).empty(); waited += 20) {
        if (waited >= timeout_ms) return false;
        sleep_ms(20);
    }
    return true;
}

// Waits up to timeout_ms for the screen to show a picture rather than a host's black; Tidefold
// takes a while to photograph, upload and draw its first frames on a busy machine.
inline bool wait_for_picture(SaverSession &s, int timeout_ms)
{
    for (int waited = 0; s.screenshot().black_fraction() >= 0.4; waited += 200) {
        if (waited >= timeout_ms) return false;
        sleep_ms(200);
    }
    return true;
}
