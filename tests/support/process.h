// Child processes for the end-to-end tests: started with a chosen environment and, when the tests
// run as root, as an unprivileged user (signalled, waited for, always reaped).
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline void sleep_ms(int ms)
{
    timespec ts = {ms / 1000, (long)(ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

class Process {
public:
    // Runs argv (argv[0] a path or a name looked up in $PATH) with the environment given as
    // NAME=value entries: added to ours, or alone with clean_env. With run_as >= 0 and the tests
    // running as root, the child first becomes that user and group. Output goes to log_path
    // (or is dropped).
    bool start(const std::vector<std::string> &argv, const std::vector<std::string> &env = {}, bool clean_env = false,
               int run_as = -1, const std::string &log_path = "", const std::string &dir = "")
    {
        pid_ = fork();
        if (pid_ != 0) return pid_ > 0;
        if (clean_env) clearenv();
        for (const std::string &e : env) putenv(strdup(e.c_str()));
        int out = open(log_path.empty() ? "/dev/null" : log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
        if (run_as >= 0 && geteuid() == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(run_as)) != 0 ||
                setuid(static_cast<uid_t>(run_as)) != 0)
                _exit(126);
        }
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }

    // Waits up to timeout_ms; gives the exit status (128 + signal when killed), or -1 while it runs.
    int wait_exit(int timeout_ms)
    {
        if (pid_ <= 0) return status_;
        for (int waited = 0;; waited += 5) {
            int st;
            if (waitpid(pid_, &st, WNOHANG) == pid_) {
                pid_ = -1;
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                return status_;
            }
            if (waited >= timeout_ms) return -1;
            timespec ts = {0, 5 * 1000000L};
            nanosleep(&ts, nullptr);
        }
    }

    bool running() { return wait_exit(0) == -1 && pid_ > 0; }
    void signal(int sig)
    {
        if (pid_ > 0) kill(pid_, sig);
    }
    pid_t pid() const { return pid_; }

    ~Process()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// User plus system CPU seconds a process has used, all its threads together, from its own accounting.
inline double cpu_seconds(pid_t pid)
{
    std::string line = read_file("/proc/" + std::to_string(pid) + "/stat");
    size_t close = line.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; i++) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}
