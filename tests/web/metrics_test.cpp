// /metrics over rings filled through the scriptable backend.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/sampling.h"
#include "core/totals.h"
#include "fake_backend.h"
#include "page_text.h"
#include "restart.h"
#include "web/metrics.h"

namespace {

struct netif_at_tick {
    const char* name;
    uint64_t rx, tx;  // raw cumulative counters
};

// mem_used and cpu_busy, where given, hold the memory in use and the CPU
// busy share (in 1/10000, -1 for no figure) of every tick.
std::string body(const std::string& config, const std::vector<std::vector<netif_at_tick>>& ticks,
                 const std::vector<uint64_t>& mem_used = {}, const std::vector<int>& cpu_busy = {}) {
    restart("module.netif.interface.enable 1\n" + config);
    totals_reset();
    fake_backend.load = 1.5;
    fake_backend.mem = {1000, 400};
    fake_backend.swap = {100, 30};
    for (size_t t = 0; t < ticks.size(); ++t) {
        fake_backend.netif_count = 0;
        for (size_t i = 0; i < ticks[t].size(); ++i)
            fake_set_netif(static_cast<int>(i), ticks[t][i].name, ticks[t][i].rx, ticks[t][i].tx);
        if (t < mem_used.size()) fake_backend.mem.used = mem_used[t];
        const int busy = t < cpu_busy.size() ? cpu_busy[t] : -1;
        fake_backend.cpu = busy < 0 ? stat_cpu{} : stat_cpu{{uint16_t(busy), 0, 0, 0, uint16_t(STAT_CPU_WHOLE - busy)}};
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

// The body stands in parts under golden/: what every answer holds, the load,
// memory and network families, and the CPU module's.
TEST(Metrics, FamiliesSumsPeaksAndWhatThePagesHide) {
    using page_text::golden;
    const std::string head = golden("metrics_head.txt"), with_modules = head + golden("metrics_modules.txt");
    bool (*const read)(stat_cpu_seconds_fn, void*) = [](stat_cpu_seconds_fn each, void* c) {
        each(c, 0, "user", 1234.56);
        each(c, 0, "idle", 98765.0);
        each(c, 1, "q\"b", 1 / 128.0);
        return true;
    };
    const struct row {
        const char* desc;
        std::string config;
        std::vector<int> cpu_busy;
        bool (*cpu_seconds)(stat_cpu_seconds_fn, void*);
        std::string body;
    } rows[] = {
        {"defaults: every family, sums and peaks across a wrap, lo hidden, odd name escaped", "", {}, read,
         with_modules},
        {"the CPU module switched on: every processor and mode read now, and the peak", "module.cpu.enable 1\n",
         {-1, 4321, 17, -1}, read, with_modules + golden("metrics_cpu.txt")},
        {"an unreadable kernel and no figure in the window leave the families without samples",
         "module.cpu.enable 1\n", {}, [](stat_cpu_seconds_fn, void*) { return false; },
         with_modules + golden("metrics_cpu_unread.txt")},
        {"disabled modules are absent", "module.load.enable 0\nmodule.memswap.enable 0\nmodule.netif.enable abc\n", {},
         read, head},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        fake_backend.cpu_seconds = r.cpu_seconds;
        EXPECT_EQ(body(r.config, WRAP, {}, r.cpu_busy), r.body);
    }
    fake_backend.cpu_seconds = nullptr;
}

// Each row gives what one interface receives in a second, by how many seconds
// back from the newest sample that second lies; memory in use and the CPU
// busy share (in 1/10000) follow the same figures, and while the interface is
// away the CPU has no figure. The interface sends half of what it received a
// second later, so that its two peaks leave the window at different times.
TEST(Metrics, PeaksCoverTheLastSixtySeconds) {
    constexpr uint64_t AWAY = ~uint64_t{0};  // the interface is absent; memory in use is 1
    const struct row {
        const char* desc;
        int seconds;
        uint64_t (*at)(int back);
        uint64_t in, out;  // the peaks; memory's is the received one
    } rows[] = {
        {"a spike 50 seconds back", 70, [](int back) -> uint64_t { return back == 50 ? 9000 : 1; }, 9000, 4500},
        {"spikes 61 and 60 seconds back are gone, and the largest since is found", 70,
         [](int back) -> uint64_t { return back == 61 ? 9000 : back == 30 ? 700 : 1; }, 700, 350},
        {"falling every second, the peak is always the oldest second", 150,
         [](int back) -> uint64_t { return 1000 + static_cast<uint64_t>(back); }, 1059, 530},
        {"away for longer than the window after a spike", 130,
         [](int back) -> uint64_t { return back < 20 ? 1 : back < 100 ? AWAY : back == 100 ? 9000 : 1; }, 1, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        std::vector<std::vector<netif_at_tick>> ticks;
        std::vector<uint64_t> mem_used;
        std::vector<int> cpu_busy;
        uint64_t rx = 0, tx = 0;
        for (int back = r.seconds - 1; back >= 0; --back) {
            const uint64_t v = r.at(back), before = r.at(back + 1);
            mem_used.push_back(v == AWAY ? 1 : v);
            cpu_busy.push_back(v == AWAY ? -1 : static_cast<int>(v));
            ticks.emplace_back();
            if (v == AWAY) continue;
            rx += v;
            tx += before == AWAY ? 0 : before / 2;
            ticks.back() = {{"em1", rx, tx}};
        }
        const std::string text = body("module.cpu.enable 1\n", ticks, mem_used, cpu_busy);
        char ratio[64];
        std::snprintf(ratio, sizeof ratio, "kelp_cpu_busy_peak_ratio %.4f\n", static_cast<double>(r.in) / 10000);
        for (const std::string& p :
             {"kelp_network_receive_peak_bytes_per_second{device=\"em1\"} " + std::to_string(r.in) + "\n",
              "kelp_network_transmit_peak_bytes_per_second{device=\"em1\"} " + std::to_string(r.out) + "\n",
              "kelp_memory_used_peak_bytes " + std::to_string(r.in) + "\n", std::string(ratio)})
            EXPECT_NE(text.find(p), std::string::npos) << p << "\nin\n" << text;
    }
}

}  // namespace
