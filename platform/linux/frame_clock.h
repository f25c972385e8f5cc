// The frame clock both display backends pace presentation with: frames reach the screen no faster
// than the monitor showing them refreshes, whether or not the display paces buffer swaps itself
// (virtual framebuffers, VNC, software GL and hidden surfaces do not). Internal to platform/linux
// and its tests.
#pragma once

#include <cstdint>

namespace platform {

constexpr double kDefaultRefreshRate = 60.0;

// When frames may be shown: one per period, measured from the previous frame's deadline so that
// waking a little late does not slow the rate, and started afresh after a frame came more than a
// period late (a stopped process resumes at its normal pace, with no burst of catch-up frames).
struct FrameClock {
    int64_t period_ns = 0;
    int64_t deadline_ns = 0; // the earliest time the next frame may be shown
    bool started = false;
};
// A frame is ready at now: the time it may be shown (now itself when it is not early), and the
// deadline moves on to the frame after it. A frame early by no more than tolerance_ns goes at once.
int64_t frame_due(FrameClock *clock, int64_t now_ns, int64_t tolerance_ns);

int64_t monotonic_ns();

// Waits until the next frame is due by clock (whose period the caller sets from the monitor's
// rate). Once a wait has run past about one 60 Hz frame, input_waiting() being true ends it, so
// input waits no longer than that; a termination signal ends the wait at once.
void pace_frame(FrameClock *clock, bool (*input_waiting)());

// Pacing is on from the start; benchmarks turn it off to measure what a frame costs.
void set_presentation_pacing(bool on);
bool presentation_pacing();

} // namespace platform
