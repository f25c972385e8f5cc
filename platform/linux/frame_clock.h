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

// What the frame clock asks of the display a frame is shown on; each backend answers for its own.
struct FrameDisplay {
    // Whether a frame shown now would be seen: false while the monitor is powered down, or while
    // the compositor shows the surface nowhere.
    bool (*lit)();
    // Waits up to timeout_ms (0: only looks) for what the message loop must handle: input, the
    // connection failing. True when it came, and when a signal cut the wait short.
    bool (*input_within)(int timeout_ms);
};

// How long a dark display is waited on before it is asked again whether it lit up: a few times a
// second, using no processor time in between.
constexpr int kDarkCheckMs = 250;

// Waits until the next frame is due by clock (whose period the caller sets from the monitor's
// rate). Once a wait has run past about one 60 Hz frame, input ends it, so input waits no longer
// than that; a termination signal ends the wait at once. While the display is dark it waits for
// light or input instead, however long that takes, and gives false when input (or a signal) came
// first: that frame is not to be shown, and nothing more is drawn until the loop has handled it.
bool pace_frame(FrameClock *clock, const FrameDisplay &display);

// Pacing is on from the start; benchmarks turn it off to measure what a frame costs.
void set_presentation_pacing(bool on);
bool presentation_pacing();

} // namespace platform
