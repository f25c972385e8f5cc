// Shared by the embedded-mode and daemon tests: the programs found on a display, other clients'
// windows and pixmaps, and the judgement of a rippling area of the screen.
// Include after gtest.
#pragma once

#include "harness.h"
#include "picture_files.h"
#include "process.h"
#include "rippling.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

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

// The area of the screen shows a rippling picture of what `expected` shows.
inline void expect_rippling(SaverSession &s, int x, int y, int w, int h, const Picture &expected, const char *what)
{
    expect_rippling_shots([&] { return s.screenshot(x, y, w, h); }, expected, what);
}


// Publishes a wallpaper of the known desktop on the root, as desktops do.
inline Pixmap publish_wallpaper(Display *d, int w, int h)
{
    Pixmap wallpaper = desktop_pixmap(d, w, h);
    put_screenshot_property(d, DefaultRootWindow(d), wallpaper, "_XROOTPMAP_ID");
    return wallpaper;
}

// The saver's own picture: deep blue water over pale tiles, never the pink desktop.
inline void expect_builtin_picture(const Picture &p, const char *what)
{
    EXPECT_LT(p.black_fraction(), 0.4) << what << ": black";
    EXPECT_LT(p.fraction_near(kPinkDesktop), 0.01) << what << ": the desktop shows";
    EXPECT_GT(p.channel_mean(0, 0, p.width, 0, p.height), p.channel_mean(16, 0, p.width, 0, p.height) + 40)
        << what << ": not the built-in picture's blue";
}
