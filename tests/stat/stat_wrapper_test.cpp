#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "stat/stat_wrapper.h"

namespace {

struct raw {
    const char* name;
    uint64_t rx, tx;
};

// One sample with raw cumulative counters, as a backend hands it over.
stat_struct sample(std::initializer_list<raw> ifs) {
    stat_struct s;
    stat_cleanup(&s);
    int i = 0;
    for (const raw& r : ifs) {
        std::snprintf(s.netif[i].name, sizeof s.netif[i].name, "%s", r.name);
        s.netif[i].received_bytes = r.rx;
        s.netif[i].send_bytes = r.tx;
        s.netif[i].collisions = r.rx / 2;
        s.netif[i].input_errors = r.rx / 3;
        s.netif[i].output_errors = r.tx / 5;
        ++i;
    }
    s.netif_count = i;
    stat_netif_diff(&s);
    return s;
}

// Every test starts with no interface remembered.
class NetifDiff : public ::testing::Test {
protected:
    void SetUp() override { stat_forget(); }
};

// Below 2^32 a counter may be 32 bits wide; at or above, it is 64 bits wide.
TEST_F(NetifDiff, IncreaseOfACounterOfEitherWidth) {
    constexpr uint64_t GiB = 1ull << 30, WIDE = 1ull << 32;
    struct { const char* desc; bool seen_before; uint64_t before, after, increase; } cases[] = {
        {"first appearance", false, 0, 5 * WIDE, 0},
        {"32-bit wrap", true, WIDE - 296, 200, 496},
        {"a drop below 2^32 gives its size", true, 5000, 1000, 4000},
        {"exactly 2^31", true, 0, 1ull << 31, 1ull << 31},
        {"just below 2^31", true, 0, (1ull << 31) - 1, (1ull << 31) - 1},
        {"between 2^31 and 2^32 reads as the rest", true, 0, (1ull << 31) + 10, (1ull << 31) - 10},
        {"3 GiB more above 2^32", true, 5 * WIDE + 7, 5 * WIDE + 7 + 3 * GiB, 3 * GiB},
        {"3 GiB more, past 2^32", true, WIDE - 100, WIDE + 3 * GiB, 3 * GiB + 100},
        {"reset of a counter above 2^32", true, 5 * WIDE, 1000, 1000},
        {"reset to a value still above 2^32", true, 9 * WIDE, 6 * WIDE, 6 * WIDE},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desc);
        char name[16];
        std::snprintf(name, sizeof name, "wrap%d", n++);
        if (c.seen_before) sample({{name, c.before, 0}});
        stat_struct s = sample({{name, c.after, c.after}});
        EXPECT_EQ(s.netif[0].received_bytes, c.increase);
        for (auto k : STAT_NETIF_COUNTERS) EXPECT_TRUE(c.seen_before || s.netif[0].*k == 0) << "a new name's counters";
    }
}

TEST_F(NetifDiff, InterfacesAreMatchedByNameNotSlot) {
    sample({{"a", 100, 0}, {"b", 200, 0}, {"c", 300, 0}});
    stat_struct s = sample({{"c", 303, 0}, {"a", 101, 0}});  // b vanished, order changed
    EXPECT_EQ(s.netif[0].received_bytes, 3u);
    EXPECT_EQ(s.netif[1].received_bytes, 1u);
    s = sample({{"b", 250, 0}});  // b returns, measured against its last appearance
    EXPECT_EQ(s.netif[0].received_bytes, 50u);
}

TEST_F(NetifDiff, TwentySixthNameRecyclesAnAbsentInterface) {
    char name[16];
    for (int i = 0; i < MAX_NETIF; ++i) {  // 25 names, one per sample
        std::snprintf(name, sizeof name, "old%d", i);
        sample({{name, 1000, 0}});
    }
    // A sample with every one of the 25 but old7, plus a new name: the new one
    // takes old7's place and none of the present 24 loses its memory.
    stat_struct s;
    stat_cleanup(&s);
    int k = 0;
    for (int i = 0; i < MAX_NETIF; ++i) {
        if (i == 7) continue;
        std::snprintf(s.netif[k].name, sizeof s.netif[k].name, "old%d", i);
        s.netif[k++].received_bytes = 1010;
    }
    std::snprintf(s.netif[k].name, sizeof s.netif[k].name, "new");
    s.netif[k++].received_bytes = 5000;
    s.netif_count = k;
    stat_netif_diff(&s);
    for (int i = 0; i < k - 1; ++i) EXPECT_EQ(s.netif[i].received_bytes, 10u) << s.netif[i].name;
    EXPECT_EQ(s.netif[k - 1].received_bytes, 0u);

    stat_struct again = sample({{"new", 5100, 0}, {"old0", 1020, 0}});
    EXPECT_EQ(again.netif[0].received_bytes, 100u);
    EXPECT_EQ(again.netif[1].received_bytes, 10u);
    // old7 was forgotten: its return counts as a first appearance.
    stat_struct back = sample({{"old7", 999999, 0}});
    EXPECT_EQ(back.netif[0].received_bytes, 0u);
}

