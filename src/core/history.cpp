#include "core/history.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>

#include "core/fatal.h"

namespace {

history_ring_data_struct ring[HISTORY_RINGS];

// One lock per ring, held only while a record is copied into or out of a slot
// and while current moves: a reader slower than 50 stores would otherwise read
// the slot the writer is filling. Nobody holds it across I/O, so the sampling
// thread never waits on a client.
std::mutex ring_lock[HISTORY_RINGS];

// A ring's slots are one block that lives as long as the process and is never
// freed: connection threads may still be walking it while the process exits.
history_ring_struct* new_ring_block() {
    auto* block = new (std::nothrow) history_ring_struct[HISTORY_SLOTS];
    if (!block) fatal_perror("malloc new history ring buffer failed");
    for (int i = 0; i < HISTORY_SLOTS; ++i) {
        block[i].next = nullptr;
        block[i].prev = nullptr;
        stat_cleanup(&block[i].stat);
    }
    return block;
}

}  // namespace

void history_init() {
    for (history_ring_data_struct& r : ring) {
        history_ring_struct* block = new_ring_block();
        // The first record lands in head, the 451st there again.
        for (int i = 0; i < HISTORY_SLOTS; ++i) {
            block[i].next = &block[(i + 1) % HISTORY_SLOTS];
            block[i].prev = &block[(i + HISTORY_SLOTS - 1) % HISTORY_SLOTS];
        }
        r.head = &block[0];
        r.current.store(&block[HISTORY_SLOTS - 1], std::memory_order_release);
    }
}

void history_put_data(int ringi, const stat_struct* data) {
    if (ringi < 0 || ringi >= HISTORY_RINGS || !data) return;
    std::lock_guard<std::mutex> hold(ring_lock[ringi]);
    history_ring_struct* target = ring[ringi].current.load(std::memory_order_relaxed)->next;
    target->stat = *data;
    // Copy first, publish second: whoever sees the new current sees the whole record.
    ring[ringi].current.store(target, std::memory_order_release);
}

history_ring_struct* history_get_travler(int ringi) {
    return ring[ringi].current.load(std::memory_order_acquire);
}

void history_copy_slot(int ringi, const history_ring_struct* slot, stat_struct* out) {
    std::lock_guard<std::mutex> hold(ring_lock[ringi]);
    *out = slot->stat;
}
