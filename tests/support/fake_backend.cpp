#include "fake_backend.h"

#include <chrono>
#include <cstdio>
#include <iterator>

fake_backend_state fake_backend;

void fake_set_netif(int i, const char* name, uint64_t rx, uint64_t tx, uint64_t coll, uint64_t ierr, uint64_t oerr) {
    stat_netif& n = fake_backend.netif[i];
    std::snprintf(n.name, sizeof n.name, "%s", name);
    const uint64_t counters[] = {rx, tx, coll, ierr, oerr};  // in the order of STAT_NETIF_COUNTERS
    for (size_t k = 0; k < std::size(counters); ++k) n.*STAT_NETIF_COUNTERS[k] = counters[k];
    if (fake_backend.netif_count <= i) fake_backend.netif_count = i + 1;
}

void stat_OS_init() { ++fake_backend.init_calls; }

void stat_get_load(stat_struct* target) {
    fake_backend.load_at_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count();
    ++fake_backend.load_calls;
    target->load = fake_backend.load;
}

void stat_get_netif(stat_struct* target) {
    ++fake_backend.netif_calls;
    int n = fake_backend.netif_count < MAX_NETIF ? fake_backend.netif_count : MAX_NETIF;
    for (int i = 0; i < n; ++i) target->netif[i] = fake_backend.netif[i];
    target->netif_count = n;
    stat_netif_diff(target);
}

void stat_get_swap(stat_struct* target) {
    ++fake_backend.swap_calls;
    target->swap = fake_backend.swap;
    target->mem = fake_backend.mem;
}

void stat_get_cpu(stat_struct* target) {
    ++fake_backend.cpu_calls;
    target->cpu = fake_backend.cpu;
}

bool stat_get_cpu_seconds(stat_cpu_seconds_fn each, void* context) {
    return fake_backend.cpu_seconds && fake_backend.cpu_seconds(each, context);
}
