// The Solaris backend on a simulated kernel statistics chain and swapctl.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "backend_test.h"
#include "fake_kstat.h"

namespace {

// The statistics the backend takes, in the order of STAT_NETIF_COUNTERS.
const char* const COUNTER_STATISTICS[] = {"rbytes64", "obytes64", "collisions", "ierrors", "oerrors"};

// A network interface's kstat with the statistics a Solaris 8 driver keeps:
// the byte counters 64 bits wide, the error and collision counters 32 bits.
fake_kstat net(const std::string& name, uint64_t start = 0) {
    fake_kstat k;
    k.module = name.substr(0, name.find_first_of("0123456789"));
    k.name = name;
    k.ks_class = "net";
    k.stats = {{"ipackets", start, false}, {"rbytes64", start, true},  {"obytes64", start, true},
               {"collisions", start, false}, {"ierrors", start, false}, {"oerrors", start, false}};
    return k;
}

fake_kstat system_pages(uint64_t total, uint64_t free) {
    fake_kstat k;
    k.module = "unix";
    k.name = "system_pages";
    k.ks_class = "pages";
    k.stats = {{"lotsfree", 100, false}, {"pagestotal", total, false}, {"pagesfree", free, false}};
    return k;
}

// A processor's cpu_stat kstat, its ticks in the kernel's order of states:
// idle, user, kernel, wait.
fake_kstat cpu_stat(int instance, uint32_t idle = 0, uint32_t user = 0, uint32_t kernel = 0, uint32_t wait = 0) {
    fake_kstat k{"cpu_stat", "cpu_stat" + std::to_string(instance), "misc", {}};
    k.instance = instance;
    k.cpu_stat = true;
    k.ticks[0] = idle, k.ticks[1] = user, k.ticks[2] = kernel, k.ticks[3] = wait;
    return k;
}

uint64_t& stat(fake_kstat& k, const std::string& name) {
    for (fake_named& s : k.stats)
        if (s.name == name) return s.value;
    ADD_FAILURE() << "no statistic " << name;
    static uint64_t none;
    return none;
}

void drop(fake_kstat& k, const std::string& name) {
    std::erase_if(k.stats, [&](const fake_named& s) { return s.name == name; });
}

// The interfaces' kstats amid those the backend skips: loopback, zero_copy
// (class net, no statistics of its own) and a disk, between the first
// interface and the others. The second interface's collisions, a 32-bit
// statistic, are about to wrap. The chain is the one kstat_open took: an
// interface plumbed afterwards is not seen.
size_t chain_index(size_t interface) { return interface == 0 ? 1 : interface + 3; }

const interface_system KSTATS = {
    [](const std::vector<std::string>& names, uint64_t start) {
        fake_kstat zero_copy = net("zero_copy");
        zero_copy.stats.clear();
        fake_sunos.kstats = {net("lo0"), zero_copy, {"sd", "sd0", "disk", {}}};
        for (size_t i = 0; i < names.size(); ++i)
            fake_sunos.kstats.insert(fake_sunos.kstats.begin() + static_cast<long>(chain_index(i)), net(names[i], start));
        if (names.size() > 1) stat(fake_sunos.kstats[chain_index(1)], "collisions") = (uint64_t{1} << 32) - 1;
        stat_OS_init();
        fake_sunos.kstats.push_back(net("hme9"));
    },
    [](size_t i, size_t k, uint64_t n) { stat(fake_sunos.kstats[chain_index(i)], COUNTER_STATISTICS[k]) += n; },
};

class SolarisBackend : public testing::Test {
protected:
    void SetUp() override { fake_sunos_reset(); }
};

TEST_F(SolarisBackend, EndsTheProgramWhenKstatCannotBeOpened) {
    fake_sunos.open_fails = true;
    EXPECT_EXIT(stat_init(), testing::ExitedWithCode(1), "^kstat_open fails: Permission denied\n$");
}

TEST_F(SolarisBackend, LoadIsTheOneMinuteAverageAndZeroWhenUnavailable) {
    stat_OS_init();
    expect_one_minute_load(fake_sunos);
}

TEST_F(SolarisBackend, NetworkInterfacesButNotLoopbackOrZeroCopyCountTheirOwnIncreases) {
    expect_each_counts_its_own(KSTATS, {"hme0", "iprb0", "qfe0"});
}

TEST_F(SolarisBackend, TwentyFiveInterfacesBesidesLoopbackAreStoredAndSurplusReportedOncePerSample) {
    expect_first_25_kept(KSTATS, "qfe", "Not enouth MAX_NETIF free: ", false);
}

TEST_F(SolarisBackend, FailedReadIsReportedAndTeachesNothing) {
    expect_failure_teaches_nothing(
        KSTATS, [] { fake_sunos.kstats[chain_index(2)].read_fails = true; },
        [] { fake_sunos.kstats[chain_index(2)].read_fails = false; }, "kstat_read: Input/output error\n");
}

// Interface k lacks statistic k.
TEST_F(SolarisBackend, MissingStatisticIsReportedAndCountsNothing) {
    const char* const reports[] = {"kstat_data_lookup rbytes64", "kstat_data_lookup obytes64", "kstat_data_lookup",
                                   "kstat_data_lookup", "kstat_data_lookup"};
    std::string messages;
    for (size_t k = 0; k < std::size(COUNTER_STATISTICS); ++k) {
        fake_sunos.kstats.push_back(net("hme" + std::to_string(k), 1000));
        drop(fake_sunos.kstats.back(), COUNTER_STATISTICS[k]);
        messages += std::string(reports[k]) + ": No such file or directory\n";
    }
    stat_OS_init();
    std::string first, second;
    take(stat_get_netif, &first);
    for (fake_kstat& k : fake_sunos.kstats)
        for (fake_named& s : k.stats) s.value += 7;
    stat_struct s = take(stat_get_netif, &second);
    EXPECT_EQ(first + second, messages + messages);

    ASSERT_EQ(s.netif_count, 5);
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(COUNTER_STATISTICS[i]);
        EXPECT_EQ(s.netif[i].name, "hme" + std::to_string(i));
        for (size_t c = 0; c < 5; ++c) EXPECT_EQ(s.netif[i].*STAT_NETIF_COUNTERS[c], c == i ? 0u : 7u);
    }
}

