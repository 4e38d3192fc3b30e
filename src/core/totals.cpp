#include "core/totals.h"

#include <cstring>

#include "core/history.h"
#include "core/seqlock.h"

namespace {

// The writer's own copy, sampling thread only; published whole after every tick.
totals_struct running{};
seqlock_cell<totals_struct> published;

// The sample each peak of running came from, counted as running.samples is.
// Sampling thread only, and not published.
struct peak_times {
    uint64_t received[MAX_NETIF], send[MAX_NETIF], mem, cpu;
} seen_at{};

// A peak follows every new figure that reaches it, and is looked for again in
// ring 0 only once the sample it came from has left the window: ring 0 is the
// window's memory, and no second copy of it is kept. False: look again.
bool keep_peak(uint64_t& peak, uint64_t& at, uint64_t figure) {
    if (figure >= peak) {
        peak = figure;
        at = running.samples;
        return true;
    }
    return running.samples - at < TOTALS_PEAK_SECONDS;
}

// Walking from the newest back, a figure equal to the peak leaves it where it
// is: the newest of equal figures stays in the window longest.
void raise_peak(uint64_t& peak, uint64_t& at, uint64_t figure, uint64_t when) {
    if (figure > peak) {
        peak = figure;
        at = when;
    }
}

// The busy share as totals_struct keeps its peak: counted from 1, 0 for none.
uint64_t cpu_busy_figure(const stat_struct& sample) { return static_cast<uint64_t>(stat_cpu_busy(sample.cpu) + 1); }

// Finds the stale peaks afresh among the window's records of ring 0, whose
// newest is this sample. The sampling thread writes the ring, so its copies
// never overlap a store and never retry.
void look_back(const bool (&stale)[MAX_NETIF], bool mem_stale, bool cpu_stale) {
    const uint64_t now = running.samples;
    for (int i = 0; i < MAX_NETIF; ++i)
        if (stale[i]) {
            running.received_peak[i] = running.send_peak[i] = 0;
            seen_at.received[i] = seen_at.send[i] = now;
        }
    if (mem_stale) {
        running.mem_used_peak = 0;
        seen_at.mem = now;
    }
    if (cpu_stale) {
        running.cpu_busy_peak = 0;
        seen_at.cpu = now;
    }
    const history_ring_struct* slot = history_get_travler(0);
    stat_struct record;
    for (uint64_t back = 0; back < TOTALS_PEAK_SECONDS && back < now && slot; ++back, slot = slot->prev) {
        history_copy_slot(0, slot, &record);
        const uint64_t when = now - back;
        if (mem_stale) raise_peak(running.mem_used_peak, seen_at.mem, record.mem.used, when);
        if (cpu_stale) raise_peak(running.cpu_busy_peak, seen_at.cpu, cpu_busy_figure(record), when);
        for (int i = 0; i < MAX_NETIF; ++i) {
            if (!stale[i]) continue;
            const stat_netif* n = stat_get_netif_byname(running.netif[i].name, &record);
            if (!n) continue;
            raise_peak(running.received_peak[i], seen_at.received[i], n->received_bytes, when);
            raise_peak(running.send_peak[i], seen_at.send[i], n->send_bytes, when);
        }
    }
}

}  // namespace

void totals_add(const stat_struct* sample) {
    ++running.samples;
    for (int32_t& in : running.in_newest) in = 0;
    bool stale[MAX_NETIF] = {};
    bool any_stale = false;
    int used = sample->netif_count < 0 ? 0 : (sample->netif_count > MAX_NETIF ? MAX_NETIF : sample->netif_count);
    for (int i = 0; i < used; ++i) {
        const stat_netif& n = sample->netif[i];
        if (!n.name[0]) continue;
        stat_netif* t = stat_netif_entry(running.netif, n.name, sample);
        if (!t) continue;
        const auto k = t - running.netif;
        const bool fresh = std::strcmp(t->name, n.name) != 0;
        if (fresh) {
            // A new (or reused) entry starts at 0, like the interface's first increase.
            *t = stat_netif{};
            std::memcpy(t->name, n.name, sizeof t->name);
            t->name[sizeof t->name - 1] = '\0';
        }
        running.in_newest[k] = 1;
        // The record carries increases: wraps and resets are read already.
        for (auto c : STAT_NETIF_COUNTERS) t->*c += n.*c;
        const bool received_kept = keep_peak(running.received_peak[k], seen_at.received[k], n.received_bytes);
        const bool send_kept = keep_peak(running.send_peak[k], seen_at.send[k], n.send_bytes);
        // A reused entry's interface may have been in the window before it.
        stale[k] = fresh || !received_kept || !send_kept;
        any_stale = any_stale || stale[k];
    }
    const bool mem_stale = !keep_peak(running.mem_used_peak, seen_at.mem, sample->mem.used);
    const bool cpu_stale = !keep_peak(running.cpu_busy_peak, seen_at.cpu, cpu_busy_figure(*sample));
    if (any_stale || mem_stale || cpu_stale) look_back(stale, mem_stale, cpu_stale);
    published.store(running);
}

void totals_read(totals_struct* out) { published.load(*out); }

void totals_reset() {
    running = totals_struct{};
    seen_at = peak_times{};
    published.store(running);
}
