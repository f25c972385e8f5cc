// Presentation pacing: absolute deadlines on the monotonic clock, so the rate does not drift.
#include "frame_clock.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace platform {
namespace {

// Beyond this much waiting, input that has arrived ends the wait: the closing rules act within
// about one frame of a 60 Hz monitor even on a slower one.
constexpr int64_t kInputBoundNs = 16 * 1000000LL;
constexpr int64_t kInputPollNs = 2 * 1000000LL;
// A frame this close to its deadline goes at once: sleeping for less costs more than it saves,
// and where the display's own vertical retrace paces the swaps, frames land here and never wait.
constexpr int64_t kToleranceNs = 200 * 1000LL;

bool g_enabled = true;

// Sleeps until the absolute time t; false when a signal cut the sleep short.
bool sleep_until(int64_t t)
{
    timespec ts = {time_t(t / 1000000000LL), long(t % 1000000000LL)};
    return clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != EINTR;
}

// Waits until due. Once the input bound has passed, events waiting on the connection end the wait.
void wait_until(int64_t due, int64_t now, const FrameDisplay &display)
{
    if (!sleep_until(std::min(due, now + kInputBoundNs))) return;
    while ((now = monotonic_ns()) < due) {
        if (display.input_within(0)) return;
        if (!sleep_until(std::min(due, now + kInputPollNs))) return;
    }
}

// Waits while the display is dark; true once it is lit, false when input or a signal came first.
bool wait_for_light(const FrameDisplay &display)
{
    while (!display.lit())
        if (display.input_within(kDarkCheckMs)) return false;
    return true;
}

} // namespace

int64_t monotonic_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

int64_t frame_due(FrameClock *clock, int64_t now_ns, int64_t tolerance_ns)
{
    if (!clock->started || now_ns - clock->deadline_ns > clock->period_ns) {
        clock->started = true;
        clock->deadline_ns = now_ns + clock->period_ns;
        return now_ns;
    }
    int64_t due = clock->deadline_ns - now_ns > tolerance_ns ? clock->deadline_ns : now_ns;
    clock->deadline_ns += clock->period_ns;
    return due;
}

bool pace_frame(FrameClock *clock, const FrameDisplay &display)
{
    if (!g_enabled) return true;
    if (!wait_for_light(display)) return false;
    int64_t now = monotonic_ns();
    int64_t due = frame_due(clock, now, kToleranceNs);
    if (due > now) wait_until(due, now, display);
    return true;
}

void set_presentation_pacing(bool on) { g_enabled = on; }

bool presentation_pacing() { return g_enabled; }

} // namespace platform
