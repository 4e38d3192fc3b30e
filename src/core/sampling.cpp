#include "core/sampling.h"

#include <unistd.h>

#include "core/history.h"
#include "core/totals.h"
#include "modules/modules.h"
#include "stat/stat_wrapper.h"

namespace {

constexpr int FOLD = 10;

// Ticks 1..100, back to 0 on the hundredth. Sampling thread only.
int counter = 0;

// The ten newest records of a ring, newest first, copied into the tick's own
// stack: the slots hold their records as words shared with the readers.
void collect(int ringi, stat_struct* copies, stat_struct** collect_stat) {
    const history_ring_struct* slot = history_get_travler(ringi);
    for (int x = 0; x < FOLD; ++x) {
        history_copy_slot(ringi, slot, &copies[x]);
        collect_stat[x] = &copies[x];
        slot = slot->prev;
    }
}

}  // namespace

void signal_interval_1(int /*signalnum*/) {
    stat_struct current_stat;
    stat_struct copies[FOLD];
    stat_struct* collect_stat[FOLD];

    stat_cleanup(&current_stat);
    modules_interval(&current_stat);
    history_put_data(0, &current_stat);
    totals_add(&current_stat);
    ++counter;

    if (counter % 10 == 0) {
        collect(0, copies, collect_stat);
        modules_avg(&current_stat, collect_stat, FOLD);
        history_put_data(1, &current_stat);
    }
    if (counter % 100 == 0) {
        counter = 0;
        collect(1, copies, collect_stat);
        modules_avg(&current_stat, collect_stat, FOLD);
        history_put_data(2, &current_stat);
    }
}

void sampling_reset() { counter = 0; }

void* signal_thread(void* /*unused*/) {
    for (;;) {
        signal_interval_1(2);
        sleep(1);  // also the point where a cancellation takes effect
    }
    return nullptr;
}