// A missing figure leaves memory zero and swap whole; pages that cannot be
// read at all leave swap unasked as well.
TEST_F(SolarisBackend, MemoryInUseIsEveryPageNotFree) {
    struct row {
        const char* desc;
        uint64_t total, free, used;
        bool has_total = true, has_free = true, readable = true;
        const char* messages = "";
    } const rows[] = {
        {"a quarter of the pages free", 2000000, 500000, 1500000},
        {"no page free", 2000000, 0, 2000000},
        {"every page free", 2000000, 2000000, 0},
        {"counts read apart overtake the total", 2000000, 2000001, 0},
        {"no pagestotal", 1000, 250, 0, false, true, true, "kstat_data_lookup pagestotal: No such file or directory\n"},
        {"no pagesfree", 1000, 250, 0, true, false, true, "kstat_data_lookup pagesfree: No such file or directory\n"},
        {"neither", 1000, 250, 0, false, false, true,
         "kstat_data_lookup pagestotal: No such file or directory\n"
         "kstat_data_lookup pagesfree: No such file or directory\n"},
        {"unreadable", 1000, 250, 0, true, true, false, "kstat_read pages.system_pages: Input/output error\n"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        fake_sunos_reset();
        fake_sunos.pagesize = 8192;
        fake_sunos.kstats = {net("hme0"), system_pages(r.total, r.free)};
        fake_kstat& pages = fake_sunos.kstats[1];
        if (!r.has_total) drop(pages, "pagestotal");
        if (!r.has_free) drop(pages, "pagesfree");
        pages.read_fails = !r.readable;
        fake_sunos.swap = {{"/dev/dsk/c0t0d0s1", 1000, 250}};
        stat_OS_init();
        std::string err;
        stat_struct s = take(stat_get_swap, &err);
        EXPECT_EQ(err, r.messages);
        EXPECT_EQ(s.mem.total, r.has_total && r.has_free && r.readable ? r.total * 8192 : 0u);
        EXPECT_EQ(s.mem.used, r.used * 8192);
        EXPECT_EQ(s.swap.total, r.readable ? 1000u * 8192 : 0u);
        EXPECT_EQ(s.swap.used, r.readable ? 750u * 8192 : 0u);
        EXPECT_EQ(fake_sunos.swapctl_calls > 0, r.readable);
    }
}

TEST_F(SolarisBackend, SwapSumsTheListedDevicesInBytes) {
    struct row {
        const char* desc;
        int devices;
        void (*arrange)();
        uint64_t total_pages, used_pages;
        const char* out;
    } const rows[] = {
        {"one device, a quarter of its pages free", 1, [] {}, 600000, 450000, ""},
        {"no swap device", 0, [] {}, 0, 0, ""},
        {"nineteen devices", 19, [] {}, 19 * 600000, 19 * 450000, ""},
        {"twenty devices", 20, [] {}, 0, 0, "Too many swap devices. Contact Author\r\n"},
        {"device added between count and listing", 3, [] { fake_sunos.added_after_count = 1; }, 3 * 600000,
         3 * 450000, ""},
        {"two devices added, the table is too small", 3, [] { fake_sunos.added_after_count = 2; }, 0, 0, ""},
        {"count fails", 2, [] { fake_sunos.getnswp_fails = true; }, 0, 0, ""},
        {"listing fails", 2, [] { fake_sunos.list_fails = true; }, 0, 0, ""},
        {"listing lists nothing", 2, [] { fake_sunos.list_lists_nothing = true; }, 0, 0, ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        fake_sunos_reset();
        fake_sunos.pagesize = 8192;
        fake_sunos.kstats = {system_pages(1000, 100)};
        for (int k = 0; k < r.devices; ++k)
            fake_sunos.swap.push_back({"/dev/dsk/c0t" + std::to_string(k) + "d0s1", 600000, 150000});
        r.arrange();
        stat_OS_init();
        std::string err, out;
        stat_struct s = take(stat_get_swap, &err, &out);
        EXPECT_EQ(err, "");
        EXPECT_EQ(out, r.out);
        EXPECT_EQ(s.swap.total, r.total_pages * 8192);
        EXPECT_EQ(s.swap.used, r.used_pages * 8192);
        EXPECT_EQ(s.mem.total, 1000u * 8192) << "memory is complete whatever swap does";
        EXPECT_EQ(s.mem.used, 900u * 8192);
    }
}

// The ticks of all processors together; a processor's raw kstat has no named
// statistics to look up.
TEST_F(SolarisBackend, CpuTimeSumsTheProcessorsStates) {
    fake_sunos.kstats = {cpu_stat(1, 9000, 10, 10, 10), net("hme0"), cpu_stat(0, 5000, 20, 20, 20)};
    stat_OS_init();
    expect_cpu_shares(
        [](stat_cpu_mode m, uint64_t ticks) {
            const int state = m == STAT_CPU_USER ? 1 : m == STAT_CPU_SYSTEM ? 2 : m == STAT_CPU_IOWAIT ? 3 : 0;
            fake_sunos.kstats[0].ticks[state] += static_cast<uint32_t>(ticks / 3);
            fake_sunos.kstats[2].ticks[state] += static_cast<uint32_t>(ticks - ticks / 3);
        },
        {STAT_CPU_USER, STAT_CPU_SYSTEM, STAT_CPU_IDLE, STAT_CPU_IOWAIT});
}

// In the order of the processors' numbers, not the chain's, through a handle
// opened and closed for the call: the sampling thread's stays as it was.
TEST_F(SolarisBackend, CpuSecondsOfEachProcessorFromAHandleOfTheirOwn) {
    const double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
    fake_sunos.kstats = {cpu_stat(1, 100, 200, 300, 400), net("hme0"), cpu_stat(0, 10, 20, 30, 4000000000u)};
    stat_OS_init();
    take(stat_get_cpu);
    cpu_seconds seen;
    ASSERT_TRUE(stat_get_cpu_seconds(cpu_seconds::add, &seen));
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "0 idle %g\n0 kernel %g\n0 user %g\n0 wait %g\n1 idle %g\n1 kernel %g\n1 user %g\n1 wait %g\n",
                  10 / hz, 30 / hz, 20 / hz, 4e9 / hz, 100 / hz, 300 / hz, 200 / hz, 400 / hz);
    EXPECT_EQ(seen.reported, expected);
    EXPECT_EQ(fake_sunos.handles_open, 1);
    fake_sunos.kstats[0].ticks[1] += 300;
    fake_sunos.kstats[0].ticks[0] += 100;
    EXPECT_EQ(take(stat_get_cpu).cpu.share[STAT_CPU_USER], 7500);

    fake_sunos.kstats[2].read_fails = true;
    cpu_seconds none;
    EXPECT_FALSE(stat_get_cpu_seconds(cpu_seconds::add, &none));
    std::string err;
    take(stat_get_cpu, &err);
    EXPECT_EQ(err, "kstat_read cpu_stat: Input/output error\n");
    fake_sunos.open_fails = true;
    EXPECT_FALSE(stat_get_cpu_seconds(cpu_seconds::add, &none));
    EXPECT_EQ(none.reported, "");
    EXPECT_EQ(fake_sunos.handles_open, 1);
}

}  // namespace
