// The Solaris backend on a simulated kernel statistics chain and swapctl.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "fake_kstat.h"
#include "stat/stat_wrapper.h"

namespace {

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

stat_struct take_netif() {
    stat_struct s;
    stat_cleanup(&s);
    stat_get_netif(&s);
    return s;
}

stat_struct take_swap() {
    stat_struct s;
    stat_cleanup(&s);
    stat_get_swap(&s);
    return s;
}

class SolarisBackend : public testing::Test {
protected:
    void SetUp() override { fake_sunos_reset(); }
};

int occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

TEST_F(SolarisBackend, EndsTheProgramWhenKstatCannotBeOpened) {
    fake_sunos.open_fails = true;
    EXPECT_EXIT(stat_init(), testing::ExitedWithCode(1), "^kstat_open fails: Permission denied\n$");
}

TEST_F(SolarisBackend, LoadIsTheOneMinuteAverageAndZeroWhenUnavailable) {
    stat_OS_init();
    fake_sunos.load[0] = 0.75;
    fake_sunos.load[1] = 2.0;
    fake_sunos.load[2] = 4.0;
    stat_struct s;
    stat_cleanup(&s);
    stat_get_load(&s);
    EXPECT_EQ(s.load, 0.75);

    fake_sunos.loadavg_fails = true;
    stat_get_load(&s);
    EXPECT_EQ(s.load, 0.0);
}

TEST_F(SolarisBackend, ReportsNetworkInterfacesButNotLoopbackOrZeroCopy) {
    fake_kstat disk;
    disk.module = "sd";
    disk.name = "sd0";
    disk.ks_class = "disk";
    fake_kstat zero_copy = net("zero_copy");
    zero_copy.stats.clear();
    fake_sunos.kstats = {system_pages(1000, 10), net("lo0"), net("hme0"), zero_copy, disk, net("iprb0")};
    stat_OS_init();

    testing::internal::CaptureStderr();
    stat_struct s = take_netif();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(s.netif_count, 2);
    EXPECT_STREQ(s.netif[0].name, "hme0");
    EXPECT_STREQ(s.netif[1].name, "iprb0");
    EXPECT_STREQ(s.netif[2].name, "");
}

TEST_F(SolarisBackend, CountersBecomeIncreasesFromTheirOwnStatistics) {
    fake_sunos.kstats = {net("hme0", 1000), net("hme1", 1000)};
    stat_OS_init();
    ASSERT_EQ(take_netif().netif_count, 2);

    // Each statistic grows by its own amount, so a counter taken from the
    // wrong statistic shows; the current values reach the backend only
    // through kstat_read.
    for (fake_kstat& k : fake_sunos.kstats) {
        stat(k, "ipackets") += 1;
        stat(k, "rbytes64") += 100;
        stat(k, "obytes64") += 200;
        stat(k, "collisions") += 3;
        stat(k, "ierrors") += 4;
        stat(k, "oerrors") += 5;
    }
    stat_struct second = take_netif();
    ASSERT_EQ(second.netif_count, 2);
    for (const stat_netif& n : second.netif) {
        if (!n.name[0]) continue;
        SCOPED_TRACE(n.name);
        EXPECT_EQ(n.received_bytes, 100u);
        EXPECT_EQ(n.send_bytes, 200u);
        EXPECT_EQ(n.collisions, 3u);
        EXPECT_EQ(n.input_errors, 4u);
        EXPECT_EQ(n.output_errors, 5u);
    }
}

TEST_F(SolarisBackend, TwentyFiveInterfacesBesidesLoopbackAreStoredAndSurplusReportedOncePerSample) {
    for (int interfaces : {25, 27}) {
        SCOPED_TRACE(interfaces);
        fake_sunos.kstats = {net("lo0")};
        for (int k = 0; k < interfaces; ++k) fake_sunos.kstats.push_back(net("qfe" + std::to_string(k), 1000));
        stat_OS_init();
        for (int sample = 1; sample <= 2; ++sample) {
            for (fake_kstat& k : fake_sunos.kstats) stat(k, "rbytes64") += 10;
            testing::internal::CaptureStderr();
            stat_struct s = take_netif();
            std::string err = testing::internal::GetCapturedStderr();
            EXPECT_EQ(occurrences(err, "Not enouth MAX_NETIF free: "), interfaces > 25 ? 1 : 0) << err;
            EXPECT_EQ(occurrences(err, "\n"), interfaces > 25 ? 1 : 0) << err;
            ASSERT_EQ(s.netif_count, 25);
            EXPECT_STREQ(s.netif[0].name, "qfe0");
            EXPECT_STREQ(s.netif[24].name, "qfe24");
            if (sample == 2) {
                EXPECT_EQ(s.netif[24].received_bytes, 10u);
            }
        }
    }
}

TEST_F(SolarisBackend, ThirtyTwoBitCounterThatWrappedGivesTheTrueIncrease) {
    fake_sunos.kstats = {net("hme0")};
    stat(fake_sunos.kstats[0], "collisions") = (uint64_t{1} << 32) - 296;
    stat_OS_init();
    take_netif();
    stat(fake_sunos.kstats[0], "collisions") = 200;
    EXPECT_EQ(take_netif().netif[0].collisions, 496u);
}

TEST_F(SolarisBackend, FailedReadIsReportedAndLeavesNoRawCounters) {
    fake_sunos.kstats = {net("hme0", 1000), net("hme1", 1000), net("hme2", 1000)};
    stat_OS_init();
    take_netif();

    stat(fake_sunos.kstats[0], "rbytes64") = 5000;
    fake_sunos.kstats[2].read_fails = true;
    stat_struct s;
    stat_cleanup(&s);
    testing::internal::CaptureStderr();
    stat_get_netif(&s);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "kstat_read: Input/output error\n");
    EXPECT_EQ(s.netif_count, 0);
    for (const stat_netif& n : s.netif) {
        EXPECT_STREQ(n.name, "");
        EXPECT_EQ(n.received_bytes | n.send_bytes | n.collisions | n.input_errors | n.output_errors, 0u);
    }