// Counters in the order of stat_cpu_mode: user, nice, system, interrupt,
// idle, iowait, steal.
using cpu_counters = uint64_t[STAT_CPU_MODES];

stat_cpu cpu_sample(const cpu_counters& total) {
    stat_struct s;
    stat_cleanup(&s);
    std::memset(&s.cpu, 0x5a, sizeof s.cpu);
    stat_cpu_diff(total, &s);
    return s.cpu;
}

TEST(CpuDiff, SharesOfTheTimeBetweenTwoCallsAddUpToTheWhole) {
    constexpr uint64_t BIG = uint64_t{1} << 60;
    struct {
        const char* desc;
        cpu_counters before, after;
        uint16_t share[STAT_CPU_MODES];
    } const cases[] = {
        {"each mode its own share", {100, 0, 100, 0, 100, 0, 0}, {3100, 300, 1600, 600, 3500, 900, 300},
         {3000, 300, 1500, 600, 3400, 900, 300}},
        {"thirds: the earlier mode gets the unit left over", {}, {1, 0, 1, 0, 1, 0, 0},
         {3334, 0, 3333, 0, 3333, 0, 0}},
        {"sevenths: four units left over", {}, {1, 1, 1, 1, 1, 1, 1}, {1429, 1429, 1429, 1429, 1428, 1428, 1428}},
        {"the largest remainder, not the earliest mode", {}, {4, 2, 1, 0, 0, 0, 0}, {5714, 2857, 1429, 0, 0, 0, 0}},
        {"increases beyond 2^32 are not cut to 32 bits", {0, 0, 0, 0, 1, 0, 0}, {3 * BIG, 0, 0, 0, BIG + 1, 0, 0},
         {7500, 0, 0, 0, 2500, 0, 0}},
        {"counters near 2^64 do not overflow", {}, {UINT64_MAX, 0, 0, 0, UINT64_MAX, 0, UINT64_MAX / 2},
         {4000, 0, 0, 0, 4000, 0, 2000}},
        {"no time gone by", {5, 5, 5, 5, 5, 5, 5}, {5, 5, 5, 5, 5, 5, 5}, {}},
        {"one counter went down", {100, 0, 100, 0, 100, 0, 50}, {200, 0, 200, 0, 200, 0, 49}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desc);
        stat_forget();
        const stat_cpu first = cpu_sample(c.before);
        for (uint16_t share : first.share) EXPECT_EQ(share, 0) << "the first call only remembers";
        const stat_cpu second = cpu_sample(c.after);
        for (int m = 0; m < STAT_CPU_MODES; ++m) EXPECT_EQ(second.share[m], c.share[m]) << "mode " << m;
    }
}

// What a call without a figure found is what the next one counts from.
TEST(CpuDiff, TheCallAfterOneWithoutFigureCountsFromWhatItFound) {
    stat_forget();
    cpu_sample({500, 0, 0, 0, 500, 0, 0});
    cpu_sample({100, 0, 0, 0, 100, 0, 0});  // gone down: a counter started again
    EXPECT_EQ(cpu_sample({400, 0, 0, 0, 200, 0, 0}).share[STAT_CPU_USER], 7500);
    stat_forget();
    EXPECT_EQ(cpu_sample({900, 0, 0, 0, 900, 0, 0}).share[STAT_CPU_USER], 0) << "forgotten";
}

TEST(NetifByName, FirstMatchInIndexOrder) {
    stat_struct s;
    stat_cleanup(&s);
    EXPECT_EQ(stat_get_netif_byname("lo0", &s), nullptr);
    EXPECT_EQ(stat_get_netif_byname("", &s), &s.netif[0]) << "an empty name finds the first unused slot";
    std::strcpy(s.netif[2].name, "em0");
    std::strcpy(s.netif[4].name, "em0");
    EXPECT_EQ(stat_get_netif_byname("em0", &s), &s.netif[2]);
    for (stat_netif& n : s.netif) std::strcpy(n.name, "x");
    EXPECT_EQ(stat_get_netif_byname("", &s), nullptr);
}

}  // namespace
