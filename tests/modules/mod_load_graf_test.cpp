#include <gtest/gtest.h>

#include "../graph/png_probe.h"
#include "restart.h"

namespace {

using namespace png_probe;

using LoadGraph = module_graph;

// The top row of the bar in column col, counting only unbroken green from the
// baseline up; rows listed in skip may hold something drawn over the bar.
int bar_top(gdImagePtr im, int col, int skip) {
    int y = 125;
    while (y > 25 && (pixel(im, col, y) == GREEN || y == skip)) --y;
    return y + 1;
}

TEST_F(LoadGraph, MaximumReachesTopHalfReachesMiddle) {
    // Newest 1.5, then the maximum 4.0, then 100 slots at half of it, the rest 0.
    fill_ring(0, 400, [](stat_struct& s, int age) {
        s.load = age == 0 ? 1.5 : age == 1 ? 4.0 : age <= 101 ? 2.0 : 0.0;
    });
    gd_image im = graph("/MOD_LOAD", "grafinterval_1");
    ASSERT_TRUE(im);
    gdImagePtr g = im.get();

    // Mean 205.5 / 400 = 0.51375 on a scale of 0.04 per row: height 12, row 113.
    const int mean_row = 113;
    // Across the plot, but under the frame at column 50 and the 39 grid dots
    // of an odd row.
    EXPECT_EQ(count(g, ORANGE, 51, mean_row, 449, mean_row), 399 - 39);

    EXPECT_EQ(bar_top(g, 449, mean_row), 26) << "maximum: height 100 clamped to 99";
    EXPECT_EQ(pixel(g, 449, 25), BLACK) << "frame above it";
    EXPECT_EQ(bar_top(g, 448, mean_row), 75) << "half the maximum: height 50";
    EXPECT_EQ(pixel(g, 448, 74), WHITE);
    EXPECT_EQ(bar_top(g, 349, mean_row), 75) << "x = 101, last of the half bars";
    EXPECT_EQ(pixel(g, 348, 125), GREEN) << "x = 102, load 0: one pixel";
    EXPECT_EQ(pixel(g, 348, 124), WHITE);
    EXPECT_EQ(pixel(g, 450, 100), BLACK) << "the newest bar lies under the frame";

    // The grid goes over the bars.
    EXPECT_EQ(pixel(g, 440, 77), GREY);
    EXPECT_EQ(pixel(g, 440, 76), GREEN);

    expect_texts(g, "System Load last 400 seconds", {{LEFT_TOP, "max", " 4.00", GREEN},
                                                     {LEFT_CENTER, "avg", " 0.51", ORANGE},
                                                     {LEFT_BOTTOM, "0.00", "min", GREEN},
                                                     {RIGHT_CENTER, "cur", " 1.50", DARK_GREEN}});
}

TEST_F(LoadGraph, AllZeroRingDrawsBaselineOnly) {
    gd_image im = graph("/MOD_LOAD", "grafinterval_1");
    ASSERT_TRUE(im);
    gdImagePtr g = im.get();
    EXPECT_EQ(count(g, GREEN, 51, 26, 449, 124), 0) << "every bar has height 0";
    EXPECT_EQ(count(g, ORANGE, 51, 125, 449, 125), 399) << "the mean lies on the baseline, over the bars";
    expect_texts(g, "System Load last 400 seconds", {{LEFT_TOP, "max", " 0.00", GREEN},
                                                     {LEFT_CENTER, "avg", " 0.00", ORANGE},
                                                     {RIGHT_CENTER, "cur", " 0.00", DARK_GREEN}});
}

TEST_F(LoadGraph, QueryChoosesTheRingByLongestPrefix) {
    fill_ring(1, 1, [](stat_struct& s, int) { s.load = 2.0; });
    fill_ring(2, 1, [](stat_struct& s, int) { s.load = 3.0; });
    const corner_pair cur0 = {RIGHT_CENTER, "cur", " 0.00", DARK_GREEN}, cur3 = {RIGHT_CENTER, "cur", " 3.00", DARK_GREEN};
    expect_graphs({
        {"/MOD_LOAD", "grafinterval_1", "System Load last 400 seconds", cur0},
        {"/MOD_LOAD", "grafinterval_10", "System Load last 4000 seconds", {RIGHT_CENTER, "cur", " 2.00", DARK_GREEN}},
        {"/MOD_LOAD", "grafinterval_100", "System Load last 40000 seconds", cur3},
        {"/MOD_LOAD", "grafinterval_1000", "System Load last 40000 seconds", cur3},
        {"/MOD_LOAD", "grafinterval_11", "System Load last 400 seconds", cur0},
        {"/MOD_LOAD", "grafinterval_2", nullptr, {}},
        {"/MOD_LOAD", "grafinterval_", nullptr, {}},
    });
}

}  // namespace
