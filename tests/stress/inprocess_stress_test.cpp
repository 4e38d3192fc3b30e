// Kelp's own threads in this process over the scriptable backend: the
// sampling keeps its pace while the server is flooded, and a day of ticks
// without sleeping leaves the rings whole and the heap where it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "blackbox.h"
#include "core/history.h"
#include "core/sampling.h"
#include "fake_backend.h"
#include "proc_probe.h"
#include "restart.h"
#include "sanitized.h"
#include "storm.h"
#include "web/httpd.h"
#include "xorshift.h"

#ifdef KELP_SANITIZED
// Declared here: GCC does not install the sanitizers' interface headers, but
// both runtimes export the function.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

double seconds(clock_type::duration d) { return std::chrono::duration<double>(d).count(); }

// Start-up as main does it, with the listening socket on loopback.
void start_kelp(const std::string& extra_config) {
    std::signal(SIGPIPE, SIG_IGN);
    restart(extra_config);
    stat_init();
}

// The backend's figures are set before the sampling thread starts and left
// alone afterwards: that thread reads them without a lock.
TEST(SamplingPace, TicksKeepTheirPaceWhileFiftyClientsFloodTheServer) {
    const storm::request& refused = storm::mix()[2];
    ASSERT_EQ(refused.what, storm::kind::malformed);
    const int port = blackbox::free_port();
    start_kelp("httpd.port " + std::to_string(port) + "\n" + storm::CONFIG);
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
        std::string wrong = storm::check(refused, storm::exchange(port, refused));
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

// --- A day of ticks -----------------------------------------------------------

constexpr int DAY = 86400;
constexpr int NAMES = 40;  // more than a record holds

// Problems found while ticking are noted without allocating, so that the heap
// figures taken during the day are the tick's alone.
struct findings {
    long count = 0;
    char first[256] = "";
    template <typename... Args>
    void note(const char* format, Args... args) {
        if (count++ == 0) std::snprintf(first, sizeof first, format, args...);
    }
};

// The whole circle of a ring from its newest slot: 450 distinct slots,
// linked both ways, holding the loads newest, newest - step, ... for the
// `stored` records written so far and cleared records behind them.
void check_ring(int ring, int tick, double newest, double step, long stored, findings& f) {
    history_ring_struct* cur = history_get_travler(ring);
    std::array<history_ring_struct*, HISTORY_SLOTS> seen;
    history_ring_struct* s = cur;
    for (int i = 0; i < HISTORY_SLOTS; ++i, s = s->prev) {
        if (s->next->prev != s || s->prev->next != s)
            f.note("tick %d ring %d: links broken %d steps back", tick, ring, i);
        double want = i < stored ? newest - i * step : 0.0;
        if (s->record().load != want)
            f.note("tick %d ring %d: %d steps back holds load %.1f, not %.1f", tick, ring, i, s->record().load, want);
        seen[static_cast<size_t>(i)] = s;
    }
    if (s != cur) f.note("tick %d ring %d: 450 steps back is not the newest slot", tick, ring);
    if (cur->next != seen[HISTORY_SLOTS - 1]) f.note("tick %d ring %d: the oldest is not after the newest", tick, ring);
    std::sort(seen.begin(), seen.end());
    if (std::adjacent_find(seen.begin(), seen.end()) != seen.end())
        f.note("tick %d ring %d: a slot appears twice in the circle", tick, ring);
}

void check_rings(int tick, findings& f) {
    check_ring(0, tick, tick, 1.0, tick, f);
    check_ring(1, tick, (tick / 10) * 10 - 4.5, 10.0, tick / 10, f);
    check_ring(2, tick, (tick / 100) * 100 - 49.5, 100.0, tick / 100, f);
}

struct heap_figures {
    size_t in_use;
    long rss_anon_kb;
};

// Under a sanitizer its own allocator keeps the figures; its shadow memory
// and bookkeeping grow the resident set by themselves, so that figure means
// nothing there.
heap_figures heap_now() {
#ifdef KELP_SANITIZED
    size_t in_use = __sanitizer_get_current_allocated_bytes();
#else
    size_t in_use = mallinfo2().uordblks;
#endif
    return {in_use, proc_probe::status_kb(getpid(), "RssAnon")};
}

// Interfaces come and go at random, now and then all 40 at once (15 more
// than a record holds); some keep 32-bit counters that wrap. The load of
// each sample is its tick number, which makes every ring's content known.
TEST(Soak, ADayOfTicksWithInterfacesComingAndGoingKeepsRingsWholeAndHeapFlat) {
    start_kelp("");
    // A test before this one in the same process leaves the count of ticks
    // anywhere between two records of the coarsest ring; it goes back to 0
    // when that ring takes one. The rings then start afresh.
    const history_ring_struct* coarsest = history_get_travler(2);
    for (int i = 0; i < 100 && history_get_travler(2) == coarsest; ++i) signal_interval_1(2);
    ASSERT_NE(history_get_travler(2), coarsest);
    history_init();
    const long calls_before = fake_backend.load_calls.load();

    xorshift rng;
    uint64_t raw_rx[NAMES], raw_tx[NAMES], inc_rx[NAMES], inc_tx[NAMES];
    bool present[NAMES], in_last[NAMES] = {};
    char names[NAMES][16];
    for (int i = 0; i < NAMES; ++i) {
        std::snprintf(names[i], sizeof names[i], "if%d", i);
        bool narrow = i % 4 == 0;  // starts just below 2^32 and wraps soon
        raw_rx[i] = narrow ? 0xFFFFFFFFull - 50000 : rng.next() >> 8;
        raw_tx[i] = narrow ? 0xFFFFFFFFull - 70000 : rng.next() >> 8;
        present[i] = i % 3 != 0;
    }

    findings f;
    heap_figures after_first{}, at_end{};
    long delta_checks = 0;
    for (int tick = 1; tick <= DAY; ++tick) {
        for (int i = 0; i < NAMES; ++i)
            if (rng.next() % 300 == 0) present[i] = !present[i];
        bool crowd = tick % 3600 < 60;
        int order[NAMES], n = 0;
        int rotate = (tick / 500) % NAMES;  // interfaces also change places
        for (int k = 0; k < NAMES; ++k) {
            int i = (k + rotate) % NAMES;
            if (present[i] || crowd) order[n++] = i;
        }
        fake_backend.netif_count = 0;
        for (int k = 0; k < n; ++k) {
            int i = order[k];
            inc_rx[i] = rng.next() % (1u << 20);
            inc_tx[i] = rng.next() % (1u << 24);
            raw_rx[i] += inc_rx[i];
            raw_tx[i] += inc_tx[i];
            if (i % 4 == 0) {
                raw_rx[i] &= 0xFFFFFFFFull;
                raw_tx[i] &= 0xFFFFFFFFull;
            }
            fake_set_netif(k, names[i], raw_rx[i], raw_tx[i]);
        }
        fake_backend.load = tick;
        fake_backend.mem = {uint64_t(1) << 33, static_cast<uint64_t>(tick)};

        signal_interval_1(2);

        // The newest sample: the first 25 interfaces in the order given; an
        // interface that was in the previous sample too shows its increase.
        const stat_struct got = history_get_travler(0)->record();
        int kept = std::min(n, MAX_NETIF);
        if (got.load != tick) f.note("tick %d: newest load %.1f", tick, got.load);
        if (got.netif_count != kept) f.note("tick %d: %d interfaces, not %d", tick, got.netif_count, kept);
        bool now_in[NAMES] = {};
        for (int k = 0; k < kept; ++k) {
            int i = order[k];
            now_in[i] = true;
            const stat_netif& s = got.netif[k];
            if (std::strcmp(s.name, names[i]) != 0) f.note("tick %d: slot %d is %s, not %s", tick, k, s.name, names[i]);
            if (!in_last[i]) continue;
            ++delta_checks;
            if (s.received_bytes != inc_rx[i] || s.send_bytes != inc_tx[i])
                f.note("tick %d: %s received %llu, sent %llu; fed %llu, %llu", tick, names[i],
                       static_cast<unsigned long long>(s.received_bytes), static_cast<unsigned long long>(s.send_bytes),
                       static_cast<unsigned long long>(inc_rx[i]), static_cast<unsigned long long>(inc_tx[i]));
        }
        std::copy(std::begin(now_in), std::end(now_in), std::begin(in_last));

        if (tick % 10 == 0 && history_get_travler(1)->record().load != tick - 4.5)
            f.note("tick %d: ring 1 newest %.2f", tick, history_get_travler(1)->record().load);
        if (tick % 100 == 0 && history_get_travler(2)->record().load != tick - 49.5)
            f.note("tick %d: ring 2 newest %.2f", tick, history_get_travler(2)->record().load);
        if (tick % 10000 == 0 || tick == DAY) check_rings(tick, f);
        if (tick == 10000) after_first = heap_now();
        if (tick == DAY) at_end = heap_now();
    }

    EXPECT_EQ(f.count, 0) << f.first;
    EXPECT_GT(delta_checks, DAY * 10L) << "too few increases were checked";
    EXPECT_EQ(fake_backend.load_calls.load() - calls_before, DAY);
    std::printf("heap in use %zu -> %zu bytes, RssAnon %ld -> %ld kB (after the first 10,000 ticks -> after %d)\n",
                after_first.in_use, at_end.in_use, after_first.rss_anon_kb, at_end.rss_anon_kb, DAY);
    EXPECT_EQ(at_end.in_use, after_first.in_use) << "the ticks allocated and kept memory";
#ifndef KELP_SANITIZED
    EXPECT_LE(at_end.rss_anon_kb - after_first.rss_anon_kb, 64);
#endif
}

}  // namespace