    // The failed sample taught the remembered counters nothing.
    fake_sunos.kstats[2].read_fails = false;
    stat(fake_sunos.kstats[0], "rbytes64") = 6000;
    EXPECT_EQ(take_netif().netif[0].received_bytes, 5000u);
}

TEST_F(SolarisBackend, MissingStatisticIsReportedAndCountsNothing) {
    struct row {
        const char* interface;
        const char* missing;
        uint64_t stat_netif::*field;
        const char* message;
    } const rows[] = {
        {"hme0", "rbytes64", &stat_netif::received_bytes, "kstat_data_lookup rbytes64: No such file or directory\n"},
        {"hme1", "obytes64", &stat_netif::send_bytes, "kstat_data_lookup obytes64: No such file or directory\n"},
        {"hme2", "collisions", &stat_netif::collisions, "kstat_data_lookup: No such file or directory\n"},
        {"hme3", "ierrors", &stat_netif::input_errors, "kstat_data_lookup: No such file or directory\n"},
        {"hme4", "oerrors", &stat_netif::output_errors, "kstat_data_lookup: No such file or directory\n"},
    };
    std::string messages;
    for (const row& r : rows) {
        fake_sunos.kstats.push_back(net(r.interface, 1000));
        drop(fake_sunos.kstats.back(), r.missing);
        messages += r.message;
    }
    stat_OS_init();
    testing::internal::CaptureStderr();
    take_netif();
    for (fake_kstat& k : fake_sunos.kstats)
        for (fake_named& s : k.stats) s.value += 7;
    stat_struct s = take_netif();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), messages + messages);

    ASSERT_EQ(s.netif_count, 5);
    uint64_t stat_netif::*counters[] = {&stat_netif::received_bytes, &stat_netif::send_bytes,
                                        &stat_netif::collisions, &stat_netif::input_errors,
                                        &stat_netif::output_errors};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(rows[i].missing);
        EXPECT_STREQ(s.netif[i].name, rows[i].interface);
        for (auto counter : counters) EXPECT_EQ(s.netif[i].*counter, counter == rows[i].field ? 0u : 7u);
    }
}

