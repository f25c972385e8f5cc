// Shared by the store and settings tests: a private configuration directory per test, file
// access, and a capture of everything written to stdout and stderr.
#pragma once

#include "win32.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

// Points XDG_CONFIG_HOME at a fresh temporary directory for the length of one test.
class TempConfigHome : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tidefold-store-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        home_ = tmpl;
        const char *old = getenv("XDG_CONFIG_HOME");
        old_ = old ? old : "";
        setenv("XDG_CONFIG_HOME", (home_ + "/config").c_str(), 1);
    }
    void TearDown() override
    {
        if (old_.empty()) unsetenv("XDG_CONFIG_HOME");
        else setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
        std::error_code ec;
        std::filesystem::remove_all(home_, ec);
    }
    std::string home() const { return home_; }
    std::string store_dir() const { return home_ + "/config/tidefold"; }
    std::string store_path() const { return store_dir() + "/registry.ini"; }
    void write_store(const std::string &text)
    {
        std::filesystem::create_directories(store_dir());
        std::ofstream(store_path(), std::ios::binary) << text;
    }

private:
    std::string home_, old_;
};

inline std::string read_file(const std::string &path)
{
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

inline bool loads_as_key_file(const std::string &text)
{
    GKeyFile *kf = g_key_file_new();
    bool ok = g_key_file_load_from_data(kf, text.data(), text.size(), G_KEY_FILE_NONE, nullptr);
    g_key_file_free(kf);
    return ok;
}

// Sends file descriptors 1 and 2 to a temporary file until finish(), which gives what was written.
class OutputCapture {
public:
    OutputCapture()
    {
        fflush(nullptr);
        file_ = tmpfile();
        for (int fd : {1, 2}) saved_[fd - 1] = dup(fd), dup2(fileno(file_), fd);
    }
    ~OutputCapture() { finish(); }
    std::string finish()
    {
        if (!file_) return text_;
        fflush(nullptr);
        for (int fd : {1, 2}) dup2(saved_[fd - 1], fd), close(saved_[fd - 1]);
        rewind(file_);
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, file_)) > 0;) text_.append(buf, n);
        fclose(file_);
        file_ = nullptr;
        return text_;
    }

private:
    FILE *file_ = nullptr;
    int saved_[2] = {-1, -1};
    std::string text_;
};

// What a child process run by run_bounded wrote, and how it ended: its exit status, or 128 plus
// the signal that ended it (SIGALRM when it ran out of time).
struct ChildRun {
    std::string output;
    int status = -1;
    long long memory_growth_kib = -1; // peak resident memory of the child beyond what it started with
};

// A figure of /proc/self/status in KiB, such as "VmRSS".
inline long long own_status_kib(const std::string &name)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(name + ":", 0) == 0) return atoll(line.c_str() + name.size() + 1);
    return -1;
}

// Runs body in a child process that cannot hang or flood the machine, as code reading a FIFO or
// /dev/zero would: it is stopped after ten seconds and may map no more than 256 MiB beyond what
// it held when forked; its peak memory use is measured. With as_user set, the child first takes that user id (and group), so that
// file permissions hold for it even when the tests run as root.
inline ChildRun run_bounded(const std::function<std::string()> &body, uid_t as_user = 0)
{
    int out[2];
    if (pipe(out) != 0) return {};
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        struct rlimit limit;
        limit.rlim_cur = limit.rlim_max = (rlim_t)(own_status_kib("VmData") + (256 << 10)) << 10;
        setrlimit(RLIMIT_DATA, &limit);
        alarm(10);
        if (as_user && (setgid(as_user) != 0 || setuid(as_user) != 0)) _exit(97);
        long long start_kib = own_status_kib("VmRSS");
        std::string text = body();
        text = std::to_string(own_status_kib("VmHWM") - start_kib) + "\n" + text;
        for (size_t done = 0; done < text.size();) {
            ssize_t n = write(out[1], text.data() + done, text.size() - done);
            if (n <= 0) _exit(98);
            done += (size_t)n;
        }
        _exit(0);
    }
    close(out[1]);
    ChildRun run;
    char buf[4096];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) run.output.append(buf, (size_t)n);
    close(out[0]);
    size_t newline = run.output.find('\n');
    if (newline != std::string::npos) {
        run.memory_growth_kib = atoll(run.output.c_str());
        run.output.erase(0, newline + 1);
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid)
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}
