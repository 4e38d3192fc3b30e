#include <gtest/gtest.h>

#include <string>

#include "../graph/png_probe.h"
#include "config/config.h"
#include "core/history.h"
#include "modules/modules.h"
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

    expect_texts(g, "System Load last 400 seconds", {
        {28, 25, "max", GREEN},  {16, 41, " 4.00", GREEN}, {28, 61, "avg", ORANGE},          {16, 76, " 0.51", ORANGE},
        {22, 96, "0.00", GREEN}, {28, 112, "min", GREEN},  {454, 61, "cur", DARK_GREEN}, {454, 76, " 1.50", DARK_GREEN},
    });
}

TEST_F(LoadGraph, AllZeroRingDrawsBaselineOnly) {
    gd_image im = graph("/MOD_LOAD", "grafinterval_1");
    ASSERT_TRUE(im);
    gdImagePtr g = im.get();
    EXPECT_EQ(count(g, GREEN, 51, 26, 449, 124), 0) << "every bar has height 0";
    EXPECT_EQ(count(g, ORANGE, 51, 125, 449, 125), 399) << "the mean lies on the baseline, over the bars";
    EXPECT_TRUE(text_at(g, 16, 41, " 0.00", GREEN));
    EXPECT_TRUE(text_at(g, 16, 76, " 0.00", ORANGE));
    EXPECT_TRUE(text_at(g, 454, 76, " 0.00", DARK_GREEN));
}

TEST_F(LoadGraph, QueryChoosesTheRingByLongestPrefix) {
    fill_ring(1, 1, [](stat_struct& s, int) { s.load = 2.0; });
    fill_ring(2, 1, [](stat_struct& s, int) { s.load = 3.0; });
    struct row {
        const char* param;
        int handled;
        const char* title;
        const char* cur;
    } rows[] = {
        {"grafinterval_1", 1, "System Load last 400 seconds", " 0.00"},
        {"grafinterval_10", 1, "System Load last 4000 seconds", " 2.00"},
        {"grafinterval_100", 1, "System Load last 40000 seconds", " 3.00"},
        {"grafinterval_1000", 1, "System Load last 40000 seconds", " 3.00"},
        {"grafinterval_11", 1, "System Load last 400 seconds", " 0.00"},
        {"grafinterval_2", 0, nullptr, nullptr},
        {"grafinterval_", 0, nullptr, nullptr},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.param);
        answer a = request("/MOD_LOAD", r.param);
        EXPECT_EQ(a.handled, r.handled);
        if (!r.title) {
            EXPECT_EQ(a.header + a.body, "") << "a declined request writes nothing";
            continue;
        }
        gd_image im = image_of(a);
        ASSERT_TRUE(im);
        const int width = static_cast<int>(std::string(r.title).size()) * 6;
        EXPECT_TRUE(text_at(im.get(), 250 - width / 2, 6, r.title, BLACK));
        EXPECT_TRUE(text_at(im.get(), 454, 76, r.cur, DARK_GREEN));
    }
}

}  // namespace
