// The FreeBSD backend on a simulated kernel. Built for release 4, for 5 to 10
// and for 11 and later, so every test here runs on all three variants but
// those of one release's own interface names, built for that release alone.
#include <fcntl.h>

#include <string>
#include <vector>

#include "backend_test.h"
#include "fake_kernel.h"

namespace {

class FreeBSDStart : public testing::Test {
protected:
    void SetUp() override { fake_freebsd_reset(); }
};

class FreeBSDBackend : public FreeBSDStart {
protected:
    void SetUp() override {
        FreeBSDStart::SetUp();
        stat_OS_init();
    }
};

// The simulated interface's counters in the order of STAT_NETIF_COUNTERS.
constexpr uint64_t fake_ifnet::*IFNET_COUNTERS[] = {&fake_ifnet::ibytes, &fake_ifnet::obytes, &fake_ifnet::collisions,
                                                    &fake_ifnet::ierrors, &fake_ifnet::oerrors};

fake_ifnet interface(const std::string& name, uint64_t start = 0) {
    fake_ifnet f;
    f.name = name;
    for (auto c : IFNET_COUNTERS) f.*c = start;
    return f;
}

const interface_system KERNEL = {
    [](const std::vector<std::string>& names, uint64_t start) {
        fake_freebsd.interfaces.clear();
        for (const std::string& name : names) fake_freebsd.interfaces.push_back(interface(name, start));
    },
    [](size_t i, size_t k, uint64_t n) { fake_freebsd.interfaces[i].*IFNET_COUNTERS[k] += n; },
};

TEST_F(FreeBSDStart, OpensTheKernelReadOnlyAndItsMemoryOnlyBefore11) {
    stat_init();
    EXPECT_EQ(fake_freebsd.open_calls, 1);
    EXPECT_EQ(fake_freebsd.opened_live_kernel, !fake_freebsd_reads_ifaddrs);
    EXPECT_EQ(fake_freebsd.opened_kernel_memory, !fake_freebsd_reads_ifaddrs);
    EXPECT_EQ(fake_freebsd.open_flags, O_RDONLY);
}

TEST_F(FreeBSDStart, EndsTheProgramWhenKernelMemoryCannotBeOpened) {
    fake_freebsd.open_fails = true;
    EXPECT_EXIT(stat_OS_init(), testing::ExitedWithCode(1),
                "^kvm_open fails \\(maybe permissions on /dev/\\*mem\\): Permission denied\n$");
}

TEST_F(FreeBSDBackend, LoadIsTheOneMinuteAverageAndZeroWhenUnavailable) { expect_one_minute_load(fake_freebsd); }

// A live kernel's libkvm skips name-list entries already found; nlist(3) on
// a kernel file looks them all up again. From 11 on, getifaddrs mixes address
// entries, with and without data, in with the interfaces.
TEST_F(FreeBSDBackend, EverySampleTakesEveryInterfaceInListOrderWithItsIncreases) {
    for (bool looks_up_all : {false, true}) {
        SCOPED_TRACE(looks_up_all ? "every entry looked up again" : "found entries skipped");
        fake_freebsd.nlist_looks_up_all = looks_up_all;
        expect_each_counts_its_own(KERNEL, {"lo0", "em0", "em1"});
    }
}

TEST_F(FreeBSDBackend, TwentyFiveInterfacesAreStoredAndEverySurplusOneReportedInEverySample) {
    expect_first_25_kept(KERNEL, "em", "Not enouth MAX_NETIF. Increase Value: ", true);
    EXPECT_EQ(fake_freebsd.ifaddrs_lists_held, 0);
}

TEST_F(FreeBSDBackend, FailedWalksAreReportedAndTeachNothing) {
    enum releases { kernel_list, driver_names, ifaddrs };
    struct row {
        const char* desc;
        releases on;
        void (*arrange)();
        const char* message;
        bool walked;  // slots were filled before the failure
    } const rows[] = {
        {"name list lookup fails", kernel_list, [] { fake_freebsd.nlist_fails = true; },
         "Could not find netif symbols: No such file or directory\n", false},
        {"kernel has no ifnet symbol", kernel_list, [] { fake_freebsd.ifnet_symbol_absent = true; }, "", false},
        {"list head unreadable", kernel_list, [] { fake_freebsd.head_unreadable = true; },
         "Could not read ifnethead: Bad address\n", false},
        {"third record unreadable", kernel_list, [] { fake_freebsd.unreadable_ifnet = 2; },
         "Could not read ifnet: Bad address\n", true},
        {"list leads back into itself", kernel_list, [] { fake_freebsd.loop_back_to = 1; }, "", true},
        {"second driver name unreadable", driver_names, [] { fake_freebsd.unreadable_driver_name = 1; },
         "kvm_read-if_name: Bad address\n", true},
        {"getifaddrs fails", ifaddrs, [] { fake_freebsd.getifaddrs_fails = true; },
         "Could not read ifnet: Cannot allocate memory\n", false},
    };
    const bool release[] = {!fake_freebsd_reads_ifaddrs, fake_freebsd_driver_names, fake_freebsd_reads_ifaddrs};
    for (const row& r : rows) {
        if (!release[r.on]) continue;
        SCOPED_TRACE(r.desc);
        fake_freebsd_reset();
        auto mend = [] {
            const auto interfaces = fake_freebsd.interfaces;
            fake_freebsd_reset();
            fake_freebsd.interfaces = interfaces;
        };
        expect_failure_teaches_nothing(KERNEL, r.arrange, mend, r.message, r.walked);
    }
}

TEST_F(FreeBSDBackend, SwapSumsTheDeviceRowsInBytes) {
    struct row {
        const char* desc;
        int devices;
        bool fails;
        uint64_t total_pages, used_pages;
        bool warned;
    } const rows[] = {
        {"no swap device", 0, false, 0, 0, false},
        {"one device", 1, false, 600000, 1000, false},
        {"eight devices", 8, false, 4800000, 36000, false},
        {"nine devices fill the table", 9, false, 5400000, 45000, true},
        {"kvm_getswapinfo fails", 3, true, 0, 0, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        fake_freebsd.pagesize = 8192;
        fake_freebsd.page_count.value = 1000;
        fake_freebsd.swapinfo_fails = r.fails;
        fake_freebsd.swap.clear();
        for (int k = 0; k < r.devices; ++k)
            fake_freebsd.swap.push_back({"ad0s1b" + std::to_string(k), 600000, 1000 * (k + 1)});
        std::string err, out;
        stat_struct s = take(stat_get_swap, &err, &out);
        EXPECT_EQ(err, "");
        EXPECT_EQ(out, r.warned ? "Too many swapdevices. Increase Value - Ask Author.\r\n" : "");
        EXPECT_EQ(s.swap.total, r.total_pages * 8192);
        EXPECT_EQ(s.swap.used, r.used_pages * 8192);
        EXPECT_EQ(s.mem.total, r.fails ? 0u : 1000u * 8192);
    }
}

// Inactive pages count as free; a page count that is missing or comes in a
// width no number has leaves memory zero, and swap whole whatever memory does.
// A page count may come 4 or 8 bytes wide; a reader of 4 bytes alone would
// get ENOMEM for the 8.
TEST_F(FreeBSDBackend, MemoryInUseIsEveryPageNeitherFreeNorInactive) {
    struct row {
        const char* desc;
        uint64_t pages, free, inactive;
        uint64_t used_pages;
        fake_sysctl fake_freebsd_kernel::*odd = nullptr;
        size_t width = 0;  // of odd; 0: absent
        const char* message = "";
    } const rows[] = {
        {"half the pages inactive, none free", 2000000, 0, 1000000, 1000000},
        {"neither free nor inactive pages", 2000000, 0, 0, 2000000},
        {"some free, some inactive", 2000000, 300000, 200000, 1500000},
        {"counts read apart overtake the total", 2000000, 1500000, 600000, 0},
        {"no page count", 1000, 100, 100, 0, &fake_freebsd_kernel::page_count, 0,
         "symbol vm.stats.vm.v_page_count not found: No such file or directory\n"},
        {"no free count", 1000, 100, 100, 0, &fake_freebsd_kernel::free_count, 0,
         "symbol vm.stats.vm.v_free_count not found: No such file or directory\n"},
        {"no inactive count", 1000, 100, 100, 0, &fake_freebsd_kernel::inactive_count, 0,
         "symbol vm.stats.vm.v_inactive_count not found: No such file or directory\n"},
        {"a page count of 8 bytes, past 2^32 pages", (1ull << 32) + 1000, 500, 300, (1ull << 32) + 200,
         &fake_freebsd_kernel::page_count, 8},
        {"a free count of 2 bytes is refused", 1000, 100, 100, 0, &fake_freebsd_kernel::free_count, 2,
         "symbol vm.stats.vm.v_free_count not found: Invalid argument\n"},
        {"an inactive count of 16 bytes does not fit", 1000, 100, 100, 0, &fake_freebsd_kernel::inactive_count, 16,
         "symbol vm.stats.vm.v_inactive_count not found: Cannot allocate memory\n"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        fake_freebsd_reset();
        fake_freebsd.swap = {{"ad0s1b", 1000, 250}};
        fake_freebsd.page_count.value = r.pages;
        fake_freebsd.free_count.value = r.free;
        fake_freebsd.inactive_count.value = r.inactive;
        if (r.odd) {
            (fake_freebsd.*r.odd).width = r.width;
            (fake_freebsd.*r.odd).present = r.width != 0;
        }
        std::string err;
        stat_struct s = take(stat_get_swap, &err);
        EXPECT_EQ(err, r.message);
        EXPECT_EQ(s.mem.total, *r.message ? 0u : r.pages * 4096);
        EXPECT_EQ(s.mem.used, r.used_pages * 4096);
        EXPECT_EQ(s.swap.total, 1000u * 4096);
        EXPECT_EQ(s.swap.used, 250u * 4096);
    }
}

TEST_F(FreeBSDBackend, CpuTimeFromKernCpTimeOfEitherWidth) {
    for (size_t width : {8, 4}) {
        SCOPED_TRACE(width);
        fake_freebsd.long_width = width;
        fake_freebsd.cpu_ticks = {{100, 5, 50, 7, 9000}, {100, 5, 50, 7, 9000}};
        expect_cpu_shares(
            [](stat_cpu_mode m, uint64_t ticks) {
                const int state = m == STAT_CPU_USER        ? 0
                                  : m == STAT_CPU_NICE      ? 1
                                  : m == STAT_CPU_SYSTEM    ? 2
                                  : m == STAT_CPU_INTERRUPT ? 3
                                                            : 4;
                fake_freebsd.cpu_ticks[1][state] += ticks;
            },
            {STAT_CPU_USER, STAT_CPU_NICE, STAT_CPU_SYSTEM, STAT_CPU_INTERRUPT, STAT_CPU_IDLE});
    }
    fake_freebsd.missing = "kern.cp_time";
    std::string err;
    take(stat_get_cpu, &err);
    EXPECT_EQ(err, "Could not read kern.cp_time: No such file or directory\n");
}

// Seconds by the statistics clock; the row of a number no processor has is
// left out.
TEST_F(FreeBSDBackend, CpuSecondsOfEachProcessorFromKernCpTimes) {
    const char* seconds = "0 user 1\n0 nice 2\n0 system 3\n0 interrupt 0\n0 idle 10\n"
                          "2 user 0\n2 nice 0\n2 system 0\n2 interrupt 1\n2 idle 1e+06\n";
    struct row {
        const char* desc;
        void (*arrange)();
        const char* reported;  // null: nothing, and false
    } const rows[] = {
        {"longs of 8 bytes", [] {}, seconds},
        {"longs of 4 bytes", [] { fake_freebsd.long_width = 4; }, seconds},
        {"no statistics clock of its own", [] { fake_freebsd.stathz = 0, fake_freebsd.hz = 127; }, seconds},
        {"no kern.cp_times", [] { fake_freebsd.missing = "kern.cp_times"; }, nullptr},
        {"no kern.clockrate", [] { fake_freebsd.missing = "kern.clockrate"; }, nullptr},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        fake_freebsd_reset();
        fake_freebsd.cpu_ticks = {{127, 254, 381, 0, 1270}, {}, {0, 0, 0, 127, 127000000}};
        r.arrange();
        cpu_seconds seen;
        EXPECT_EQ(stat_get_cpu_seconds(cpu_seconds::add, &seen), r.reported != nullptr);
        EXPECT_EQ(seen.reported, r.reported ? r.reported : "");
    }
}

#if KELP_FAKE_FREEBSD_RELEASE < 5
// Release 4 keeps the driver name in kernel memory and the unit apart.
TEST_F(FreeBSDBackend, DriverNameAndUnitMakeTheNameOnRelease4) {
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyz0123456789ABCD";  // 40 bytes, none a terminator
    struct row {
        const char* desc;
        std::string driver;
        int unit;
        std::string name;
    } const rows[] = {
        {"loopback", "lo", 0, "lo0"},
        {"unit above 9", "vlan", 123, "vlan123"},
        {"driver name of exactly 30 bytes", alphabet.substr(0, 30), 5, alphabet.substr(0, 30) + "5"},
        {"driver name unterminated within 30 bytes", alphabet, 7, alphabet.substr(0, 30) + "7"},
        {"name cut to the 31 characters there is room for", alphabet, 12, alphabet.substr(0, 30) + "1"},
    };
    for (const row& r : rows) {
        fake_ifnet f;
        f.driver = r.driver;
        f.unit = r.unit;
        fake_freebsd.interfaces.push_back(f);
    }
    std::string err;
    stat_struct s = take(stat_get_netif, &err);
    EXPECT_EQ(err, "");
    ASSERT_EQ(s.netif_count, 5);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(rows[i].desc);
        EXPECT_EQ(std::string(s.netif[i].name), rows[i].name);
    }
}
#endif

#if KELP_FAKE_FREEBSD_RELEASE >= 11
// From 11 on the interfaces are the AF_LINK entries of getifaddrs, whose list
// goes back on every path.
TEST_F(FreeBSDBackend, TheLinkEntriesWithDataAreTheInterfacesFrom11On) {
    const std::string long_name(40, 'v');
    fake_ifnet no_data = interface("em0", 500);
    no_data.no_link_data = true;
    struct row {
        const char* desc;
        std::vector<fake_ifnet> interfaces;
        std::vector<std::string> names;
    } const rows[] = {
        {"an interface without data is skipped", {interface("lo0", 10), no_data, interface("em1", 10)}, {"lo0", "em1"}},
        {"a name cut to the 31 characters there is room for", {interface(long_name, 10)}, {long_name.substr(0, 31)}},
        {"no interfaces at all", {}, {}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        fake_freebsd.interfaces = r.interfaces;
        take(stat_get_netif);
        for (fake_ifnet& f : fake_freebsd.interfaces) f.obytes += 70;
        std::string err;
        stat_struct s = take(stat_get_netif, &err);
        EXPECT_EQ(err, "");
        ASSERT_EQ(s.netif_count, static_cast<int>(r.names.size()));
        for (size_t i = 0; i < r.names.size(); ++i) {
            EXPECT_EQ(s.netif[i].name, r.names[i]);
            EXPECT_EQ(s.netif[i].send_bytes, 70u);
        }
        EXPECT_EQ(fake_freebsd.ifaddrs_lists_held, 0);
    }
}
#endif

}  // namespace
