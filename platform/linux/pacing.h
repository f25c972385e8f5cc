// Frames reach the screen no faster than the monitor showing them refreshes, whether or not the
// display paces buffer swaps itself (virtual framebuffers, VNC and software GL do not, whatever
// swap control they advertise). Internal to platform/linux and its tests.
#pragma once

#include "x11.h"

#include <cstdint>

namespace x11 {

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

// The refresh rate of a RandR mode in Hz from its timings and flags; 0 when they give none (a
// virtual framebuffer's mode has no timings).
double mode_refresh_rate(unsigned long dot_clock, unsigned h_total, unsigned v_total, unsigned long flags);

// Called just before a frame drawn on drawable is presented: waits until it is due at the rate of
// the monitor under drawable (60 Hz when unknown). Pending input cuts a long wait short, so input
// waits no longer than about one 60 Hz frame; a termination signal ends the wait at once.
void pace_presentation(Window drawable);
// Pacing is on from the start; benchmarks turn it off to measure what a frame costs.
void set_presentation_pacing(bool on);
// Forgets the monitor rate found for a window and the frame clock (the display is going away).
void forget_presentation_pacing();

} // namespace x11
