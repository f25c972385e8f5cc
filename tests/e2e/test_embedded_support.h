// Shared by the embedded-mode and daemon tests: child processes started with a chosen environment
// and, when the tests run as root, as an unprivileged user (signalled, waited for, always reaped),
// and the measures that tell which part of the known desktop a rippling picture shows.
// Include after gtest.
#pragma once

#include "harness.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

inline std::string read_file(const std::string &path);

// Whether a process's environment names the X display `display` (":N", with or without a screen
// number after it).
inline bool on_display(pid_t pid, const std::string &display)
{
    std::istringstream env(read_file("/proc/" + std::to_string(pid) + "/environ"));
    const std::string want = "DISPLAY=" + display;
    for (std::string entry; std::getline(env, entry, '\0');)
        if (entry == want || entry.rfind(want + ".", 0) == 0) return true;
    return false;
}

// Live processes (zombies excluded) whose executable is path and which run on the X display
// `display`: other tests may be running the same program on their own servers.
inline std::vector<pid_t> processes_running(const std::string &path, const std::string &display)
{
    std::vector<pid_t> found;
    char real[4096];
    std::string want = realpath(path.c_str(), real) ? real : path;
    DIR *proc = opendir("/proc");
    if (!proc) return found;
    while (dirent *e = readdir(proc)) {
        char *end;
        long pid = strtol(e->d_name, &end, 10);
        if (*end || pid <= 0) continue;
        char exe[4096];
        ssize_t n = readlink(("/proc/" + std::string(e->d_name) + "/exe").c_str(), exe, sizeof exe - 1);
        if (n <= 0) continue;
        exe[n] = 0;
        if (want == exe && on_display(static_cast<pid_t>(pid), display)) found.push_back(static_cast<pid_t>(pid));
    }
    closedir(proc);
    return found;
}

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline std::string hex(unsigned long id)
{
    char buf[32];
    snprintf(buf, sizeof buf, "0x%lx", id);
    return buf;
}

// A window of another client at (x, y). A see-through one has no background, so until someone
// draws in it the screen keeps showing what lay there; the other is black.
inline Window client_window(Display *d, int x, int y, int w, int h, bool see_through)
{
    XSetWindowAttributes a = {};
    unsigned long mask;
    if (see_through) {
        a.background_pixmap = None;
        mask = CWBackPixmap;
    } else {
        a.background_pixel = BlackPixel(d, DefaultScreen(d));
        mask = CWBackPixel;
    }
    Window win = XCreateWindow(d, DefaultRootWindow(d), x, y, w, h, 0, CopyFromParent, InputOutput, CopyFromParent,
                               mask, &a);
    XMapWindow(d, win);
    XSync(d, False);
    return win;
}

// A pixmap holding the known desktop of the given size.
inline Pixmap desktop_pixmap(Display *d, int w, int h) { return picture_pixmap(d, w, h, known_desktop(w, h).data()); }

inline void put_screenshot_property(Display *d, Window on, Pixmap pm, const char *name = "_SCREENSAVER_SCREENSHOT")
{
    Atom property = XInternAtom(d, name, False);
    unsigned long value = pm;
    XChangeProperty(d, on, property, XA_PIXMAP, 32, PropModeReplace, reinterpret_cast<unsigned char *>(&value), 1);
    XSync(d, False);
}

inline Picture known_picture(int w, int h)
{
    Picture p;
    p.width = w;
    p.height = h;
    p.pixels = known_desktop(w, h);
    return p;
}

inline Picture crop(const Picture &p, int x, int y, int w, int h)
{
    Picture c;
    c.width = w;
    c.height = h;
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++) c.pixels.push_back(p.pixels[(size_t)(y + j) * p.width + x + i]);
    return c;
}

// Measures over the middle of a picture, away from the edges where ripples pull in the black
// beyond the texture's picture. The known desktop's red grows to the right and its green
// downwards, so the means tell where on it a picture lies, and how much red grows from the left
// half to the right half (green from the top half to the bottom) tells at what scale.
inline Picture middle(const Picture &p) { return crop(p, p.width * 15 / 100, p.height * 15 / 100, p.width * 7 / 10, p.height * 7 / 10); }
inline double mean(const Picture &p, int shift) { return p.channel_mean(shift, 0, p.width, 0, p.height); }
inline double red_across(const Picture &p) { return p.channel_mean(16, p.width / 2, p.width, 0, p.height) - p.channel_mean(16, 0, p.width / 2, 0, p.height); }
inline double green_down(const Picture &p) { return p.channel_mean(8, 0, p.width, p.height / 2, p.height) - p.channel_mean(8, 0, p.width, 0, p.height / 2); }

// The area shows a rippling picture (not black, moving) of what `expected` shows. Ripples bend
// any single frame a long way, so the place and scale are judged on the mean of a few frames.
inline void expect_rippling(SaverSession &s, int x, int y, int w, int h, const Picture &expected, const char *what)
{
    const int frames = 5;
    std::vector<Picture> shots;
    for (int k = 0; k < frames; k++) {
        if (k) sleep_ms(150);
        shots.push_back(middle(s.screenshot(x, y, w, h)));
    }
    EXPECT_LT(shots[0].black_fraction(), 0.4) << what << ": nothing drawn";
    EXPECT_GT(shots[0].mean_difference(shots[frames - 1]), 0.5) << what << ": the picture does not move";
    double red = 0, green = 0, red_mean = 0, green_mean = 0;
    for (const Picture &p : shots) {
        red += red_across(p) / frames;
        green += green_down(p) / frames;
        red_mean += mean(p, 16) / frames;
        green_mean += mean(p, 8) / frames;
    }
    Picture em = middle(expected);
    EXPECT_NEAR(red, red_across(em), 22) << what << ": not the picture that lay there (scale)";
    EXPECT_NEAR(green, green_down(em), 22) << what << ": not the picture that lay there (scale)";
    EXPECT_NEAR(red_mean, mean(em, 16), 25) << what << ": not the picture that lay there (place)";
    EXPECT_NEAR(green_mean, mean(em, 8), 25) << what << ": not the picture that lay there (place)";
}

