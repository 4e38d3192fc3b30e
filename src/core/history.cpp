#include "core/history.h"

#include <new>

#include "core/fatal.h"

namespace {

history_ring_data_struct ring[HISTORY_RINGS];

// A ring's slots are one block that lives as long as the process and is never
// freed: connection threads may still be walking it while the process exits.
// A later history_init (tests start again with it) empties the same block.
history_ring_struct* ring_block(history_ring_data_struct& r) {
    history_ring_struct* block = r.head;
    if (!block) block = new (std::nothrow) history_ring_struct[HISTORY_SLOTS];
    if (!block) fatal_perror("malloc new history ring buffer failed");
    stat_struct cleared;
    stat_cleanup(&cleared);
    for (int i = 0; i < HISTORY_SLOTS; ++i) block[i].stat.store(cleared);
    return block;
}

}  // namespace

void history_init() {
    for (history_ring_data_struct& r : ring) {
        history_ring_struct* block = ring_block(r);
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
    history_ring_struct* target = ring[ringi].current.load(std::memory_order_relaxed)->next;
    // A reader slower than 50 stores may be copying this very slot; its
    // sequence makes that reader retry instead of the writer waiting.
    target->stat.store(*data);
    // Copy first, publish second: whoever sees the new current sees the whole record.
    ring[ringi].current.store(target, std::memory_order_release);
}

history_ring_struct* history_get_travler(int ringi) {
    return ring[ringi].current.load(std::memory_order_acquire);
}

void history_copy_slot(int /*ringi*/, const history_ring_struct* slot, stat_struct* out) { slot->stat.load(*out); }
