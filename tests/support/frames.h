// Counts the frames another client presents in a window, from outside, with the DAMAGE
// extension: every drawing that covers most of the window is one frame.
#pragma once

#include <vector>

typedef struct _XDisplay Display;

class FrameCounter {
public:
    // Starts watching window (the window the GL frames are drawn in). False without DAMAGE.
    bool watch(Display *dpy, unsigned long window);
    ~FrameCounter();

    // The frames presented in the next ms milliseconds.
    int count_for(int ms);

private:
    Display *dpy_ = nullptr;
    unsigned long damage_ = 0;
    int event_base_ = 0;
    long min_area_ = 0;
};

// The first child of window, where the program draws its GL frames; 0 when it has none.
unsigned long first_child(Display *dpy, unsigned long window);
// The GL windows inside the top-level windows titled "screensaver", left to right.
std::vector<unsigned long> saver_gl_windows(Display *dpy);
// Waits up to timeout_ms for a top-level window titled "screensaver" with its GL window inside;
// gives the GL window, or 0.
unsigned long wait_for_gl_window(Display *dpy, int timeout_ms);
