#include <gtest/gtest.h>

#include <string>

#include "../graph/png_probe.h"
#include "restart.h"

namespace {

using namespace png_probe;

// A column from the baseline up as runs of one colour, each with its top row.
// The grid's dots in rows 50, 75 and 100 continue the run they lie on.
std::string runs(gdImagePtr im, int col) {
    auto at = [&](int y) { return pixel(im, col, y % 25 == 0 && pixel(im, col, y) == GREY ? y + 1 : y); };
    const std::pair<int, const char*> names[] = {
        {WHITE, "white"}, {GREEN, "green"}, {BLUE, "blue"}, {ORANGE, "orange"}};
    std::string s;
    for (int y = 125; y >= 26; --y)
        if (y == 26 || at(y - 1) != at(y))
            for (auto [c, name] : names)
                if (c == at(y)) s += std::string(s.empty() ? "" : " ") + name + ":" + std::to_string(y);
    return s;
}

// Age 0 is the newest slot, the bar at x 0 under the frame; age a is drawn in
// column 450 - a.
TEST(CpuGraph, GroupsStackFromTheBaselineAndIdleStaysWhite) {
    restart("module.cpu.enable 1\n");
    const struct row {
        const char* desc;
        stat_cpu cpu;
        const char* column;
    } rows[] = {
        // Shares of user, nice, system, interrupt, idle, iowait, steal.
        {"newest, shown only as cur", {{5000, 0, 0, 0, 5000}}, nullptr},
        {"user+nice to 40 %, system+interrupt to 60 %, iowait+steal to 75 %", {{3000, 1000, 1500, 500, 2500, 1000, 500}},
         "green:85 blue:65 orange:50 white:26"},
        {"all busy: height 100 clamped to 99", {{10000}}, "green:26"},
        {"no figure draws nothing, not even on the baseline", {}, "white:26"},
        {"all idle draws nothing", {{0, 0, 0, 0, 10000}}, "white:26"},
        {"a group without time draws no pixel, even under another", {{0, 0, 50, 0, 9950}}, "blue:125 white:26"},
        {"nice and interrupt stack like user and system", {{0, 2000, 0, 2000, 6000}}, "green:105 blue:85 white:26"},
        {"steal alone", {{0, 0, 0, 0, 7000, 0, 3000}}, "orange:95 white:26"},
    };
    const int n = static_cast<int>(std::size(rows));
    fill_ring(0, n, [&](stat_struct& s, int age) { s.cpu = rows[age].cpu; });
    gd_image im = graph("/MOD_CPU/grafinterval_1", nullptr);
    ASSERT_TRUE(im);
    for (int age = 1; age < n; ++age) {
        SCOPED_TRACE(rows[age].desc);
        EXPECT_EQ(runs(im.get(), 450 - age), rows[age].column);
    }
    EXPECT_EQ(runs(im.get(), 51), "white:26") << "x 399, a slot never filled";
    // Busy 50, 75, 100, 0, 0.5, 40 and 30 % among the slots with a figure.
    const int c = DARK_GREEN;
    expect_texts(im.get(), "CPU last 400 seconds",
                 {{LEFT_TOP, "max", "100.0%", c}, {LEFT_CENTER, "avg", " 42.2%", c}, {LEFT_BOTTOM, "0.0%", "min", c},
                  {RIGHT_CENTER, "cur", " 50.0%", c}});

    // No slot with a figure: a dash instead of a number.
    im = graph("/MOD_CPU/grafinterval_100", nullptr);
    ASSERT_TRUE(im);
    expect_texts(im.get(), "CPU last 40000 seconds",
                 {{LEFT_TOP, "max", "     -", c}, {LEFT_CENTER, "avg", "     -", c},
                  {RIGHT_CENTER, "cur", "     -", c}});
}

}  // namespace