TEST_F(SolarisBackend, InterfacePlumbedAfterStartIsNotSeen) {
    fake_sunos.kstats = {net("hme0")};
    stat_OS_init();
    fake_sunos.kstats.push_back(net("hme1"));
    stat_struct s = take_netif();
    EXPECT_EQ(s.netif_count, 1);
    EXPECT_STREQ(s.netif[1].name, "");
}

TEST_F(SolarisBackend, MemoryInUseIsEveryPageNotFree) {
    struct row {
        const char* desc;
        uint64_t total, free, used;
    } const rows[] = {
        {"a quarter of the pages free", 2000000, 500000, 1500000},
        {"no page free", 2000000, 0, 2000000},
        {"every page free", 2000000, 2000000, 0},
        {"counts read apart overtake the total", 2000000, 2000001, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        fake_sunos_reset();
        fake_sunos.pagesize = 8192;
        fake_sunos.kstats = {net("hme0"), system_pages(r.total, r.free)};
        stat_OS_init();
        stat_struct s = take_swap();
        EXPECT_EQ(s.mem.total, r.total * 8192);
        EXPECT_EQ(s.mem.used, r.used * 8192);
    }
}

TEST_F(SolarisBackend, MissingPageStatisticLeavesMemoryZeroAndSwapWhole) {
    struct row {
        const char* desc;
        bool total, free;
        const char* messages;
    } const rows[] = {
        {"no pagestotal", false, true, "kstat_data_lookup pagestotal: No such file or directory\n"},
        {"no pagesfree", true, false, "kstat_data_lookup pagesfree: No such file or directory\n"},
        {"neither", false, false,
         "kstat_data_lookup pagestotal: No such file or directory\n"
         "kstat_data_lookup pagesfree: No such file or directory\n"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        fake_sunos_reset();
        fake_sunos.kstats = {system_pages(1000, 250)};
        if (!r.total) drop(fake_sunos.kstats[0], "pagestotal");
        if (!r.free) drop(fake_sunos.kstats[0], "pagesfree");
        fake_sunos.swap = {{"/dev/dsk/c0t0d0s1", 1000, 250}};
        stat_OS_init();
        testing::internal::CaptureStderr();
        stat_struct s = take_swap();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), r.messages);
        EXPECT_EQ(s.mem.total, 0u);
        EXPECT_EQ(s.mem.used, 0u);
        EXPECT_EQ(s.swap.total, 1000u * 4096);
        EXPECT_EQ(s.swap.used, 750u * 4096);
    }
}

TEST_F(SolarisBackend, UnreadablePageStatisticsLeaveMemoryAndSwapZero) {
    fake_sunos.kstats = {system_pages(1000, 250)};
    fake_sunos.kstats[0].read_fails = true;
    fake_sunos.swap = {{"/dev/dsk/c0t0d0s1", 1000, 250}};
    stat_OS_init();
    testing::internal::CaptureStderr();
    stat_struct s = take_swap();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "kstat_read pages.system_pages: Input/output error\n");
    EXPECT_EQ(s.mem.total | s.mem.used | s.swap.total | s.swap.used, 0u);
    EXPECT_EQ(fake_sunos.swapctl_calls, 0);
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
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        stat_struct s = take_swap();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), r.out);
        EXPECT_EQ(s.swap.total, r.total_pages * 8192);
        EXPECT_EQ(s.swap.used, r.used_pages * 8192);
        EXPECT_EQ(s.mem.total, 1000u * 8192) << "memory is complete whatever swap does";
        EXPECT_EQ(s.mem.used, 900u * 8192);
    }
}

}  // namespace
