// The ripple grid, its tables, drops and propagation.
#include "ripple.h"
#include "ssaver.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace {

class RippleEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        nScreenWidth = 1024;
        nScreenHeight = 768;
        nScreenWidth2 = 1024;
        nScreenHeight2 = 1024;
        scaled_mode = 0;
        ripple_speed = 20;
        ripple_prepare();
    }
    void TearDown() override
    {
        scaled_mode = 0;
        ripple_speed = 20;
    }

    // Starts a ripple in slot 0 at grid centre (x, y) with the given age, other slots idle.
    static void place_ripple(int x, int y, int age)
    {
        for (auto &r : ripple) r = {0, 0, RIPPLE_LENGTH + 20, RIPPLE_LENGTH + 1};
        ripple[0] = {x, y, age - ripple_speed, RIPPLE_LENGTH};
    }
    static float shift_x(int i, int j) { return ripple_vertex[i][j].t[0] - ripple_vertex[i][j].dt[0]; }
    static float shift_y(int i, int j) { return ripple_vertex[i][j].t[1] - ripple_vertex[i][j].dt[1]; }
    static bool at_rest(int i, int j) { return shift_x(i, j) == 0.0f && shift_y(i, j) == 0.0f; }
};

TEST_F(RippleEngine, GridPositionsAreWholePixelsTruncatedAndReachTheScreenEdge)
{
    EXPECT_EQ(ripple_vertex[1][0].d[0], 33.0f);
    EXPECT_EQ(ripple_vertex[31][0].d[0], 1024.0f);
    EXPECT_EQ(ripple_vertex[0][31].d[1], 768.0f);
    EXPECT_EQ(ripple_vertex[0][1].d[1], 24.0f);
    EXPECT_EQ(ripple_vertex[5][7].d[0], (float)(5 * 1024 / 31));
}

TEST_F(RippleEngine, UnscaledRestCoordinatesEndAtThePicturesEdgeInTheTexture)
{
    EXPECT_FLOAT_EQ(ripple_vertex[31][0].dt[0], 1.0f);
    EXPECT_FLOAT_EQ(ripple_vertex[0][31].dt[1], 0.75f);
    // Floating point, not truncated: column 1 is 1024/31/1024, not 33/1024.
    EXPECT_FLOAT_EQ(ripple_vertex[1][0].dt[0], 1.0f / 31.0f);
}

TEST_F(RippleEngine, ScaledRestCoordinatesStepByOneThirtySecond)
{
    scaled_mode = 1;
    ripple_build_grid();
    EXPECT_EQ(ripple_vertex[31][0].dt[0], 0.96875f);
    EXPECT_EQ(ripple_vertex[0][31].dt[1], 0.96875f);
    EXPECT_EQ(ripple_vertex[1][2].dt[0], 0.03125f);
    EXPECT_EQ(ripple_vertex[1][2].dt[1], 0.0625f);
}

TEST_F(RippleEngine, AmplitudeProfileIsZeroAtBothEndsAndPeaksInTheFirstBump)
{
    EXPECT_EQ(ripple_amplitude[0], 0.0f);
    EXPECT_NEAR(ripple_amplitude[2047], 0.0f, 1e-12);
    EXPECT_NEAR(ripple_amplitude[1], 0.000095f, 0.000002f);
    int peak = 0;
    for (int k = 0; k < RIPPLE_LENGTH; k++) {
        EXPECT_GE(ripple_amplitude[k], 0.0f) << k;
        if (ripple_amplitude[k] > ripple_amplitude[peak]) peak = k;
    }
    EXPECT_EQ(peak, 54);
    EXPECT_NEAR(ripple_amplitude[54], 0.1003f, 0.00005f);
    EXPECT_NEAR(ripple_amplitude[48], 0.0973f, 0.00005f);
    EXPECT_NEAR(ripple_amplitude[16], 0.0215f, 0.00005f);
}

