#include <gtest/gtest.h>

#include <string>

#include "../graph/png_probe.h"
#include "restart.h"

namespace {

using namespace png_probe;

using MemswapGraph = module_graph;

const byte_labels LABELS = {{"swap", "max use", "current", "memory", "max use", "current"},
                            {GREEN, GREEN, GREEN, BLUE, BLUE, BLUE}};

// Age 0 is the newest slot; the graph's x is age - 1.
TEST_F(MemswapGraph, NoSwapGivesZeroBarsAndZeroTexts) {
    fill_ring(0, 401, [](stat_struct& s, int age) {
        s.mem = {1000, age == 0 ? 600u : 500u};
    });
    gd_image im = graph("/MOD_MEMSWAP/grafinterval_1", nullptr);
    ASSERT_TRUE(im);
    gdImagePtr g = im.get();

    EXPECT_EQ(count(g, GREEN, 51, 125, 449, 125), 399) << "single-pixel bars on the baseline";
    EXPECT_EQ(count(g, GREEN, 51, 26, 449, 124), 0);
    EXPECT_EQ(count(g, BLUE, 51, 26, 449, 26), 399) << "largest use at the top by default";
    EXPECT_EQ(count(g, BLUE, 51, 27, 449, 125), 0);

    expect_bytes(g, "Swap / Memory Load last 400 seconds", LABELS,
                 {"    0 B", "    0 B", "    0 B", " 1000 B", "  500 B", "  600 B"});
}

TEST_F(MemswapGraph, RescaleKeysChooseTheScalesAtEveryRequest) {
    // Swap half used throughout but full in the newest slot, which only the
    // "current" text shows; memory a quarter used.
    fill_ring(0, 401, [](stat_struct& s, int age) {
        s.swap = {uint64_t(1) << 30, age == 0 ? uint64_t(1) << 30 : uint64_t(1) << 29};
        s.mem = {4000, 1000};
    });
    struct row {
        const char* desc;
        const char* swap_key;
        const char* mem_key;
        int bar_top, line_row;
    } rows[] = {
        {"both to the largest size", "1", "1", 75, 100},
        {"both to the largest use", "0", "0", 26, 26},
        {"not a number means use", "abc", "1", 26, 100},
        {"only 1 means size", "1", "2", 75, 26},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        read_config(std::string("module.memswap.swap.rescalemax ") + r.swap_key + "\nmodule.memswap.mem.rescalemax " +
                  r.mem_key + "\n");
        gd_image im = graph("/MOD_MEMSWAP/grafinterval_1", nullptr);
        ASSERT_TRUE(im);
        gdImagePtr g = im.get();
        for (int col : {449, 301}) {
            SCOPED_TRACE(col);
            EXPECT_EQ(pixel(g, col, r.line_row), BLUE);
            int green_rows = 125 - r.bar_top + 1 - (r.line_row >= r.bar_top ? 1 : 0);
            EXPECT_EQ(count(g, GREEN, col, 26, col, 125), green_rows);
            EXPECT_NE(pixel(g, col, r.bar_top - 1), GREEN);
        }
        expect_bytes(g, "Swap / Memory Load last 400 seconds", LABELS,
                     {" 1024MB", "  512MB", " 1024MB", " 4000 B", " 1000 B", " 1000 B"});
    }
}

TEST_F(MemswapGraph, PathNamesTheRing) {
    fill_ring(1, 1, [](stat_struct& s, int) { s.mem = {8, 7}; });
    fill_ring(2, 1, [](stat_struct& s, int) { s.mem = {9, 9}; });
    auto current = [](const char* text) { return corner_pair{RIGHT_BOTTOM, text, "current", BLUE}; };
    expect_graphs({
        {"/MOD_MEMSWAP/grafinterval_1", nullptr, "Swap / Memory Load last 400 seconds", current("    0 B")},
        {"/MOD_MEMSWAP/grafinterval_10", nullptr, "Swap / Memory Load last 4000 seconds", current("    7 B")},
        {"/MOD_MEMSWAP/grafinterval_100", nullptr, "Swap / Memory Load last 40000 seconds", current("    9 B")},
        {"/MOD_MEMSWAP/grafinterval_", nullptr, nullptr, {}},
    });
}

}  // namespace
