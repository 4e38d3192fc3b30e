// How long one graph request takes to draw and encode: the ring walk, the
// canvas, the PNG written to a stream that discards it. Each graph is drawn
// many times from full rings and the median, fastest and 90th percentile are
// reported.
//
//   graph_bench [runs]     (default 300)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/config.h"
#include "core/history.h"
#include "modules/modules.h"

namespace {

struct graph {
    const char* url;
    const char* param;
};

// Full ring 0 with traffic, load and memory that change every second, so the
// PNG encoder sees a realistic, not a flat, picture.
void fill_ring0() {
    std::srand(1);
    for (int i = 0; i < HISTORY_SLOTS + 1; ++i) {
        stat_struct s;
        stat_cleanup(&s);
        s.load = 0.5 + (std::rand() % 300) / 100.0;
        s.netif_count = 2;
        std::snprintf(s.netif[0].name, sizeof s.netif[0].name, "%s", "em0");
        s.netif[0].received_bytes = static_cast<uint64_t>(std::rand() % 2000000);
        s.netif[0].send_bytes = static_cast<uint64_t>(std::rand() % 500000);
        std::snprintf(s.netif[1].name, sizeof s.netif[1].name, "%s", "em1");
        s.swap = {uint64_t(2) << 30, static_cast<uint64_t>(std::rand() % (1 << 30))};
        s.mem = {uint64_t(8) << 30, (uint64_t(4) << 30) + static_cast<uint64_t>(std::rand() % (1 << 30))};
        history_put_data(0, &s);
    }
}

double micros(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? config_atoi(argv[1]) : 300;
    if (runs < 1) runs = 1;

    config_init();
    history_init();
    modules_register();
    fill_ring0();

    FILE* sink = std::fopen("/dev/null", "w");
    if (!sink) {
        std::perror("Could not open /dev/null");
        return 1;
    }
    const graph graphs[] = {
        {"/MOD_LOAD", "grafinterval_1"},
        {"/MOD_NETIF/grafinterval_1", "em0"},
        {"/MOD_MEMSWAP/grafinterval_1", nullptr},
    };
    std::printf("%-30s %6s %10s %10s %10s\n", "graph", "runs", "median us", "min us", "p90 us");
    for (const graph& g : graphs) {
        std::vector<double> t;
        t.reserve(static_cast<size_t>(runs));
        for (int i = 0; i < runs; ++i) {
            auto start = std::chrono::steady_clock::now();
            if (modules_urlhandler(sink, g.url, g.param) != 1) {
                std::fprintf(stderr, "%s?%s was not answered\n", g.url, g.param ? g.param : "");
                return 1;
            }
            t.push_back(micros(std::chrono::steady_clock::now() - start));
        }
        std::sort(t.begin(), t.end());
        std::printf("%-30s %6d %10.0f %10.0f %10.0f\n", g.url, runs, t[t.size() / 2], t.front(),
                    t[t.size() * 9 / 10]);
    }
    std::fclose(sink);
    return 0;
}
