// What the tests of every statistics backend share: samples taken from the
// backend under test, and the rules that every backend keeps alike.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <string>

#include "blackbox.h"
#include "stat/stat_wrapper.h"

// One sample through a backend operation, with what it wrote to standard
// error and standard output meanwhile where asked for.
inline stat_struct take(void (*operation)(stat_struct*), std::string* err = nullptr, std::string* out = nullptr) {
    stat_struct s;
    stat_cleanup(&s);
    if (out) testing::internal::CaptureStdout();
    if (err) testing::internal::CaptureStderr();
    operation(&s);
    if (err) *err = testing::internal::GetCapturedStderr();
    if (out) *out = testing::internal::GetCapturedStdout();
    return s;
}

inline stat_struct take_netif(std::string* err = nullptr) { return take(stat_get_netif, err); }
inline stat_struct take_swap(std::string* err = nullptr, std::string* out = nullptr) {
    return take(stat_get_swap, err, out);
}

// What each counter grows by between two samples, in the order of
// STAT_NETIF_COUNTERS: each its own, so that a counter taken from the wrong
// field shows.
constexpr uint64_t GROWTH[] = {100, 200, 3, 4, 5};
static_assert(std::size(GROWTH) == std::size(STAT_NETIF_COUNTERS));

inline void expect_grown(const stat_netif& n, uint64_t more_received = 0) {
    for (size_t k = 0; k < std::size(GROWTH); ++k)
        EXPECT_EQ(n.*STAT_NETIF_COUNTERS[k], GROWTH[k] + (k == 0 ? more_received : 0)) << n.name << ", counter " << k;
}

// A sample that failed half-way hands no raw counter onward: no slot in use,
// and every one empty.
inline void expect_no_interfaces(const stat_struct& s) {
    EXPECT_EQ(s.netif_count, 0);
    for (const stat_netif& n : s.netif) {
        uint64_t counters = 0;
        for (auto c : STAT_NETIF_COUNTERS) counters |= n.*c;
        EXPECT_TRUE(n.name[0] == '\0' && counters == 0) << "slot " << &n - s.netif << " holds " << n.name;
    }
}

// The one-minute figure of getloadavg, and 0 once it fails: kernel is the
// simulated system under the backend.
template <typename Kernel>
void expect_one_minute_load(Kernel& kernel) {
    kernel.load[0] = 0.25;
    kernel.load[1] = 1.5;
    kernel.load[2] = 3.0;
    stat_struct s = take(stat_get_load);
    EXPECT_EQ(s.load, 0.25);
    kernel.loadavg_fails = true;
    stat_get_load(&s);
    EXPECT_EQ(s.load, 0.0);
}

// CPU time by mode: no figure at the first sample, whatever the counters
// hold, then each mode's share of the time in between. advance(mode, ticks)
// lets the system spend ticks in a mode of the record; modes are the ones the
// platform has. Each mode spends its own amount, so that one read from the
// wrong counter shows; an absent mode's goes to idle, so that the ticks add up
// to three times STAT_CPU_WHOLE and each share is a third of its ticks.
template <typename Advance>
void expect_cpu_shares(Advance advance, std::initializer_list<stat_cpu_mode> modes) {
    constexpr uint64_t SPENT[CPU_MODES] = {2500, 100, 1500, 300, 4800, 600, 200};
    uint64_t spent[CPU_MODES] = {};
    spent[CPU_IDLE] = STAT_CPU_WHOLE;
    for (stat_cpu_mode m : modes)
        if (m != CPU_IDLE) spent[CPU_IDLE] -= spent[m] = SPENT[m];
    stat_forget();
    std::string first_err, err;
    stat_struct s = take(stat_get_cpu, &first_err);
    for (uint16_t share : s.cpu.share) EXPECT_EQ(share, 0) << "first sample";
    for (stat_cpu_mode m : modes) advance(m, 3 * spent[m]);
    s = take(stat_get_cpu, &err);
    EXPECT_EQ(first_err + err, "");
    for (int m = 0; m < CPU_MODES; ++m) EXPECT_EQ(s.cpu.share[m], spent[m]) << "mode " << m;
}

// What stat_get_cpu_seconds reports, a line "cpu mode seconds" a call.
struct cpu_seconds {
    std::string reported;
    static void add(void* context, int cpu, const char* mode, double seconds) {
        char line[96];
        std::snprintf(line, sizeof line, "%d %s %g\n", cpu, mode, seconds);
        static_cast<cpu_seconds*>(context)->reported += line;
    }
};

// The first 25 interfaces of a sample are stored and the surplus reported,
// each surplus interface (every_surplus) or once per sample. plumb(n) gives
// the system n interfaces, <name>0 to <name>n-1, besides any the backend
// skips; grow() adds 10 to the received bytes of each.
template <typename Plumb, typename Grow>
void expect_first_25_kept(const std::string& name, Plumb plumb, Grow grow, const std::string& report,
                          bool every_surplus) {
    for (int interfaces : {25, 27}) {
        SCOPED_TRACE(interfaces);
        plumb(interfaces);
        const size_t reports = interfaces == 25 ? 0 : every_surplus ? interfaces - 25 : 1;
        for (int sample = 1; sample <= 2; ++sample) {
            grow();
            std::string err;
            stat_struct s = take_netif(&err);
            EXPECT_EQ(blackbox::count(err, report), reports) << err;
            EXPECT_EQ(blackbox::count(err, "\n"), reports) << err;
            ASSERT_EQ(s.netif_count, 25);
            EXPECT_EQ(s.netif[0].name, name + "0");
            EXPECT_EQ(s.netif[24].name, name + "24");
            if (sample == 1) continue;
            EXPECT_EQ(s.netif[24].received_bytes, 10u);
        }
    }
}
