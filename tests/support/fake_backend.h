// A scriptable statistics backend for tests: the backend operations deliver
// whatever the test put into fake_backend.
#pragma once

#include <atomic>
#include <cstdint>

#include "stat/stat_wrapper.h"

struct fake_backend_state {
    double load = 0.0;
    int netif_count = 0;  // may exceed MAX_NETIF; the surplus is dropped
    stat_netif netif[40] = {};  // raw, cumulative counters
    stat_swap swap{0, 0};
    stat_swap mem{0, 0};
    stat_cpu cpu{};  // the shares every sample gets, as if stat_cpu_diff had made them
    bool (*cpu_seconds)(stat_cpu_seconds_fn each, void* context) = nullptr;  // stat_get_cpu_seconds; null: false
    std::atomic<long> load_calls{0}, netif_calls{0}, swap_calls{0}, cpu_calls{0}, init_calls{0};
    // steady_clock time of the latest load call, in nanoseconds since its epoch:
    // the moment a tick happened, independent of when a test looks.
    std::atomic<long long> load_at_ns{0};
};

extern fake_backend_state fake_backend;

// Sets interface i (growing netif_count to cover it) to raw counters.
void fake_set_netif(int i, const char* name, uint64_t rx, uint64_t tx, uint64_t coll = 0, uint64_t ierr = 0,
                    uint64_t oerr = 0);
