// /metrics over rings filled through the scriptable backend.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/sampling.h"
#include "core/totals.h"
#include "fake_backend.h"
#include "restart.h"
#include "web/metrics.h"

namespace {

struct netif_at_tick {
    const char* name;
    uint64_t rx, tx;  // raw cumulative counters
};

std::string body(const std::string& config, const std::vector<std::vector<netif_at_tick>>& ticks) {
    restart("module.netif.interface.enable 1\n" + config);
    totals_reset();
    fake_backend.load = 1.5;
    fake_backend.mem = {1000, 400};
    fake_backend.swap = {100, 30};
    for (const auto& tick : ticks) {
        fake_backend.netif_count = 0;
        for (size_t i = 0; i < tick.size(); ++i)
            fake_set_netif(static_cast<int>(i), tick[i].name, tick[i].rx, tick[i].tx);
        signal_interval_1(2);
    }
    return capture(metrics_write);
}

// em0 receives 3840, then 512 across the 32-bit wrap, then 768 bytes.
const std::vector<std::vector<netif_at_tick>> WRAP = {
    {{"em0", 0xFFFFF000u, 0}, {"lo", 5, 5}, {"q\"b\\c\nd", 0, 0}},
    {{"em0", 0xFFFFFF00u, 10}, {"lo", 50, 50}, {"q\"b\\c\nd", 7, 0}},
    {{"em0", 0x100u, 20}, {"lo", 500, 500}, {"q\"b\\c\nd", 7, 0}},
    {{"em0", 0x400u, 30}, {"lo", 5000, 5000}, {"q\"b\\c\nd", 7, 0}},
};

std::vector<std::vector<netif_at_tick>> burst_then_quiet() {
    // A burst of 9000 in tick 2, then 1 byte a second for 11 seconds.
    std::vector<std::vector<netif_at_tick>> t = {{{"em1", 0, 0}}, {{"em1", 9000, 0}}};
    for (uint64_t s = 1; s <= 11; ++s) t.push_back({{"em1", 9000 + s, 0}});
    return t;
}

TEST(Metrics, FamiliesSumsPeaksAndWhatThePagesHide) {
    const struct row {
        const char* desc;
        std::string config;
        std::vector<std::vector<netif_at_tick>> ticks;
        std::vector<std::string> present, absent;
    } rows[] = {
        {"defaults: every family, sums and peaks across a wrap, lo hidden, odd name escaped",
         "",
         WRAP,
         {"# HELP kelp_build_info ", "# TYPE kelp_build_info gauge\nkelp_build_info{version=\"0.0.9\"} 1\n",
          "# TYPE kelp_samples_total counter\nkelp_samples_total 4\n", "# HELP node_load1 ",
          "# TYPE node_load1 gauge\nnode_load1 1.5\n",
          "# TYPE node_memory_MemTotal_bytes gauge\nnode_memory_MemTotal_bytes 1000\n",
          "node_memory_MemAvailable_bytes 600\n", "node_memory_SwapTotal_bytes 100\n",
          "node_memory_SwapFree_bytes 70\n",
          "# TYPE node_network_receive_bytes_total counter\nnode_network_receive_bytes_total{device=\"em0\"} 5120\n",
          "node_network_transmit_bytes_total{device=\"em0\"} 30\n",
          "node_network_receive_bytes_total{device=\"q\\\"b\\\\c\\nd\"} 7\n",
          "# HELP node_network_transmit_colls_total ", "# TYPE node_network_receive_errs_total counter\n",
          "# TYPE node_network_transmit_errs_total counter\n",
          "# TYPE kelp_network_receive_peak_bytes_per_second gauge\n"
          "kelp_network_receive_peak_bytes_per_second{device=\"em0\"} 3840\n",
          "kelp_network_transmit_peak_bytes_per_second{device=\"em0\"} 10\n"},
         {"device=\"lo\"", "\r"}},
        {"the peak looks at the ten newest seconds only; the sum keeps everything",
         "",
         burst_then_quiet(),
         {"node_network_receive_bytes_total{device=\"em1\"} 9011\n",
          "kelp_network_receive_peak_bytes_per_second{device=\"em1\"} 1\n"},
         {}},
        {"disabled modules are absent",
         "module.load.enable 0\nmodule.memswap.enable 0\nmodule.netif.enable abc\n",
         WRAP,
         {"kelp_build_info{version=\"0.0.9\"} 1\n", "kelp_samples_total 4\n"},
         {"node_load1", "node_memory", "node_network", "kelp_network"}},
        {"the fallback key hides what has no key of its own",
         "module.netif.interface.enable 0\nmodule.netif.interface.sh0.enable 1\n",
         {{{"sh0", 0, 0}, {"hd0", 0, 0}}},
         {"node_network_receive_bytes_total{device=\"sh0\"} 0\n", "node_load1 1.5\n"},
         {"hd0"}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        std::string text = body(r.config, r.ticks);
        for (const std::string& p : r.present) EXPECT_NE(text.find(p), std::string::npos) << p << "\nin\n" << text;
        for (const std::string& a : r.absent) EXPECT_EQ(text.find(a), std::string::npos) << a << "\nin\n" << text;
    }
}

}  // namespace
