// The per-frame ripple step with no live ripple, one, and all seven at spread ages.
#include "ripple.h"
#include "ssaver.h"

#include <benchmark/benchmark.h>

static void set_up_grid(void)
{
    nScreenWidth = 1920;
    nScreenHeight = 1080;
    nScreenWidth2 = 2048;
    nScreenHeight2 = 2048;
    scaled_mode = 0;
    ripple_speed = 20;
    ripple_build_grid();
    ripple_build_tables();
    for (int s = 0; s < RIPPLE_COUNT; s++) ripple[s] = {0, 0, RIPPLE_LENGTH + 20, RIPPLE_LENGTH + 1};
}

// Puts the given slots back at fixed ages before each step (a few stores), so every iteration
// does the same work.
static void run_with_live_ripples(benchmark::State &state, int live)
{
    set_up_grid();
    for (auto _ : state) {
        for (int s = 0; s < live; s++) ripple[s] = {4 * s + 3, 31 - 4 * s, 100 + 280 * s, RIPPLE_LENGTH};
        ripple_dynamics();
        benchmark::DoNotOptimize(ripple_vertex);
    }
}

static void BM_RippleDynamicsNoRipple(benchmark::State &state) { run_with_live_ripples(state, 0); }
static void BM_RippleDynamicsOneRipple(benchmark::State &state) { run_with_live_ripples(state, 1); }
static void BM_RippleDynamicsSevenRipples(benchmark::State &state) { run_with_live_ripples(state, 7); }

BENCHMARK(BM_RippleDynamicsNoRipple);
BENCHMARK(BM_RippleDynamicsOneRipple);
BENCHMARK(BM_RippleDynamicsSevenRipples);
