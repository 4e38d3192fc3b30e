// Kelp's own threads in this process over the scriptable backend: the
// sampling keeps its pace while the server is flooded.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

#include "blackbox.h"
#include "core/sampling.h"
#include "fake_backend.h"
#include "restart.h"
#include "storm.h"
#include "web/httpd.h"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

double seconds(clock_type::duration d) { return std::chrono::duration<double>(d).count(); }

// The backend's figures are set before the sampling thread starts and left
// alone afterwards: that thread reads them without a lock.
TEST(SamplingPace, TicksKeepTheirPaceWhileFiftyClientsFloodTheServer) {
    const storm::request& refused = storm::mix()[2];
    ASSERT_EQ(refused.what, storm::kind::malformed);
    const int port = blackbox::free_port();
    // Start-up as main does it, with the listening socket on loopback.
    std::signal(SIGPIPE, SIG_IGN);
    restart("httpd.port " + std::to_string(port) + "\n" + storm::CONFIG);
    stat_init();
    fake_backend.load = 0.75;
    fake_set_netif(0, "lo", 1000, 2000);
    fake_set_netif(1, "eth0", 5000, 7000);
    fake_backend.mem = {uint64_t(8) << 30, uint64_t(3) << 30};
    fake_backend.swap = {uint64_t(2) << 30, uint64_t(1) << 28};

    pthread_t sampler, listener;
    ASSERT_EQ(pthread_create(&sampler, nullptr, signal_thread, nullptr), 0);
    httpd_init();
    ASSERT_EQ(pthread_create(&listener, nullptr, httpd_thread, nullptr), 0);

    // The moment of every tick as the backend noted it: the watcher may be
    // late to look on a busy machine, but the time it reads is the tick's own.
    std::vector<clock_type::time_point> ticks;
    ticks.reserve(1000);
    std::atomic<bool> watching{true};
    long skipped = 0;
    std::thread watcher([&] {
        long seen = fake_backend.load_calls.load();
        while (watching.load()) {
            long now = fake_backend.load_calls.load();
            if (now != seen) {
                ticks.emplace_back(std::chrono::nanoseconds(fake_backend.load_at_ns.load()));
                skipped += now - seen - 1;
                seen = now;
            }
            std::this_thread::sleep_for(1ms);
        }
    });

    std::this_thread::sleep_for(3s);  // the pace without load, for comparison
    storm::tally t;
    auto flood_start = clock_type::now();
    {
        // The access log of a flood is of no interest here, and would bury
        // a failure's report.
        silenced quiet(1);
        storm::run_for(port, 50, 12000ms, t);
    }
    auto flood_end = clock_type::now();
    watching = false;
    watcher.join();

    // The listener joins a finished connection thread only when its search
    // passes the slot. Single requests, one after the other, take it round
    // the whole table, so that no thread of the flood is left unjoined when
    // the server stops and a later test starts Kelp afresh in this process.
    // Refused ones, since the thread of the last stays unjoined: it touches
    // nothing outside its slot.
    for (int i = 0; i < 2 * HTTPD_SLOTS; ++i) {
        std::string wrong = storm::check(refused, blackbox::exchange(port, refused.bytes));
        if (!wrong.empty()) {
            ADD_FAILURE() << "after the flood: " << refused.desc << ": " << wrong;
            break;
        }
    }

    pthread_cancel(sampler);
    pthread_join(sampler, nullptr);
    pthread_cancel(listener);
    pthread_join(listener, nullptr);

    EXPECT_EQ(t.right.load(), t.sent.load()) << t.report();
    EXPECT_GT(t.sent.load(), 1000) << "not much of a flood: " << t.report();
    EXPECT_EQ(skipped, 0) << "the watcher missed a tick";
    const auto quiet_ticks = static_cast<size_t>(
        std::count_if(ticks.begin(), ticks.end(), [&](clock_type::time_point at) { return at <= flood_start; }));
    ASSERT_GE(quiet_ticks, 2u);

    // Intervals that end inside the flood.
    double longest = 0, shortest = 1e9;
    int during = 0;
    for (size_t i = quiet_ticks; i < ticks.size(); ++i) {
        if (ticks[i] > flood_end) continue;
        ++during;
        double gap = seconds(ticks[i] - ticks[i - 1]);
        longest = std::max(longest, gap);
        shortest = std::min(shortest, gap);
    }
    double flood = seconds(flood_end - flood_start);
    std::printf("%d ticks in %.2f s of flood (%s); intervals %.3f .. %.3f s\n", during, flood, t.report().c_str(),
                shortest, longest);
    EXPECT_GE(during, static_cast<int>(flood / 1.1) - 1);
    EXPECT_LE(longest, 1.5) << "a tick came late";
    EXPECT_GE(shortest, 0.95) << "a tick came early";
}

}  // namespace
