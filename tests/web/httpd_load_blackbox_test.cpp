// The server under load and under misbehaving clients, where it listens and
// whom it lets in.
// Each slow case is a test of its own so that they can run side by side.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "blackbox.h"
#include "page_text.h"
#include "sanitized.h"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

using page_text::ALL_DISABLED;
const std::string INDEX = page_text::STATUS + page_text::index_page("");
const std::string GET_INDEX = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
const std::string FULL = "detecting full server .... waiting ....\r\n";

using namespace blackbox;

// Connections that send nothing and keep a connection slot each.
struct silent_clients {
    std::vector<int> fds;
    silent_clients(int port, int n, const char* from = nullptr) {
        for (int i = 0; i < n; ++i) fds.push_back(blackbox::connect_via(from, "127.0.0.1", port));
    }
    ~silent_clients() {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
    bool all_connected() const { return std::find(fds.begin(), fds.end(), -1) == fds.end(); }
};

// 25 silent clients hold every slot. A 26th waits, the full server reported
// every 2 seconds, and is served as soon as one of them frees its slot; the
// read time-out releases the others, without it they would hold theirs for
// ever.
TEST(FullServer, TwentySixthIsServedAsSoonAsASlotFreesAndTheTimeoutReleasesSilentClients) {
    blackbox::daemon k(ALL_DISABLED);
    ASSERT_TRUE(k.wait_listening()) << k.err();
    const auto silent_since = clock_type::now();
    silent_clients busy(k.port, 25);
    ASSERT_TRUE(busy.all_connected());
    int waiting = blackbox::connect_to(k.port);
    ASSERT_GE(waiting, 0);
    ASSERT_TRUE(blackbox::send_all(waiting, GET_INDEX));

    // The message comes every 2 seconds while all slots stay busy.
    ASSERT_TRUE(wait_until([&] { return count(k.out(), FULL) >= 1; }, 5s)) << k.out();
    auto first = clock_type::now();
    ASSERT_TRUE(wait_until([&] { return count(k.out(), FULL) >= 2; }, 4s)) << k.out();
    double gap = seconds_since(first);
    EXPECT_GT(gap, 1.5);
    EXPECT_LT(gap, 2.8);

    // Free one slot while the listener pauses: the waiting client is served
    // well before the pause would have run out.
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(blackbox::send_all(busy.fds[0], GET_INDEX));
    EXPECT_EQ(blackbox::read_to_close(busy.fds[0], 5000), INDEX);
    auto freed = clock_type::now();
    EXPECT_EQ(blackbox::read_to_close(waiting, 5000), INDEX);
    EXPECT_LT(seconds_since(freed), 1.0) << "the pause did not end when the slot was freed";
    close(waiting);

    // While the 26th was being served the server was full once more; now a
    // slot stays free and the message stops.
    size_t messages = count(k.out(), FULL);
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(count(k.out(), FULL), messages) << "a slot is free";

    // The time-out runs from each silent client's accept, which came after
    // its connect: a slow machine can only lengthen the wait measured here.
    for (size_t i = 1; i < busy.fds.size(); ++i) EXPECT_EQ(blackbox::read_to_close(busy.fds[i], 15000), "");
    EXPECT_GT(seconds_since(silent_since), 9.5) << "released before the time-out";
    EXPECT_LT(seconds_since(silent_since), 13.0) << "not released by the time-out";
    EXPECT_EQ(count(k.err(), "Read on socket failed: "), 24u) << k.err();

    // Every slot is free again: 25 at once are served without waiting.
    std::atomic<int> served{0};
    std::vector<std::thread> clients;
    const auto start = clock_type::now();
    for (int i = 0; i < 25; ++i) clients.emplace_back([&] { served += blackbox::exchange(k.port, GET_INDEX) == INDEX; });
    for (std::thread& c : clients) c.join();
    EXPECT_LT(seconds_since(start), 2.0);
    EXPECT_EQ(served.load(), 25);
}

// More steady clients than slots: the listener takes each freed slot at once
// instead of sleeping out its pause, and still reports a full server no more
// than once per pause.
TEST(FullServer, SteadyOverloadKeepsServingAndReportsAtItsOwnPace) {
    blackbox::daemon k(ALL_DISABLED);
    ASSERT_TRUE(k.wait_listening()) << k.err();
    std::atomic<int> answered{0}, wrong{0};
    auto stop = clock_type::now() + 3s;
    std::vector<std::thread> clients;
    for (int i = 0; i < 30; ++i)
        clients.emplace_back([&] {
            while (clock_type::now() < stop) (blackbox::exchange(k.port, GET_INDEX) == INDEX ? answered : wrong)++;
        });
    for (std::thread& c : clients) c.join();
    EXPECT_EQ(wrong.load(), 0);
    // Sleeping out each pause would give about a dozen answers a second; the
    // bound leaves room for a slow, sanitized build on a busy machine.
    EXPECT_GE(answered.load(), 100) << "fewer than 33 answers a second";
    EXPECT_LE(count(k.out(), FULL), 2u) << k.out();
}

// Three in four reset the connection right after the request; the fourth
// once the first bytes of the answer have arrived, the rest not.
TEST(Connections, ClientsThatResetBeforeOrDuringTheAnswerDoNotEndTheDaemon) {
    blackbox::daemon k;
    ASSERT_TRUE(k.wait_listening()) << k.err();
    for (int i = 0; i < 40; ++i) {
        int fd = blackbox::connect_to(k.port);
        ASSERT_GE(fd, 0) << "round " << i << "\n" << k.err();
        ASSERT_TRUE(blackbox::send_all(fd, i % 2 ? GET_INDEX : "GET /MOD_MEMSWAP/overview HTTP/1.1\r\n\r\n"));
        char first;
        if (i % 4 == 0) {
            EXPECT_EQ(recv(fd, &first, 1, 0), 1) << "round " << i;
        }
        reset_close(fd);
    }
    std::string answer = blackbox::exchange(k.port, GET_INDEX);
    EXPECT_EQ(answer.rfind(page_text::STATUS, 0), 0u) << answer << k.err();
    EXPECT_EQ(k.interrupt(), 0) << "the daemon must still be running";
}

// Running out of descriptors costs the connections that cannot be accepted,
// not the daemon, and the listener does not spin meanwhile.
TEST(Accept, RunningOutOfDescriptorsIsReportedAndSurvived) {
    // 0, 1, 2, the listening socket and six more.
    blackbox::daemon k(ALL_DISABLED, {}, {{RLIMIT_NOFILE, 10}});
    ASSERT_TRUE(k.wait_listening()) << k.err();
    const std::string failed = "Could not accept a connection: Too many open files\n";
    {
        silent_clients many(k.port, 12);
        ASSERT_TRUE(many.all_connected());
        ASSERT_TRUE(wait_until([&] { return count(k.err(), failed) >= 1; }, 5s)) << k.err();
        size_t before = count(k.err(), failed);
        std::this_thread::sleep_for(1s);
        size_t in_one_second = count(k.err(), failed) - before;
        EXPECT_GE(in_one_second, 3u);
        EXPECT_LE(in_one_second, 15u) << "about one attempt per 100 ms";
    }
    EXPECT_EQ(blackbox::exchange(k.port, GET_INDEX), INDEX) << k.err();
    EXPECT_EQ(k.interrupt(), 0);
}

// A connection thread that cannot start closes its connection and gives its
// slot back; otherwise 25 such failures would leave the server full for ever.
TEST(Threads, ConnectionThreadThatCannotStartFreesItsSlot) {
#ifdef KELP_SANITIZED
    GTEST_SKIP() << "sanitizers reserve address space beyond any small limit";
#else
    // Threads get 256 MB stacks; the address space holds the program and two
    // of them (sampling and listener) but not a third.
    const rlim_t mb = 1024 * 1024;
    blackbox::daemon k(ALL_DISABLED, {}, {{RLIMIT_STACK, 256 * mb}, {RLIMIT_AS, 780 * mb}});
    ASSERT_TRUE(k.wait_listening()) << k.err();
    for (int i = 0; i < 30; ++i) EXPECT_EQ(blackbox::exchange(k.port, GET_INDEX, 5000), "") << "round " << i;
    EXPECT_GE(count(k.err(), "Could not create connection thread: "), 30u) << k.err();
    EXPECT_EQ(count(k.out(), FULL), 0u);
    EXPECT_EQ(k.interrupt(), 0);
#endif
}

// ANY holds every address of both families, 127.0.0.2 too; a named address
// only its own. SIGINT releases the port at once.
TEST(Host, EachSettingListensOnItsFamiliesAndLogsPlainAddresses) {
    struct { const char* host; bool v4, v6; } hosts[] = {  // whether 127.0.0.1 and ::1 are served
        {"127.0.0.1", true, false}, {"localhost", true, false}, {"::1", false, true},
        {"ANY", true, true}, {"any", true, true},
    };
    for (const auto& h : hosts) {
        SCOPED_TRACE(h.host);
        blackbox::daemon k(ALL_DISABLED + std::string("httpd.host ") + h.host + "\n");
        const char* own = h.v4 ? "127.0.0.1" : "::1";
        ASSERT_TRUE(k.wait_listening(10000, own)) << k.err();
        for (const auto& [at, serves] : {std::pair{"127.0.0.1", h.v4}, std::pair{"::1", h.v6}}) {
            EXPECT_EQ(blackbox::exchange_via(nullptr, at, k.port, GET_INDEX), serves ? INDEX : "") << at;
            EXPECT_EQ(count("\n" + k.out(), "\n" + std::string(at) + " "), serves ? 1u : 0u) << "logged as " << at;
        }
        EXPECT_EQ(blackbox::can_bind_on("127.0.0.2", k.port), !(h.v4 && h.v6));
        EXPECT_EQ(k.interrupt(), 0);
        EXPECT_TRUE(blackbox::can_bind_on(own, k.port));
    }
}

// Start-up ends with status 1 and names what it cannot use.
TEST(Host, WhatCannotBeListenedWithEndsStartupWithStatusOne) {
    blackbox::daemon first;
    ASSERT_TRUE(first.wait_listening());
    const std::string bad = "Invalid httpd.allow entry ";
    struct { std::string line, message; } cases[] = {
        {"httpd.port " + std::to_string(first.port), "Could not bind to socket: "},
        // An empty label is refused before any query is sent.
        {"httpd.host kelp..invalid", "Could not resolve httpd.host: "},
        {"httpd.allow 127.0.0.1/32 10.1.2.3/8", bad + "\"10.1.2.3/8\": the address has bits set beyond the prefix length\n"},
        {"httpd.allow 10.0.0.0/33", bad + "\"10.0.0.0/33\": the prefix length is not a number from 0 to 32\n"},
        {"httpd.allow fd00::/8,::/1x", bad + "\"::/1x\": the prefix length is not a number from 0 to 128\n"},
        {"httpd.allow localhost", bad + "\"localhost\": not an IPv4 or IPv6 address\n"},
        {"httpd.allow ,", bad + "\",\": no network in the list\n"},
    };
    blackbox::scratch_dir d;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::string conf = d.write("k.conf", "httpd.port " + std::to_string(blackbox::free_port()) + "\n" + c.line);
        auto r = blackbox::run({"-f", conf}, 20000);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

// Others are closed before they take a slot: 100 silent ones leave a listed
// client answered at once. They are reported at once, then no more than once
// in ten seconds: the rest when the ten seconds are up.
TEST(Allow, OnlyListedClientsAreServedAndOthersHoldNoSlot) {
    blackbox::daemon k(ALL_DISABLED + std::string("httpd.allow 127.0.0.1/32, fd00::/8\n"));
    ASSERT_TRUE(k.wait_listening()) << k.err();
    struct { const char *from, *to; bool served; } clients[] = {
        {"127.0.0.1", "127.0.0.1", true}, {"127.0.0.2", "127.0.0.1", false}, {"::1", "::1", false}};
    for (const auto& c : clients)
        EXPECT_EQ(blackbox::exchange_via(c.from, c.to, k.port, GET_INDEX), c.served ? INDEX : "") << c.from;
    const std::string report = "Refused connections from outside httpd.allow: ";
    ASSERT_TRUE(wait_until([&] { return count(k.err(), report + "1, the last from 127.0.0.2\r\n") == 1; }, 5s));
    auto reported = clock_type::now();

    silent_clients refused(k.port, 100, "127.0.0.2");
    ASSERT_TRUE(refused.all_connected());
    auto start = clock_type::now();
    EXPECT_EQ(blackbox::exchange(k.port, GET_INDEX), INDEX);
    EXPECT_LT(seconds_since(start), 1.0);
    for (int fd : refused.fds) blackbox::read_to_close(fd, 5000);
    EXPECT_LT(seconds_since(start), 3.0) << "refused clients are closed at once";

    EXPECT_TRUE(wait_until([&] { return count(k.err(), report + "101, the last from 127.0.0.2\r\n") == 1; }, 15s));
    EXPECT_GT(seconds_since(reported), 9.0);
    EXPECT_EQ(k.interrupt(), 0);
    EXPECT_EQ(count(k.err(), report), 2u) << k.err();
    EXPECT_EQ(count(k.out(), " /NULL\r\n"), 2u) << "logged: only the requests of 127.0.0.1";
    EXPECT_EQ(count("\n" + k.out(), "\n127.0.0.1 "), 2u) << k.out();
}

}  // namespace
