#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backend_test.h"
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
        stat_netif_forget();
    }
    void TearDown() override {
        stat_linux_set_root("");
    }
    void netdev(const std::string& body) { std::ofstream(root + "/proc/net/dev") << body; }
};

TEST_F(LinuxBackend, ParsesEveryInterfaceInFileOrder) {
    std::string text = std::string(HEADER) + line("lo", 100, 200, 1, 2, 3) +
                       line("eth0", 123456789012, 5, 0, 0, 0, true) + line("eth0:1", 7, 8) +
                       line("abcdefghijklmno", 9, 10);
    stat_struct s;
    stat_cleanup(&s);
    ASSERT_EQ(stat_linux_parse_netdev(text.data(), text.size(), &s), 4);
    EXPECT_STREQ(s.netif[0].name, "lo");
    EXPECT_EQ(s.netif[0].received_bytes, 100u);
    EXPECT_EQ(s.netif[0].send_bytes, 200u);
    EXPECT_EQ(s.netif[0].input_errors, 1u);
    EXPECT_EQ(s.netif[0].output_errors, 2u);
    EXPECT_EQ(s.netif[0].collisions, 3u);
    EXPECT_STREQ(s.netif[1].name, "eth0");
    EXPECT_EQ(s.netif[1].received_bytes, 123456789012u);
    EXPECT_STREQ(s.netif[2].name, "eth0:1") << "split at the last colon";
    EXPECT_STREQ(s.netif[3].name, "abcdefghijklmno");
    EXPECT_EQ(s.netif[4].name[0], '\0');
}

TEST_F(LinuxBackend, MalformedNetdevTexts) {
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desc);
        stat_struct s;
        stat_cleanup(&s);
        EXPECT_EQ(stat_linux_parse_netdev(c.text.data(), c.text.size(), &s), -1);
    }
}

TEST_F(LinuxBackend, KeepsTheFirst25AndReportsEachSurplus) {
    int interfaces = 0;
    uint64_t received = 0;
    auto write = [&] {
        std::string text = HEADER;
        for (int i = 0; i < interfaces; ++i) text += line("veth" + std::to_string(i), received, 1);
        netdev(text);
    };
    expect_first_25_kept(
        "veth", [&](int n) { interfaces = n; }, [&] { received += 10; write(); },
        "Not enouth MAX_NETIF. Increase Value: ", true);
}

TEST_F(LinuxBackend, BadNetdevLeavesNoInterfaces) {
    netdev(std::string(HEADER) + line("eth0", 1000, 1000));
    take_netif();
    // A file cut in the middle of a line must not hand raw counters onward.
    netdev(std::string(HEADER) + line("eth0", 2000, 2000) + "  eth1: 5 6");
    std::string err;
    expect_no_interfaces(take_netif(&err));
    EXPECT_EQ(err, "Could not parse /proc/net/dev\r\n");

    // A file that is gone is noticed when it is opened again.
    std::remove((root + "/proc/net/dev").c_str());
    stat_linux_set_root(root.c_str());
    take_netif(&err);
    EXPECT_NE(err.find("Could not read /proc/net/dev: "), std::string::npos);
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

int open_descriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

// This machine's figures, read again and again through descriptors kept
// since start-up: each read must see the counters of that moment, and no read
// may leave a descriptor behind.
TEST(LinuxBackendLive, ReadsThisMachineFreshAndKeepsNoDescriptor) {
    stat_OS_init();
    stat_struct s;
    stat_cleanup(&s);
    stat_get_load(&s);
    stat_get_netif(&s);
    stat_get_swap(&s);
    EXPECT_GE(s.load, 0.0);
    EXPECT_GT(s.mem.total, 0u);
    EXPECT_LE(s.mem.used, s.mem.total);
    EXPECT_LE(s.swap.used, s.swap.total);
    EXPECT_NE(stat_get_netif_byname("lo", &s), nullptr);
    const int before = open_descriptors();

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

    stat_cleanup(&s);
    stat_get_netif(&s);
    const stat_netif* lo = stat_get_netif_byname("lo", &s);
    ASSERT_NE(lo, nullptr);
    EXPECT_GE(lo->received_bytes, 100u * sizeof payload) << "the second read saw the traffic in between";

    for (int i = 0; i < 50; ++i) {
        stat_cleanup(&s);
        stat_get_netif(&s);
        stat_get_swap(&s);
        ASSERT_GT(s.mem.total, 0u);
    }
    EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
