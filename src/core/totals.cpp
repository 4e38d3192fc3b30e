#include "core/totals.h"

#include <cstring>

#include "core/seqlock.h"

namespace {

// The writer's own copy, sampling thread only; published whole after every tick.
totals_struct running{};
seqlock_cell<totals_struct> published;

bool in_sample(const char* name, const stat_struct* sample) {
    return stat_get_netif_byname(name, sample) != nullptr;
}

// Once all entries are taken, one of an interface absent from this sample is
// reused: the sample holds at most MAX_NETIF names, so there always is one.
totals_netif* entry_for(const char* name, const stat_struct* sample) {
    for (totals_netif& t : running.netif)
        if (t.name[0] && std::strcmp(t.name, name) == 0) return &t;
    for (totals_netif& t : running.netif)
        if (!t.name[0]) return &t;
    for (totals_netif& t : running.netif)
        if (!in_sample(t.name, sample)) return &t;
    return nullptr;
}

}  // namespace

void totals_add(const stat_struct* sample) {
    ++running.samples;
    for (totals_netif& t : running.netif) t.in_newest = 0;
    int used = sample->netif_count < 0 ? 0 : (sample->netif_count > MAX_NETIF ? MAX_NETIF : sample->netif_count);
    for (int i = 0; i < used; ++i) {
        const stat_netif& n = sample->netif[i];
        if (!n.name[0]) continue;
        totals_netif* t = entry_for(n.name, sample);
        if (!t) continue;
        if (std::strcmp(t->name, n.name) != 0) {
            // A new (or reused) entry starts at 0, like the interface's first increase.
            *t = totals_netif{};
            std::memcpy(t->name, n.name, sizeof t->name);
            t->name[sizeof t->name - 1] = '\0';
        }
        t->in_newest = 1;
        // The record carries increases; a 32-bit wrap is already one.
        t->received_bytes += n.received_bytes;
        t->send_bytes += n.send_bytes;
        t->collisions += n.collisions;
        t->input_errors += n.input_errors;
        t->output_errors += n.output_errors;
    }
    published.store(running);
}

void totals_read(totals_struct* out) { published.load(*out); }

void totals_reset() {
    running = totals_struct{};
    published.store(running);
}
