// The idle watcher's rules (tidefold --idle), the same in every kind of session. Each session's
// test says how to start a program there, how to be the user for a moment, and how to hold the
// session awake; the rules are checked on the savers the watcher starts.
#pragma once

#include "process.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <functional>
#include <string>
#include <vector>

struct IdleSession {
    // Starts tidefold with these arguments in the session.
    std::function<bool(Process &program, const std::vector<std::string> &args)> launch;
    // A key press or a pointer move, as the user makes them.
    std::function<bool()> user_input;
    // Starts a program that holds the session awake (an inhibitor) while it runs.
    std::function<bool(Process &holder)> hold_awake;
};

// The savers (tidefold /s) the watcher started that still run.
inline std::vector<pid_t> savers_of(pid_t watcher)
{
    std::vector<pid_t> found;
    DIR *proc = opendir("/proc");
    if (!proc) return found;
    while (dirent *e = readdir(proc)) {
        char *end;
        const long pid = strtol(e->d_name, &end, 10);
        if (*end || pid <= 0) continue;
        const std::string stat = read_file("/proc/" + std::string(e->d_name) + "/stat");
        const size_t after_name = stat.rfind(')');
        if (after_name == std::string::npos) continue;
        char state = 0;
        long parent = 0;
        if (sscanf(stat.c_str() + after_name + 1, " %c %ld", &state, &parent) != 2 || parent != watcher || state == 'Z')
            continue;
        const std::string cmdline = read_file("/proc/" + std::string(e->d_name) + "/cmdline");
        if (cmdline.find(std::string("\0/s\0", 4)) != std::string::npos) found.push_back(pid_t(pid));
    }
    closedir(proc);
    return found;
}

// Waits up to timeout_ms for `count` savers of the watcher to run; never more than one at a time.
inline bool wait_for_savers(pid_t watcher, size_t count, int timeout_ms)
{
    for (int waited = 0;; waited += 100) {
        const size_t running = savers_of(watcher).size();
        EXPECT_LE(running, 1u) << "two savers at once";
        if (running == count) return true;
        if (waited >= timeout_ms) return false;
        sleep_ms(100);
    }
}

// Whether the count of savers stays at `count` for hold_ms.
inline bool savers_stay(pid_t watcher, size_t count, int hold_ms)
{
    for (int waited = 0; waited <= hold_ms; waited += 100) {
        if (savers_of(watcher).size() != count) return false;
        sleep_ms(100);
    }
    return true;
}

inline void expect_idle_watcher_rules(IdleSession &session, const std::function<std::string()> &log)
{
    Process watcher;
    ASSERT_TRUE(session.launch(watcher, {"--idle", "3"}));
    ASSERT_TRUE(session.user_input());
    EXPECT_TRUE(savers_stay(watcher.pid(), 0, 1500)) << "a saver before the session was idle 3 seconds" << log();
    ASSERT_TRUE(wait_for_savers(watcher.pid(), 1, 8000)) << "no saver after 3 idle seconds" << log();

    // The user comes back and ends the saver; the next idle period brings the next saver.
    // A saver still starting (a sanitizer build on a busy machine) may not hold the keyboard yet
    // and miss the first key, as it would a user's: the user presses once more.
    sleep_ms(2000);
    ASSERT_TRUE(session.user_input());
    if (!wait_for_savers(watcher.pid(), 0, 4000)) {
        ASSERT_TRUE(session.user_input());
    }
    EXPECT_TRUE(wait_for_savers(watcher.pid(), 0, 5000)) << "the saver did not end on the user's input" << log();
    EXPECT_TRUE(wait_for_savers(watcher.pid(), 1, 8000)) << "no saver in the next idle period" << log();

    // Ended by something else while the user stays away: no second saver in the same idle period.
    for (pid_t saver : savers_of(watcher.pid())) kill(saver, SIGTERM);
    EXPECT_TRUE(wait_for_savers(watcher.pid(), 0, 5000)) << log();
    EXPECT_TRUE(savers_stay(watcher.pid(), 0, 5000)) << "a second saver in one idle period" << log();

    // Held awake (a video playing): no saver however long the user is away; let go, the saver comes.
    {
        Process holder;
        ASSERT_TRUE(session.hold_awake(holder));
        ASSERT_TRUE(session.user_input());
        EXPECT_TRUE(savers_stay(watcher.pid(), 0, 7000)) << "a saver while the session was held awake" << log();
        holder.signal(SIGTERM);
        holder.wait_exit(2000);
    }
    ASSERT_TRUE(wait_for_savers(watcher.pid(), 1, 8000)) << "no saver once the session was let go" << log();

    // A termination signal ends the watcher and its saver.
    const std::vector<pid_t> savers = savers_of(watcher.pid());
    watcher.signal(SIGTERM);
    EXPECT_EQ(watcher.wait_exit(5000), 0) << log();
    for (pid_t saver : savers)
        for (int waited = 0; kill(saver, 0) == 0 && read_file("/proc/" + std::to_string(saver) + "/stat").find(") Z") ==
                             std::string::npos; waited += 50) {
            ASSERT_LT(waited, 3000) << "the saver outlived the watcher";
            sleep_ms(50);
        }
}
