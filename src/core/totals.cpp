#include "core/totals.h"

#include <cstring>

#include "core/seqlock.h"

namespace {

// The writer's own copy, sampling thread only; published whole after every tick.
totals_struct running{};
seqlock_cell<totals_struct> published;

}  // namespace

void totals_add(const stat_struct* sample) {
    ++running.samples;
    for (int32_t& in : running.in_newest) in = 0;
    int used = sample->netif_count < 0 ? 0 : (sample->netif_count > MAX_NETIF ? MAX_NETIF : sample->netif_count);
    for (int i = 0; i < used; ++i) {
        const stat_netif& n = sample->netif[i];
        if (!n.name[0]) continue;
        stat_netif* t = stat_netif_entry(running.netif, n.name, sample);
        if (!t) continue;
        if (std::strcmp(t->name, n.name) != 0) {
            // A new (or reused) entry starts at 0, like the interface's first increase.
            *t = stat_netif{};
            std::memcpy(t->name, n.name, sizeof t->name);
            t->name[sizeof t->name - 1] = '\0';
        }
        running.in_newest[t - running.netif] = 1;
        // The record carries increases: wraps and resets are read already.
        for (auto c : STAT_NETIF_COUNTERS) t->*c += n.*c;
    }
    published.store(running);
}

void totals_read(totals_struct* out) { published.load(*out); }

void totals_reset() {
    running = totals_struct{};
    published.store(running);
}
