// The three history rings: 450 slots each, one writer (the sampling thread),
// many readers (the connection threads).
#pragma once

#include <atomic>

#include "core/seqlock.h"
#include "stat/stat_wrapper.h"

constexpr int HISTORY_RINGS = 3;
constexpr int HISTORY_SLOTS = 450;

// Ring 0, 1 and 2 hold a record per 1, 10 and 100 seconds, and pages and
// graph names call each ring by that interval.
constexpr int history_interval(int ringi) { return ringi == 0 ? 1 : ringi == 1 ? 10 : 100; }
// The ring whose records lie interval seconds apart, or -1 for any other number.
constexpr int history_ring_of(int interval) {
    for (int r = 0; r < HISTORY_RINGS; ++r)
        if (history_interval(r) == interval) return r;
    return -1;
}

struct history_ring_struct {
    history_ring_struct* next;  // receives the following record; from the newest slot: the oldest
    history_ring_struct* prev;  // one step back in time
    seqlock_cell<stat_struct> stat;  // the sampling thread stores, any thread copies out

    // A copy of the record, whole even while the sampling thread stores here.
    stat_struct record() const {
        stat_struct s;
        stat.load(s);
        return s;
    }
    // One member of the record, as whole as record() gives it.
    template <typename M>
    M field(M stat_struct::*member) const {
        return stat.load_member(member);
    }
};

struct history_ring_data_struct {
    history_ring_struct* head;
    std::atomic<history_ring_struct*> current;
};

void history_init();
void history_put_data(int ringi, const stat_struct* data);
// The newest slot of ring ringi (0, 1 or 2; not checked). Links never change
// after history_init, so walking prev needs no care; the record does.
history_ring_struct* history_get_travler(int ringi);
// Copies the record of a slot of ring ringi so that a concurrent store into the
// same slot can never be seen half done. The writer never waits on a reader:
// a copy that overlaps a store is retried.
void history_copy_slot(int ringi, const history_ring_struct* slot, stat_struct* out);
