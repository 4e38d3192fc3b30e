#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "core/history.h"
#include "core/sampling.h"
#include "fake_backend.h"
#include "modules/modules.h"
#include "restart.h"

namespace {

TEST(Registry, EnableValues) {
    struct { const char* value; bool active; } cases[] = {
        {"1", true}, {"2", true}, {"-1", true}, {"0", false}, {"abc", false}, {"0x1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        restart(std::string("module.load.enable ") + c.value + "\n");
        EXPECT_EQ(capture(modules_mainindexhtml).find("MOD_LOAD") != std::string::npos, c.active);
        int handled = -1;
        capture([&](FILE* f) { handled = modules_urlhandler(f, "/MOD_LOAD", "overview"); });
        EXPECT_EQ(handled, c.active ? 1 : 0);
    }
}

// Their pages, links and paragraphs are the black-box pages test's to check
// (every module off there).
TEST(Registry, DisabledModulesCallNoBackendAndLeaveTheirPartsOfASampleCleared) {
    restart("module.load.enable 0\nmodule.netif.enable 0\nmodule.memswap.enable 0\n");
    // The rings still advance.
    fake_backend.load = 4.0;
    fake_backend.mem = {100, 50};
    fake_set_netif(0, "em0", 1, 1);
    history_ring_struct* before = history_get_travler(0);
    signal_interval_1(2);
    const stat_struct s = history_get_travler(0)->record();
    EXPECT_EQ(history_get_travler(0), before->next);
    EXPECT_EQ(s.load, 0.0);
    EXPECT_EQ(s.netif_count, 0);
    EXPECT_EQ(s.mem.total, 0u);
    EXPECT_EQ(fake_backend.load_calls + fake_backend.netif_calls + fake_backend.swap_calls + fake_backend.cpu_calls, 0);
}

// The registry's mean over ten records, made by make from the oldest (9) to
// the newest (0).
stat_struct averaged(const std::function<void(stat_struct&, int)>& make) {
    restart("module.cpu.enable 1\n");
    std::vector<stat_struct> v(10);
    stat_struct* list[10];
    for (int i = 0; i < 10; ++i) {
        stat_cleanup(&v[i]);
        make(v[i], i);
        list[i] = &v[i];
    }
    stat_struct out;
    stat_cleanup(&out);
    modules_avg(&out, list, 10);
    return out;
}

TEST(Averages, LoadMemoryAndCpuMeans) {
    stat_struct out = averaged([](stat_struct& r, int i) {
        r.load = i < 5 ? 1.0 : 3.0;
        r.mem = {1000, static_cast<uint64_t>(i)};  // 45 / 10 = 4.5 -> 4
        r.swap = {~0ull / 16, ~0ull / 16};         // a sum beyond 2^63 still averages
        // CPU time in three records, each all in one mode; the rest have no figure.
        if (i < 3) r.cpu.share[i == 0 ? STAT_CPU_USER : i == 1 ? STAT_CPU_STEAL : STAT_CPU_IDLE] = STAT_CPU_WHOLE;
    });
    EXPECT_DOUBLE_EQ(out.load, 2.0);
    EXPECT_EQ(out.mem.total, 1000u);
    EXPECT_EQ(out.mem.used, 4u);
    EXPECT_NEAR(static_cast<double>(out.swap.total), static_cast<double>(~0ull / 16), 1e4);
    const stat_cpu cpu = {{3334, 0, 0, 0, 3333, 0, 3333}};  // still whole: the tie's unit goes to the first mode
    EXPECT_EQ(std::vector<uint16_t>(std::begin(out.cpu.share), std::end(out.cpu.share)),
              std::vector<uint16_t>(std::begin(cpu.share), std::end(cpu.share)));
}

TEST(Averages, InterfaceMeansPerNameWithinTheBound) {
    // em0 in all ten records, em1 only in the oldest, and 30 one-off names
    // spread over the records: more than the record can hold.
    stat_struct out = averaged([](stat_struct& r, int i) {
        int n = 0;
        std::snprintf(r.netif[n].name, 32, "em0");
        r.netif[n++].received_bytes = 100 + static_cast<uint64_t>(i);
        if (i == 9) {
            std::snprintf(r.netif[n].name, 32, "em1");
            r.netif[n++].send_bytes = 55;
        }
        for (int j = 0; j < 3; ++j) {
            std::snprintf(r.netif[n].name, 32, "tap%d", 3 * i + j);
            r.netif[n++].collisions = 10;
        }
        r.netif_count = n;
    });
    ASSERT_EQ(out.netif_count, MAX_NETIF);
    EXPECT_STREQ(out.netif[0].name, "em0");
    EXPECT_EQ(out.netif[0].received_bytes, 104u) << "1045 / 10, truncated";
    EXPECT_STREQ(out.netif[1].name, "tap0") << "names in the order first met, newest record first";
    EXPECT_EQ(out.netif[1].collisions, 1u);
    EXPECT_EQ(stat_get_netif_byname("em1", &out), nullptr) << "met after the record was full";
    for (const stat_netif& n : out.netif) EXPECT_NE(n.name[0], '\0');
}

}  // namespace
