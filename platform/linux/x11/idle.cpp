// The idle watcher's source on X11: the server's count of the time since the last input
// (MIT-SCREEN-SAVER), read through a connection of its own. The watcher sleeps until the count
// could reach the idle time and reads it again; while waiting for the user to come back it reads
// it once a second.
#include "idle_source.h"

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

#include <cerrno>
#include <chrono>
#include <poll.h>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

class X11Idle : public IdleSource {
public:
    explicit X11Idle(unsigned timeout_ms) : timeout_ms_(timeout_ms) {}
    ~X11Idle() override
    {
        if (info_) XFree(info_);
        if (display_) XCloseDisplay(display_);
    }
    bool connect();
    IdleWake wait(bool want_idle, int timeout_ms, int stop_fd) override;
    const char *name() const override { return "the X server's idle time"; }

private:
    // Milliseconds since the last input.
    unsigned long idle_ms();

    unsigned timeout_ms_;
    Display *display_ = nullptr;
    XScreenSaverInfo *info_ = nullptr;
    // The idle time last seen reaching the timeout, and when: input since then makes it smaller
    // than it would have grown to.
    unsigned long seen_idle_ms_ = 0;
    Clock::time_point seen_at_;
};

bool X11Idle::connect()
{
    int event_base, error_base;
    display_ = XOpenDisplay(nullptr);
    if (!display_ || !XScreenSaverQueryExtension(display_, &event_base, &error_base)) return false;
    info_ = XScreenSaverAllocInfo();
    return info_ != nullptr;
}

unsigned long X11Idle::idle_ms()
{
    XScreenSaverQueryInfo(display_, DefaultRootWindow(display_), info_);
    return info_->idle;
}

IdleWake X11Idle::wait(bool want_idle, int timeout_ms, int stop_fd)
{
    const auto start = Clock::now();
    for (;;) {
        const unsigned long idle = idle_ms();
        const auto now = Clock::now();
        long pause_ms;
        if (want_idle) {
            if (idle >= timeout_ms_) {
                seen_idle_ms_ = idle;
                seen_at_ = now;
                return IdleWake::idle;
            }
            pause_ms = long(timeout_ms_ - idle) + 20;
        } else {
            const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(now - seen_at_).count();
            if (idle + 500 < seen_idle_ms_ + (unsigned long)since) return IdleWake::active;
            pause_ms = 1000;
        }
        if (timeout_ms >= 0) {
            const long left = timeout_ms - std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
            if (left <= 0) return IdleWake::timeout;
            if (pause_ms > left) pause_ms = left;
        }
        pollfd fds[2] = {{stop_fd, POLLIN, 0}, {ConnectionNumber(display_), POLLIN, 0}};
        const int ready = poll(fds, 2, int(pause_ms));
        if (ready < 0 && errno != EINTR) return IdleWake::lost;
        if (ready > 0 && fds[0].revents) return IdleWake::stop;
        // Nothing is asked of the server but replies; anything else readable is its going away.
        if (ready > 0 && fds[1].revents) {
            if (fds[1].revents & (POLLHUP | POLLERR)) return IdleWake::lost;
            XEvent ignored;
            while (XPending(display_)) XNextEvent(display_, &ignored);
        }
    }
}

} // namespace

std::unique_ptr<IdleSource> x11_idle_source(unsigned timeout_ms)
{
    return connected_idle_source<X11Idle>(timeout_ms);
}

} // namespace platform