TEST_F(RippleEngine, DirectionTableHoldsUnitVectorsAndDistancesInThirtySecondsOfACell)
{
    EXPECT_EQ(ripple_precalc[0][0].dx, 0.0f);
    EXPECT_EQ(ripple_precalc[0][0].dy, 0.0f);
    EXPECT_EQ(ripple_precalc[0][0].r, 0.0f);
    EXPECT_FLOAT_EQ(ripple_precalc[0][5].dx, 1.0f);
    EXPECT_FLOAT_EQ(ripple_precalc[0][5].dy, 0.0f);
    EXPECT_FLOAT_EQ(ripple_precalc[0][5].r, 160.0f);
    // Indexed [absy][absx]: row 3, column 4.
    EXPECT_FLOAT_EQ(ripple_precalc[3][4].dx, 0.8f);
    EXPECT_FLOAT_EQ(ripple_precalc[3][4].dy, 0.6f);
    EXPECT_FLOAT_EQ(ripple_precalc[3][4].r, 160.0f);
    EXPECT_NEAR(ripple_precalc[31][31].r, 1402.9f, 0.05f);
}

TEST_F(RippleEngine, AfterStartUpEverySlotIsFreeAndIdle)
{
    for (const auto &r : ripple) {
        EXPECT_EQ(r.t, 2068);
        EXPECT_EQ(r.max, 2049);
        EXPECT_EQ(r.x, 0);
        EXPECT_EQ(r.y, 0);
    }
    ripple_dynamics();
    for (const auto &r : ripple) EXPECT_EQ(r.t, 2068) << "an idle slot is not advanced";
}

TEST_F(RippleEngine, WithNoLiveRippleEveryVertexRestsAndSamplesTheMapCentre)
{
    ripple_dynamics();
    for (int i = 0; i < GRID_SIZE; i++)
        for (int j = 0; j < GRID_SIZE; j++) {
            ASSERT_TRUE(at_rest(i, j));
            ASSERT_EQ(ripple_vertex[i][j].n[0], 0.5f);
            ASSERT_EQ(ripple_vertex[i][j].n[1], 0.5f);
        }
}

TEST_F(RippleEngine, FrontMovesVerticesOutwardByTheProfileBehindIt)
{
    place_ripple(16, 16, 208);
    ripple_dynamics();
    EXPECT_EQ(ripple[0].t, 208);
    // dt + a - dt loses a few bits; neighbouring profile entries differ by far more.
    EXPECT_NEAR(shift_x(21, 16), ripple_amplitude[48], 1e-6);
    EXPECT_NEAR(shift_x(22, 16), ripple_amplitude[16], 1e-6);
    EXPECT_TRUE(at_rest(23, 16)) << "the front has not reached this vertex yet";
    EXPECT_NEAR(shift_x(11, 16), -ripple_amplitude[48], 1e-6) << "outward on the left is towards -x";
    EXPECT_NEAR(ripple_vertex[21][16].n[0] - 0.5f, 2 * ripple_amplitude[48], 1e-6);
    EXPECT_TRUE(at_rest(16, 16)) << "the centre vertex is never moved";
}

TEST_F(RippleEngine, CentreColumnMovesOnlyVerticallyAndCentreRowOnlyHorizontally)
{
    place_ripple(10, 12, 400);
    ripple_dynamics();
    bool any_moved = false;
    for (int k = 0; k < GRID_SIZE; k++) {
        EXPECT_EQ(shift_x(10, k), 0.0f) << k;
        EXPECT_EQ(shift_y(k, 12), 0.0f) << k;
        any_moved = any_moved || shift_y(10, k) != 0.0f;
    }
    EXPECT_TRUE(any_moved);
    EXPECT_GT(shift_x(13, 14), 0.0f);
    EXPECT_GT(shift_y(13, 14), 0.0f);
    EXPECT_LT(shift_x(7, 9), 0.0f);
    EXPECT_LT(shift_y(7, 9), 0.0f);
}

TEST_F(RippleEngine, TwoEqualRipplesDoubleTheDisplacement)
{
    place_ripple(5, 20, 600);
    ripple_dynamics();
    float single = shift_x(9, 23);
    ASSERT_NE(single, 0.0f);
    place_ripple(5, 20, 600);
    ripple[3] = ripple[0];
    ripple_dynamics();
    EXPECT_NEAR(shift_x(9, 23), 2 * single, 1e-6);
}

