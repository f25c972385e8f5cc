// The judgement the end-to-end tests pass on a saver's picture, whatever takes the screenshots.
#pragma once

#include "picture.h"
#include "process.h"

#include <gtest/gtest.h>

#include <algorithm>

// The area shows a rippling picture (not black, moving) of what `expected` shows. Ripples bend
// any single frame a long way, so the place and scale are judged on the mean of a few frames.
// shot() gives the area as it is now.
template <class Shot> void expect_rippling_shots(Shot shot, const Picture &expected, const char *what)
{
    const int frames = 5;
    std::vector<Picture> shots;
    for (int k = 0; k < frames; k++) {
        if (k) sleep_ms(150);
        shots.push_back(middle(shot()));
    }
    EXPECT_LT(shots[0].black_fraction(), 0.4) << what << ": nothing drawn";
    // A slow machine (a sanitizer build on a busy one) draws few frames between shots: a picture
    // that barely moved is given up to two more seconds before it counts as standing still.
    double moved = shots[0].mean_difference(shots[frames - 1]);
    for (int extra = 0; moved <= 0.5 && extra < 4; extra++) {
        sleep_ms(500);
        moved = std::max(moved, shots[0].mean_difference(middle(shot())));
    }
    EXPECT_GT(moved, 0.5) << what << ": the picture does not move";
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
