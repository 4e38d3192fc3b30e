#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "../graph/png_probe.h"
#include "core/history.h"
#include "restart.h"

namespace {

using namespace png_probe;

using NetifGraph = module_graph;

const byte_labels LABELS = {{"max in", "avg in", "current", "max out", "avg out", "current"},
                            {GREEN, ORANGE, GREEN, BLUE, DARK_BLUE, BLUE}};

void add_netif(stat_struct& s, const char* name, uint64_t rx, uint64_t tx) {
    stat_netif& n = s.netif[s.netif_count++];
    std::snprintf(n.name, sizeof n.name, "%s", name);
    n.received_bytes = rx;
    n.send_bytes = tx;
}

// Age 0 is the newest slot; the graph's x is age - 1.
TEST_F(NetifGraph, OnlySentTrafficDrawsLineAtTopAndNoBars) {
    fill_ring(0, 401, [](stat_struct& s, int age) { add_netif(s, "em0", 0, age <= 200 ? 1000 : 0); });
    gd_image im = graph("/MOD_NETIF/grafinterval_1", "em0");
    ASSERT_TRUE(im);
    gdImagePtr g = im.get();

    EXPECT_EQ(count(g, GREEN, 51, 26, 449, 124), 0) << "no received bytes, no bars";
    EXPECT_EQ(count(g, DARK_GREEN, 51, 125, 449, 125), 399) << "received mean 0 on the baseline";
    // Sent 1000 over x 0..199 is the top of the common scale (height 100,
    // clamped to 99); the mean 500 is height 50.
    EXPECT_EQ(pixel(g, 449, 26), BLUE);
    EXPECT_EQ(pixel(g, 301, 26), BLUE);
    EXPECT_EQ(pixel(g, 301, 27), WHITE);
    EXPECT_EQ(pixel(g, 201, 26), WHITE) << "x = 249 sent nothing";
    EXPECT_EQ(count(g, DARK_BLUE, 51, 75, 449, 75), 399 - 198) << "but for the frame and the grid row";

    expect_bytes(g, "Network Load last 400 seconds (em0)", LABELS,
                 {"    0 B", "    0 B", "    0 B", " 1000 B", "  500 B", " 1000 B"});
}

TEST_F(NetifGraph, RecentInterfaceCountsMissingSlotsAsZeroOverAll400) {
    fill_ring(0, 401, [](stat_struct& s, int age) {
        add_netif(s, "em1", 0, 0);
        if (age <= 100) add_netif(s, "em0", 400, 0);
    });
    gd_image im = graph("/MOD_NETIF/grafinterval_1", "em0");
    ASSERT_TRUE(im);
    gdImagePtr g = im.get();

    // Mean 100 * 400 / 400 = 100: height 25, row 100. The sent mean, 0, is
    // drawn last along the baseline.
    EXPECT_EQ(count(g, DARK_GREEN, 51, 100, 449, 100), 399 - 198) << "but for the frame and the grid row";
    EXPECT_EQ(count(g, DARK_BLUE, 51, 125, 449, 125), 399);
    for (int col : {449, 351}) {
        SCOPED_TRACE(col);
        EXPECT_EQ(count(g, GREEN, col, 26, col, 124), 98) << "rows 26..124 but the mean's row";
    }
    EXPECT_EQ(count(g, GREEN, 51, 26, 350, 124), 0) << "x 100 and older: height 0";
    expect_bytes(g, "Network Load last 400 seconds (em0)", LABELS,
                 {"  400 B", "  100 B", "  400 B", "    0 B", "    0 B", "    0 B"});
}

TEST_F(NetifGraph, CurrentTextsShowSlotBeforeNewest) {
    // The newest (99999 in, 2^30 out) is not in the maxima; the means are
    // (99998 + 399) / 400 and (5 + 399) / 400, truncated.
    fill_ring(1, 401, [](stat_struct& s, int age) {
        add_netif(s, "em0", age == 0 ? 99999 : age == 1 ? 99998 : 1, age == 0 ? uint64_t(1) << 30 : age == 1 ? 5 : 1);
    });
    gd_image im = graph("/MOD_NETIF/grafinterval_10", "em0");
    ASSERT_TRUE(im);
    expect_bytes(im.get(), "Network Load last 4000 seconds (em0)", LABELS,
                 {"99998 B", "  250 B", "99998 B", "    5 B", "    1 B", "    5 B"});
}

TEST_F(NetifGraph, RequestsThatGetNoImage) {
    fill_ring(0, 6, [](stat_struct& s, int age) {
        add_netif(s, "em1", 1, 1);
        add_netif(s, "lo", 1, 1);
        if (age > 0) add_netif(s, "em0", 1, 1);
    });
    const std::string html = "Content-type: text/html\r\n\r\n", long_name(40, 'e');
    const std::string unknown = html + "Unknown interface\r\n", wait = html + "please wait .......\r\n";
    const struct {
        const char* desc;
        const char* url;
        const char* param;
        std::string answer;  // empty: declined
    } rows[] = {
        {"no query", "/MOD_NETIF/grafinterval_1", nullptr, unknown},
        {"empty query", "/MOD_NETIF/grafinterval_1", "", unknown},
        {"longer than any interface name", "/MOD_NETIF/grafinterval_1", long_name.c_str(), unknown},
        {"hidden by default", "/MOD_NETIF/grafinterval_1", "lo", html + "Skip interface by configuration\r\n"},
        {"no sample holds it", "/MOD_NETIF/grafinterval_1", "em9", wait},
        {"gone from the newest slot", "/MOD_NETIF/grafinterval_1", "em0", wait},
        {"ring 1 still empty", "/MOD_NETIF/grafinterval_10", "em1", wait},
        {"path compared in full", "/MOD_NETIF/grafinterval_1000", "em1", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.desc);
        answer a = request(r.url, r.param);
        EXPECT_EQ(a.handled, r.answer.empty() ? 0 : 1);
        EXPECT_EQ(a.header + a.body, r.answer);
    }
    EXPECT_TRUE(graph("/MOD_NETIF/grafinterval_1", "em1")) << "a shown interface";
}

// The sampling thread keeps storing while connection threads draw; every
// graph must still come out whole (and, under a thread sanitizer, race-free).
TEST_F(NetifGraph, GraphsDrawWhileSamplesArrive) {
    restart("module.cpu.enable 1\n");
    fill_ring(0, 401, [](stat_struct& s, int) { add_netif(s, "em0", 10, 10); });
    // Joined on every way out of the test, failed assertions included.
    std::jthread sampler([](std::stop_token stop) {
        for (int i = 0; i < 20000 && !stop.stop_requested(); ++i) {
            stat_struct s;
            stat_cleanup(&s);
            s.load = i % 7;
            s.mem = {1000, static_cast<uint64_t>(i % 1000)};
            s.cpu = {{static_cast<uint16_t>(i % 10000), 0, 0, 0, static_cast<uint16_t>(10000 - i % 10000)}};
            add_netif(s, "em0", static_cast<uint64_t>(i), static_cast<uint64_t>(2 * i));
            history_put_data(0, &s);
        }
    });
    const char* urls[][2] = {
        {"/MOD_LOAD", "grafinterval_1"}, {"/MOD_NETIF/grafinterval_1", "em0"}, {"/MOD_MEMSWAP/grafinterval_1", nullptr},
        {"/MOD_CPU/grafinterval_1", nullptr}};
    for (int round = 0; round < 5; ++round)
        for (auto& u : urls) {
            SCOPED_TRACE(u[0]);
            gd_image im = graph(u[0], u[1]);
            ASSERT_TRUE(im);
            EXPECT_EQ(gdImageSX(im.get()), 500);
        }
}

}  // namespace
