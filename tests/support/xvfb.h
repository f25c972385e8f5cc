// A private Xvfb server for a test process: started on a free display number, torn down at the end.
#pragma once

#include <string>
#include <sys/types.h>

class PrivateXvfb {
public:
    // Starts Xvfb with one screen of the given size and depth; extra_args are added to its command
    // line (for instance "-extension GLX"). Sets DISPLAY for this process on success.
    bool start(int width = 1024, int height = 768, int depth = 24, const std::string &extra_args = "");
    void stop();
    // Sends sig to the server (SIGSTOP stops it answering, SIGCONT lets it go on).
    void signal(int sig);
    ~PrivateXvfb() { stop(); }

    const std::string &display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

typedef struct _XDisplay Display;

// A pixmap of the screen's depth holding a picture given as 0xRRGGBB pixels, rows top first.
unsigned long picture_pixmap(Display *dpy, int width, int height, const unsigned *pixels);

// What a window manager's close box sends to a window: WM_PROTOCOLS with WM_DELETE_WINDOW.
void send_delete_window(Display *dpy, unsigned long window);

// Paints the root window with a picture given as 0xRRGGBB pixels, rows top first, and makes it the
// root background so it stays. Returns false when the display cannot be opened.
bool paint_root(const std::string &display, int width, int height, const unsigned *pixels);

// Reads the screen back as 0xRRGGBB pixels, rows top first.
bool read_screen(const std::string &display, int x, int y, int width, int height, unsigned *pixels);

// One monitor of the screen, as RandR 1.5 lists it.
struct MonitorSpec {
    int x, y, width, height;
    bool primary;
};
// Replaces the screen's monitors with these: the first gets the server's one output, the others
// none (the way xrandr --setmonitor splits an Xvfb screen). False when the server has no RandR 1.5.
bool set_monitors(const std::string &display, const MonitorSpec *monitors, int count);
