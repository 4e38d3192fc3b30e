// What the tests of every statistics backend share: samples taken from the
// backend under test, and the rules that every backend keeps alike.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

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

// A simulated system as the shared interface rules drive it: plumb(names,
// start) gives it these interfaces, every counter at start, besides any the
// backend skips, and takes the backend's view of them afresh where it keeps
// one; add(i, k, n) adds n to counter k (in the order of STAT_NETIF_COUNTERS)
// of interface i.
struct interface_system {
    std::function<void(const std::vector<std::string>& names, uint64_t start)> plumb;
    std::function<void(size_t i, size_t k, uint64_t n)> add;
};

inline std::vector<std::string> numbered(const std::string& name, int n) {
    std::vector<std::string> names;
    for (int k = 0; k < n; ++k) names.push_back(name + std::to_string(k));
    return names;
}

// Every sample takes every interface, in the system's order, with the
// increases of its own counters: each counter grows by its own amount and the
// second interface receives 1000 bytes more, so that a counter taken from the
// wrong field or the wrong interface shows.
inline void expect_each_counts_its_own(const interface_system& sys, const std::vector<std::string>& names) {
    const auto growth = [](size_t i, size_t k) { return uint64_t{100} * (k + 1) + (i == 1 && k == 0 ? 1000 : 0); };
    sys.plumb(names, 1000);
    std::string err, more;
    take(stat_get_netif, &err);
    for (int sample = 2; sample <= 3; ++sample) {
        SCOPED_TRACE("sample " + std::to_string(sample));
        for (size_t i = 0; i < names.size(); ++i)
            for (size_t k = 0; k < std::size(STAT_NETIF_COUNTERS); ++k) sys.add(i, k, growth(i, k));
        stat_struct s = take(stat_get_netif, &more);
        err += more;
        ASSERT_EQ(s.netif_count, static_cast<int>(names.size()));
        for (size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(s.netif[i].name, names[i]);
            for (size_t k = 0; k < std::size(STAT_NETIF_COUNTERS); ++k)
                EXPECT_EQ(s.netif[i].*STAT_NETIF_COUNTERS[k], growth(i, k)) << names[i] << ", counter " << k;
        }
    }
    EXPECT_EQ(err, "");
}

// A sample that fails hands no raw counter onward: no slot in use, and every
// one empty.
inline void expect_no_interfaces(const stat_struct& s) {
    EXPECT_EQ(s.netif_count, 0);
    for (const stat_netif& n : s.netif) {
        uint64_t counters = 0;
        for (auto c : STAT_NETIF_COUNTERS) counters |= n.*c;
        EXPECT_TRUE(n.name[0] == '\0' && counters == 0) << "slot " << &n - s.netif << " holds " << n.name;
    }
}

// fail() breaks the system between two samples and mend() puts it right. The
// failed sample is reported with message; one that failed before it filled a
// slot (walked false) leaves the record as the caller had it, one that failed
// half-way empties it. Either way the remembered counters learn nothing from
// it: the sample after counts from the last good one.
inline void expect_failure_teaches_nothing(const interface_system& sys, const std::function<void()>& fail,
                                           const std::function<void()>& mend, const std::string& message,
                                           bool walked = true) {
    sys.plumb(numbered("if", 3), 5);
    take(stat_get_netif);
    sys.add(0, 0, 1000);
    fail();
    stat_struct s;
    stat_cleanup(&s);
    s.netif_count = 9;
    std::snprintf(s.netif[0].name, sizeof s.netif[0].name, "keep");
    s.netif[0].received_bytes = 42;
    testing::internal::CaptureStderr();
    stat_get_netif(&s);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), message);
    if (walked) {
        expect_no_interfaces(s);
    } else {
        EXPECT_EQ(s.netif_count, 9) << "left as the caller had it";
        EXPECT_STREQ(s.netif[0].name, "keep");
        EXPECT_EQ(s.netif[0].received_bytes, 42u);
    }
    mend();
    sys.add(0, 0, 1000);
    EXPECT_EQ(take(stat_get_netif).netif[0].received_bytes, 2000u);
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
    constexpr uint64_t SPENT[STAT_CPU_MODES] = {2500, 100, 1500, 300, 4800, 600, 200};
    uint64_t spent[STAT_CPU_MODES] = {};
    spent[STAT_CPU_IDLE] = STAT_CPU_WHOLE;
    for (stat_cpu_mode m : modes)
        if (m != STAT_CPU_IDLE) spent[STAT_CPU_IDLE] -= spent[m] = SPENT[m];
    stat_forget();
    std::string first_err, err;
    stat_struct s = take(stat_get_cpu, &first_err);
    for (uint16_t share : s.cpu.share) EXPECT_EQ(share, 0) << "first sample";
    for (stat_cpu_mode m : modes) advance(m, 3 * spent[m]);
    s = take(stat_get_cpu, &err);
    EXPECT_EQ(first_err + err, "");
    for (int m = 0; m < STAT_CPU_MODES; ++m) EXPECT_EQ(s.cpu.share[m], spent[m]) << "mode " << m;
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
// each surplus interface (every_surplus) or once per sample.
inline void expect_first_25_kept(const interface_system& sys, const std::string& name, const std::string& report,
                                 bool every_surplus) {
    for (int interfaces : {25, 27}) {
        SCOPED_TRACE(interfaces);
        sys.plumb(numbered(name, interfaces), 1000);
        const size_t reports = interfaces == 25 ? 0 : every_surplus ? interfaces - 25 : 1;
        for (int sample = 1; sample <= 2; ++sample) {
            for (int i = 0; i < interfaces; ++i) sys.add(i, 0, 10);
            std::string err;
            stat_struct s = take(stat_get_netif, &err);
            EXPECT_EQ(blackbox::count(err, report), reports) << err;
            EXPECT_EQ(blackbox::count(err, "\n"), reports) << err;
            ASSERT_EQ(s.netif_count, 25);
            EXPECT_EQ(s.netif[0].name, name + "0");
            EXPECT_EQ(s.netif[24].name, name + "24");
            if (sample == 2) {
                EXPECT_EQ(s.netif[24].received_bytes, 10u);
            }
        }
    }
}
