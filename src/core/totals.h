// Running sums of the one-second samples since the start: the tick adds each
// new ring-0 record, the connection threads read a consistent copy.
//
// Thread contract: totals_add on the sampling thread only; totals_read from
// any thread, never torn and never holding up the tick.
#pragma once

#include <cstdint>

#include "stat/stat_wrapper.h"

struct totals_struct {
    uint64_t samples;  // ticks since the start
    // Per interface, each counter summed since the start; an empty name marks
    // an unused entry.
    stat_netif netif[MAX_NETIF];
    int32_t in_newest[MAX_NETIF];  // nonzero when netif[i] is in the newest sample
};

void totals_add(const stat_struct* sample);
void totals_read(totals_struct* out);
// Back to the state at process start.
void totals_reset();