TEST_F(RippleEngine, ClickMapsPixelsToCellsWithScaleThirtyTwo)
{
    ripple_click(nScreenWidth - 1, nScreenHeight - 1);
    EXPECT_EQ(ripple[0].x, 31);
    EXPECT_EQ(ripple[0].y, 31);
    EXPECT_EQ(ripple[0].t, 28);
    EXPECT_EQ(ripple[0].max, 2048);
    ripple_click(0, 0);
    EXPECT_EQ(ripple[1].x, 0);
    EXPECT_EQ(ripple[1].y, 0);
    ripple_click(511, 24);
    EXPECT_EQ(ripple[2].x, 15);
    EXPECT_EQ(ripple[2].y, 1);
}

TEST_F(RippleEngine, ClickTakesTheLowestFreeSlotAndDropsTheRequestWhenAllAreBusy)
{
    ripple[2].t = 100;
    ripple[2].max = 2048;
    ripple_click(100, 100);
    EXPECT_EQ(ripple[0].t, 28);
    for (auto &r : ripple) r = {3, 4, 500, 2048};
    ripple_click(900, 700);
    for (auto &r : ripple) {
        EXPECT_EQ(r.x, 3);
        EXPECT_EQ(r.y, 4);
        EXPECT_EQ(r.t, 500);
        EXPECT_EQ(r.max, 2048);
    }
}

TEST_F(RippleEngine, DefaultSpeedRippleLivesOneHundredAndOneStepsThenFreesItsSlot)
{
    ripple_click(500, 400);
    int steps = 0;
    while (ripple[0].t < ripple[0].max) {
        ripple_dynamics();
        steps++;
        ASSERT_LT(steps, 1000);
    }
    EXPECT_EQ(steps, 101);
    EXPECT_EQ(ripple[0].t, 2048);
    ripple_click(0, 0);
    EXPECT_EQ(ripple[0].t, 28) << "a dead slot is free again";
}

TEST_F(RippleEngine, LastStepMayOvershootMax)
{
    ripple_speed = 30;
    ripple[0] = {8, 8, 2040, 2048};
    ripple_dynamics();
    EXPECT_EQ(ripple[0].t, 2070);
}

// Settings arrive unchecked from the store: the engine must neither stall, overflow nor index
// outside its tables for any of them.
TEST_F(RippleEngine, OutOfRangeSpeedsStillLetEveryRippleDie)
{
    for (int speed : {0, -1, -20, INT_MIN, 2049, 100000, INT_MAX}) {
        ripple_speed = speed;
        ripple_prepare();
        ripple_click(300, 300);
        int frames = 0;
        while (ripple[0].t < ripple[0].max && frames < 5000) {
            ripple_dynamics();
            frames++;
        }
        EXPECT_LT(frames, 5000) << "speed " << speed;
        EXPECT_GE(ripple[0].t, RIPPLE_LENGTH) << "speed " << speed;
    }
}

TEST_F(RippleEngine, SpeedsUpToRippleLengthAreUsedAsTheyAre)
{
    ripple_speed = 45;
    ripple_click(300, 300);
    ripple_dynamics();
    EXPECT_EQ(ripple[0].t, 28 + 45);
}

TEST_F(RippleEngine, ClicksOffTheScreenLandOnTheNearestEdgeCell)
{
    ripple_click(-5, -70000);
    EXPECT_EQ(ripple[0].x, 0);
    EXPECT_EQ(ripple[0].y, 0);
    ripple_click(INT_MAX, nScreenHeight);
    EXPECT_EQ(ripple[1].x, 31);
    EXPECT_EQ(ripple[1].y, 31);
    ripple_click(INT_MIN, INT_MAX);
    EXPECT_EQ(ripple[2].x, 0);
    EXPECT_EQ(ripple[2].y, 31);
    for (int f = 0; f < 200; f++) ripple_dynamics();
}

TEST_F(RippleEngine, ClickWithoutAScreenSizeIsIgnored)
{
    nScreenWidth = 0;
    ripple_click(10, 10);
    EXPECT_EQ(ripple[0].t, 2068);
}

TEST_F(RippleEngine, RippleWithCentreOutsideTheGridMovesNothing)
{
    ripple[0] = {40, -3, 300, 2048};
    ripple_dynamics();
    for (int i = 0; i < GRID_SIZE; i++)
        for (int j = 0; j < GRID_SIZE; j++) ASSERT_TRUE(at_rest(i, j));
}

} // namespace
