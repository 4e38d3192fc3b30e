// What one sampling tick costs with the Linux backend on the real /proc: the
// tick function is called directly after the start-up that Kelp itself does.
//
// Back to back: RUNS runs of TICKS ticks, every tick timed on its own; each run
// reports its median, and the medians of the runs give the figure, with the
// thread's CPU per tick split into user and system time.
//
// Spaced: ticks 100 ms apart, each timed in thread CPU. This is closer to the
// daemon's own once-a-second tick, which finds its caches cold.
//
// Under readers: READERS threads draw ring-0 load graphs without pause while
// LOADED ticks run 10 ms apart; each tick's wall time is taken. A tick that
// waited on a reader would show here, in its 99th percentile and maximum.
//
//   tick_bench [ticks] [runs] [spaced] [loaded] [readers] [config]
//              (default 2000 ticks, 5 runs, 20 spaced, 300 loaded, 25 readers,
//              no configuration file: the built-in values)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include "config/config.h"
#include "core/history.h"
#include "core/sampling.h"
#include "modules/modules.h"
#include "stat/stat_wrapper.h"

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double thread_cpu_us() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

double us(const timeval& t) { return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec); }

}  // namespace

int main(int argc, char** argv) {
    int ticks = argc > 1 ? config_atoi(argv[1]) : 2000;
    int runs = argc > 2 ? config_atoi(argv[2]) : 5;
    int spaced = argc > 3 ? config_atoi(argv[3]) : 20;
    int loaded = argc > 4 ? config_atoi(argv[4]) : 300;
    int readers = argc > 5 ? config_atoi(argv[5]) : 25;
    if (ticks < 100) ticks = 100;  // every run passes the ring-2 stage
    if (runs < 1) runs = 1;

    config_init();
    if (argc > 6) config_read(argv[6]);
    stat_init();
    history_init();
    modules_register();
    modules_init();
    for (int i = 0; i < 200; ++i) signal_interval_1(2);  // warm caches; the first diff is special

    std::vector<double> medians, p90s, cpus, users, systems;
    std::vector<double> t(static_cast<size_t>(ticks));
    for (int r = 0; r < runs; ++r) {
        rusage before{}, after{};
        getrusage(RUSAGE_THREAD, &before);
        double cpu_start = thread_cpu_us();
        for (int i = 0; i < ticks; ++i) {
            auto start = std::chrono::steady_clock::now();
            signal_interval_1(2);
            t[static_cast<size_t>(i)] =
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        }
        cpus.push_back((thread_cpu_us() - cpu_start) / ticks);
        getrusage(RUSAGE_THREAD, &after);
        users.push_back((us(after.ru_utime) - us(before.ru_utime)) / ticks);
        systems.push_back((us(after.ru_stime) - us(before.ru_stime)) / ticks);
        std::vector<double> sorted = t;
        std::sort(sorted.begin(), sorted.end());
        medians.push_back(sorted[sorted.size() / 2]);
        p90s.push_back(sorted[sorted.size() * 9 / 10]);
        std::printf("run=%d ticks=%d median_us=%.1f p90_us=%.1f cpu_us=%.1f user_us=%.1f system_us=%.1f\n", r + 1,
                    ticks, medians.back(), p90s.back(), cpus.back(), users.back(), systems.back());
    }

    std::vector<double> cold;
    for (int i = 0; i < spaced; ++i) {
        timespec pause{0, 100L * 1000 * 1000};
        nanosleep(&pause, nullptr);
        double start = thread_cpu_us();
        signal_interval_1(2);
        cold.push_back(thread_cpu_us() - start);
    }
    std::vector<double> under;
    if (loaded > 0 && readers > 0) {
        std::atomic<bool> stop{false};
        std::atomic<long> graphs{0};
        std::vector<std::thread> pool;
        for (int i = 0; i < readers; ++i)
            pool.emplace_back([&] {
                FILE* sink = std::fopen("/dev/null", "w");
                if (!sink) return;
                while (!stop.load(std::memory_order_relaxed)) {
                    modules_urlhandler(sink, "/MOD_LOAD", "grafinterval_1");
                    graphs.fetch_add(1, std::memory_order_relaxed);
                }
                std::fclose(sink);
            });
        for (int i = 0; i < loaded; ++i) {
            timespec pause{0, 10L * 1000 * 1000};
            nanosleep(&pause, nullptr);
            auto start = std::chrono::steady_clock::now();
            signal_interval_1(2);
            under.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        }
        stop = true;
        for (std::thread& t : pool) t.join();
        std::sort(under.begin(), under.end());
        std::printf("loaded: %zu ticks beside %d readers, %ld graphs drawn meanwhile\n", under.size(), readers,
                    graphs.load());
    }
    std::printf("tick_median_us=%.1f tick_p90_us=%.1f tick_cpu_us=%.1f tick_user_us=%.1f tick_system_us=%.1f",
                median(medians), median(p90s), median(cpus), median(users), median(systems));
    if (!cold.empty()) std::printf(" spaced_ticks=%zu spaced_cpu_us=%.1f", cold.size(), median(cold));
    if (!under.empty())
        std::printf(" loaded_ticks=%zu loaded_readers=%d loaded_median_us=%.1f loaded_p99_us=%.1f loaded_max_us=%.1f",
                    under.size(), readers, under[under.size() / 2], under[under.size() * 99 / 100], under.back());
    std::printf("\n");
    return 0;
}
