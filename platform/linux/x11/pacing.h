// Frames reach the screen no faster than the monitor showing them refreshes, whether or not the
// display paces buffer swaps itself (virtual framebuffers, VNC and software GL do not, whatever
// swap control they advertise). Internal to platform/linux and its tests.
#pragma once

#include "frame_clock.h"
#include "x11.h"

#include <cstdint>

namespace x11 {

using platform::FrameClock;
using platform::frame_due;
using platform::set_presentation_pacing;

// The refresh rate of a RandR mode in Hz from its timings and flags; 0 when they give none (a
// virtual framebuffer's mode has no timings).
double mode_refresh_rate(unsigned long dot_clock, unsigned h_total, unsigned v_total, unsigned long flags);

// Called just before a frame drawn on drawable is presented: waits until it is due at the rate of
// the monitor under drawable (60 Hz when unknown). Pending input cuts a long wait short, so input
// waits no longer than about one 60 Hz frame; a termination signal ends the wait at once. While
// DPMS holds the monitors off, waits for them to come on or for input; false when input came
// first, and the frame is not to be shown.
bool pace_presentation(Window drawable);

} // namespace x11
