// A private home for a program the tests run as it would run in a user's session (a screen saver
// host, a compositor), owned by the user it runs as, and the plain environment it starts with.
#pragma once

#include "process.h"

#include <filesystem>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <vector>

class HostHome {
public:
    // Makes /tmp/tidefold-<name>-XXXXXX. With as_nobody and the tests running as root, the host
    // will run as "nobody" (for hosts that refuse root), and the program it starts must be
    // reachable by that user: if the build tree is private to root, a copy in the home is used.
    // With x_display, the environment names this process's X display.
    bool create(const std::string &name, bool as_nobody, bool x_display = true)
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
        exe = for_user(TIDEFOLD_EXE);
        env = {"HOME=" + home, "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
        if (x_display) env.push_back("DISPLAY=" + std::string(getenv("DISPLAY")));
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

    // The program at path if the user can run it there, else a copy of it in the home.
    std::string for_user(const std::string &path)
    {
        if (user < 0 || reachable_by_user(path)) return path;
        std::string copy = home + "/" + std::filesystem::path(path).filename().string();
        std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing);
        return copy;
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
