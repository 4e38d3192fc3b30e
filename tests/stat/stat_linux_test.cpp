#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "backend_test.h"
#include "proc_probe.h"
#include "scratch.h"
#include "stat/stat_linux.h"

namespace {

const char HEADER[] =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls "
    "carrier compressed\n";

// One /proc/net/dev line; the receive bytes may follow the colon without a blank.
std::string line(const std::string& name, uint64_t rx, uint64_t tx, uint64_t ierr = 0, uint64_t oerr = 0,
                 uint64_t colls = 0, bool glued = false) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%6s:%s%llu 11 %llu 0 0 0 0 0 %llu 22 %llu 0 0 %llu 0 0\n", name.c_str(),
                  glued ? "" : " ", static_cast<unsigned long long>(rx), static_cast<unsigned long long>(ierr),
                  static_cast<unsigned long long>(tx), static_cast<unsigned long long>(oerr),
                  static_cast<unsigned long long>(colls));
    return buf;
}

class LinuxBackend : public ::testing::Test {
protected:
    scratch_dir scratch;
    const std::string root = scratch.path;
    void SetUp() override {
        ASSERT_EQ(mkdir((root + "/proc").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((root + "/proc/net").c_str(), 0755), 0);
        stat_linux_set_root(root.c_str());
        stat_forget();
    }
    void TearDown() override {
        stat_linux_set_root("");
    }
    void netdev(const std::string& body) { std::ofstream(root + "/proc/net/dev") << body; }
    void proc_stat(const std::string& body) { std::ofstream(root + "/proc/stat") << body; }

    // /proc/net/dev for the shared interface rules, written anew on every change.
    std::vector<std::pair<std::string, std::array<uint64_t, 5>>> interfaces;
    void write_netdev() {
        std::string text = HEADER;
        for (const auto& [name, c] : interfaces) text += line(name, c[0], c[1], c[3], c[4], c[2]);
        netdev(text);
    }
    const interface_system netdev_file = {
        [this](const std::vector<std::string>& names, uint64_t start) {
            interfaces.clear();
            for (const std::string& name : names) interfaces.push_back({name, {start, start, start, start, start}});
            write_netdev();
        },
        [this](size_t i, size_t k, uint64_t n) {
            interfaces[i].second[k] += n;
            write_netdev();
        },
    };
};

TEST_F(LinuxBackend, EverySampleTakesEveryInterfaceWithItsIncreases) {
    expect_each_counts_its_own(netdev_file, {"lo", "eth0", "eth1"});
}

TEST_F(LinuxBackend, ParsesEveryInterfaceInFileOrder) {
    std::string text = std::string(HEADER) + line("lo", 100, 200) + line("eth0", 123456789012, 5, 0, 0, 0, true) +
                       line("eth0:1", 7, 8) + line("abcdefghijklmno", 9, 10);
    stat_struct s;
    stat_cleanup(&s);
    ASSERT_EQ(stat_linux_parse_netdev(text.data(), text.size(), &s), 4);
    EXPECT_STREQ(s.netif[0].name, "lo");
    EXPECT_STREQ(s.netif[1].name, "eth0");
    EXPECT_EQ(s.netif[1].received_bytes, 123456789012u);
    EXPECT_STREQ(s.netif[2].name, "eth0:1") << "split at the last colon";
    EXPECT_STREQ(s.netif[3].name, "abcdefghijklmno");
    EXPECT_EQ(s.netif[4].name[0], '\0');
}

TEST_F(LinuxBackend, MalformedNetdevTexts) {
    const std::string COUNTERS = ": 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n";
    struct { const char* desc; std::string text; } cases[] = {
        {"empty", ""},
        {"header only half", "Inter-|   Receive\n"},
        {"no header", line("eth0", 1, 2) + line("eth1", 1, 2) + line("eth2", 1, 2)},
        {"truncated line", std::string(HEADER) + line("eth0", 1, 2) + "  eth1: 12 13 14"},
        {"no colon", std::string(HEADER) + "  eth0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n"},
        {"word among counters", std::string(HEADER) + "eth0: 1 2 x 4 5 6 7 8 9 10 11 12 13 14 15 16\n"},
        {"counter beyond 64 bits", std::string(HEADER) + "eth0: 99999999999999999999 2 3 4 5 6 7 8 9 10 11 12 "
                                                           "13 14 15 16\n"},
        {"seventeen counters", std::string(HEADER) + "eth0: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17\n"},
        {"empty name", std::string(HEADER) + "   : 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n"},
        {"name of 32 characters", std::string(HEADER) + line(std::string(32, 'n'), 1, 2)},
        // Found by fuzzing: a NUL in a name left it cut short, or empty, which marks an unused slot.
        {"NUL first in a name", std::string(HEADER) + std::string("\0eth1", 5) + COUNTERS},
        {"NUL after a tab", std::string(HEADER) + std::string("\t\0eth1", 6) + COUNTERS},
        {"NUL inside a name", std::string(HEADER) + std::string("eth\0" "1", 5) + COUNTERS},
        {"NUL last in a name", std::string(HEADER) + std::string("eth1\0", 5) + COUNTERS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desc);
        stat_struct s;
        stat_cleanup(&s);
        EXPECT_EQ(stat_linux_parse_netdev(c.text.data(), c.text.size(), &s), -1);
    }
    const std::string plain = HEADER + std::string("eth1") + COUNTERS;  // so the NUL alone decides
    stat_struct s;
    EXPECT_EQ(stat_linux_parse_netdev(plain.data(), plain.size(), &s), 1);
}

TEST_F(LinuxBackend, KeepsTheFirst25AndReportsEachSurplus) {
    expect_first_25_kept(netdev_file, "veth", "Not enouth MAX_NETIF. Increase Value: ", true);
}

// A file cut in the middle of a line, and one that is gone when it is opened
// again.
TEST_F(LinuxBackend, BadOrMissingNetdevIsReportedAndTeachesNothing) {
    expect_failure_teaches_nothing(
        netdev_file, [&] { netdev(std::string(HEADER) + line("if0", 9, 9) + "  if1: 5 6"); },
        [&] { write_netdev(); }, "Could not parse /proc/net/dev\r\n");
    expect_failure_teaches_nothing(
        netdev_file,
        [&] {
            std::remove((root + "/proc/net/dev").c_str());
            stat_linux_set_root(root.c_str());
        },
        [&] { write_netdev(); }, "Could not read /proc/net/dev: No such file or directory\n");
}

TEST_F(LinuxBackend, MemoryAndSwapInBytes) {
    struct { const char* desc; std::string text; int rc; stat_swap mem, swap; } cases[] = {
        {"with MemAvailable",
         "MemTotal:       16000 kB\nMemFree:         1000 kB\nMemAvailable:    4000 kB\nBuffers: 1 kB\n"
         "Inactive:        2000 kB\nSwapTotal:       8000 kB\nSwapFree:        6000 kB\n",
         0, {16000 * 1024, 12000 * 1024}, {8000 * 1024, 2000 * 1024}},
        {"old kernel without MemAvailable",
         "MemTotal:       16000 kB\nMemFree:         1000 kB\nInactive:        2000 kB\n"
         "Inactive(anon):  500 kB\nSwapTotal:          0 kB\nSwapFree:            0 kB\n",
         0, {16000 * 1024, 13000 * 1024}, {0, 0}},
        {"truncated before swap", "MemTotal:       16000 kB\nMemFree:         1000 kB\nMemAvail", -1, {0, 0}, {0, 0}},
        {"garbage figure", "MemTotal: lots kB\nMemAvailable: 1 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n", -1, {0, 0}, {0, 0}},
        {"free above total clamps at 0",
         "MemTotal: 100 kB\nMemAvailable: 200 kB\nSwapTotal: 10 kB\nSwapFree: 20 kB\n", 0, {100 * 1024, 0},
         {10 * 1024, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desc);
        stat_swap mem{1, 1}, swap{1, 1};
        EXPECT_EQ(stat_linux_parse_meminfo(c.text.data(), c.text.size(), &mem, &swap), c.rc);
        EXPECT_EQ(mem.total, c.mem.total);
        EXPECT_EQ(mem.used, c.mem.used);
        EXPECT_EQ(swap.total, c.swap.total);
        EXPECT_EQ(swap.used, c.swap.used);
    }
}

// Rows are the first lines of two samples: fields missing on old kernels
// read as 0. Today's ten fields go through the rule every backend keeps.
TEST_F(LinuxBackend, ProcStatGivesTheSharesOfEachModesIncrease) {
    struct {
        const char* desc;
        std::string before, after;
        uint16_t share[STAT_CPU_MODES];  // user, nice, system, interrupt, idle, iowait, steal
    } const cases[] = {
        {"2.4: four fields, the text after the first line cut anywhere", "cpu  0 0 0 0\n",
         "cpu  2500 0 2500 5000\ncpu0 12", {2500, 0, 2500, 0, 5000, 0, 0}},
        {"2.6.0 to 2.6.10: no steal", "cpu  0 0 0 0 0 0 0\n", "cpu  1000 0 1000 6000 1000 500 500\n",
         {1000, 0, 1000, 1000, 6000, 1000, 0}},
        {"a wrap-free increase beyond 2^32", "cpu  4294967000 0 0 4294967000 0 0 0 0\n",
         "cpu  17179868000 0 0 8589934000 0 0 0 0\n", {7500, 0, 0, 0, 2500, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desc);
        stat_forget();
        stat_struct s;
        stat_cleanup(&s);
        uint64_t total[STAT_CPU_MODES];
        for (const std::string* text : {&c.before, &c.after}) {
            ASSERT_EQ(stat_linux_parse_stat(text->data(), text->size(), total), 0);
            stat_cpu_diff(total, &s);
        }
        for (int m = 0; m < STAT_CPU_MODES; ++m) EXPECT_EQ(s.cpu.share[m], c.share[m]) << "mode " << m;
    }
}

TEST_F(LinuxBackend, MalformedProcStatTexts) {
    struct { const char* desc; std::string text; } const cases[] = {
        {"processors' line missing", "intr 1 2 3\n"},
        {"one processor's line first", "cpu0 1 2 3 4\ncpu  1 2 3 4\n"},
        {"three fields", "cpu  1 2 3\n"},
        {"word among fields", "cpu  1 2 x 4\n"},
        {"no blank after the name", "cpux 1 2 3 4\n"},
        {"field beyond 64 bits", "cpu  99999999999999999999 2 3 4\n"},
        {"irq and softirq beyond 64 bits", "cpu  1 2 3 4 5 18446744073709551615 1 0\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desc);
        uint64_t total[STAT_CPU_MODES] = {1, 1, 1, 1, 1, 1, 1};
        EXPECT_EQ(stat_linux_parse_stat(c.text.data(), c.text.size(), total), -1);
        for (uint64_t t : total) EXPECT_EQ(t, 0u);
    }
}

TEST_F(LinuxBackend, CpuTimeThroughTheSharedRule) {
    uint64_t field[10] = {500, 500, 500, 500, 500, 500, 500, 500, 500, 500};
    auto write = [&] {
        std::string line = "cpu ";
        for (uint64_t f : field) line += " " + std::to_string(f);
        proc_stat(line + "\ncpu0 1 2 3 4 5 6 7 8 9 10\nintr 5 6 7\n");
    };
    write();
    // The kernel's fields: user nice system idle iowait irq softirq steal guest guest_nice.
    expect_cpu_shares(
        [&](stat_cpu_mode m, uint64_t ticks) {
            switch (m) {
                case STAT_CPU_USER: field[0] += ticks, field[8] += ticks; break;  // guest time is inside user
                case STAT_CPU_NICE: field[1] += ticks, field[9] += ticks; break;
                case STAT_CPU_SYSTEM: field[2] += ticks; break;
                case STAT_CPU_IDLE: field[3] += ticks; break;
                case STAT_CPU_IOWAIT: field[4] += ticks; break;
                case STAT_CPU_INTERRUPT: field[5] += ticks / 3, field[6] += ticks - ticks / 3; break;
                case STAT_CPU_STEAL: field[7] += ticks; break;
                default: ADD_FAILURE() << m;
            }
            write();
        },
        {STAT_CPU_USER, STAT_CPU_NICE, STAT_CPU_SYSTEM, STAT_CPU_INTERRUPT, STAT_CPU_IDLE, STAT_CPU_IOWAIT,
         STAT_CPU_STEAL});
}

TEST_F(LinuxBackend, UnreadableOrMalformedProcStatIsReported) {
    std::string err;
    take(stat_get_cpu, &err);
    EXPECT_EQ(err, "Could not read /proc/stat: No such file or directory\n");
    proc_stat("cpu  1 2 3\n");
    take(stat_get_cpu, &err);
    EXPECT_EQ(err, "Could not parse /proc/stat\r\n");
}

// Each processor's line at the time of the call, in seconds: a processor that
// is offline has no line, and the interrupt counts after the lines of a large
// machine are not needed.
TEST_F(LinuxBackend, CpuSecondsOfEachProcessorUnderTheKernelsNames) {
    const double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
    std::string many = "cpu  1 2 3 4 5 6 7 8 9 10\n";
    for (int cpu = 0; cpu < 2000; ++cpu) many += "cpu" + std::to_string(cpu) + " 1 2 3 4 5 6 7 8 9 10\n";
    many += "intr " + std::string(1 << 20, '1') + "\n";
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "0 user %g\n0 nice %g\n0 system %g\n0 idle %g\n0 iowait %g\n0 irq %g\n0 softirq %g\n"
                  "0 steal %g\n3 user %g\n3 nice %g\n3 system %g\n3 idle %g\n",
                  150 / hz, 2 / hz, 3 / hz, 4 / hz, 5 / hz, 6 / hz, 7 / hz, 8 / hz, 9 / hz, 0.0, 1 / hz, 1e12 / hz);
    struct {
        const char* desc;
        std::string file;
        bool read;
        std::string reported;
    } const cases[] = {
        {"cpu1 and cpu2 offline, cpu3 from an old kernel",
         "cpu  1 2 3 4\ncpu0 150 2 3 4 5 6 7 8 9 10 11\ncpu3 9 0 1 1000000000000\nintr 1 2 3\nctxt 9\n", true,
         expected},
        {"2000 processors", many, true, ""},
        {"a processor's line malformed", "cpu  1 2 3 4\ncpu0 1 2 3 4\ncpu1 1 2 x 4\nintr 1\n", false, ""},
        {"no line of all processors", "cpu0 1 2 3 4\nintr 1\n", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desc);
        proc_stat(c.file);
        cpu_seconds seen;
        EXPECT_EQ(stat_get_cpu_seconds(cpu_seconds::add, &seen), c.read);
        if (c.file == many)
            EXPECT_EQ(blackbox::count(seen.reported, "\n"), 2000u * 8);
        else
            EXPECT_EQ(seen.reported, c.reported);
    }
}

TEST_F(LinuxBackend, UnreadableMeminfoGivesZeros) {
    stat_struct s;
    stat_cleanup(&s);
    s.mem = {5, 5};
    s.swap = {5, 5};
    testing::internal::CaptureStderr();
    stat_get_swap(&s);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Could not read /proc/meminfo: "), std::string::npos);
    EXPECT_EQ(s.mem.total + s.mem.used + s.swap.total + s.swap.used, 0u);
}

TEST_F(LinuxBackend, StartFailsWithoutTheKernelFiles) {
    EXPECT_EXIT(stat_OS_init(), testing::ExitedWithCode(1), "Could not open /proc/net/dev: ");
    netdev(HEADER);
    EXPECT_EXIT(stat_OS_init(), testing::ExitedWithCode(1), "Could not open /proc/meminfo: ");
}

// This machine's figures, read again and again through descriptors kept
// since start-up: each read must see the counters of that moment, and no read
// may leave a descriptor behind.
TEST(LinuxBackendLive, ReadsThisMachineFreshAndLeaksNoDescriptor) {
    stat_OS_init();
    stat_struct s;
    stat_cleanup(&s);
    stat_get_load(&s);
    stat_get_netif(&s);
    stat_get_swap(&s);
    stat_get_cpu(&s);
    cpu_seconds first;
    ASSERT_TRUE(stat_get_cpu_seconds(cpu_seconds::add, &first));
    EXPECT_GE(s.load, 0.0);
    EXPECT_GT(s.mem.total, 0u);
    EXPECT_LE(s.mem.used, s.mem.total);
    EXPECT_LE(s.swap.used, s.swap.total);
    EXPECT_NE(stat_get_netif_byname("lo", &s), nullptr);
    const int before = proc_probe::open_fds(getpid());

    int rx = socket(AF_INET, SOCK_DGRAM, 0), tx = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(rx, 0);
    ASSERT_GE(tx, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(rx, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t alen = sizeof a;
    ASSERT_EQ(getsockname(rx, reinterpret_cast<sockaddr*>(&a), &alen), 0);
    char payload[1000] = {};
    char sink[1000];
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(sendto(tx, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
                  static_cast<ssize_t>(sizeof payload));
        ASSERT_EQ(recv(rx, sink, sizeof sink, 0), static_cast<ssize_t>(sizeof sink));
    }
    close(rx);
    close(tx);

    for (const clock_t start = clock(); clock() - start < CLOCKS_PER_SEC / 20;) {
    }
    stat_cleanup(&s);
    stat_get_netif(&s);
    stat_get_cpu(&s);
    unsigned shares = 0;
    for (uint16_t share : s.cpu.share) shares += share;
    EXPECT_EQ(shares, STAT_CPU_WHOLE) << "50 ms of work in between";
    EXPECT_LT(s.cpu.share[STAT_CPU_IDLE], STAT_CPU_WHOLE);
    cpu_seconds now;
    ASSERT_TRUE(stat_get_cpu_seconds(cpu_seconds::add, &now));
    EXPECT_EQ(blackbox::count(now.reported, " steal "), blackbox::count(now.reported, " user "));
    EXPECT_GE(blackbox::count(now.reported, "\n"), 8u);
    const stat_netif* lo = stat_get_netif_byname("lo", &s);
    ASSERT_NE(lo, nullptr);
    EXPECT_GE(lo->received_bytes, 100u * sizeof payload) << "the second read saw the traffic in between";

    for (int i = 0; i < 50; ++i) {
        stat_cleanup(&s);
        stat_get_netif(&s);
        stat_get_swap(&s);
        stat_get_cpu(&s);
        ASSERT_TRUE(stat_get_cpu_seconds(cpu_seconds::add, &now));
        ASSERT_GT(s.mem.total, 0u);
    }
    EXPECT_EQ(proc_probe::open_fds(getpid()), before);
}

}  // namespace
