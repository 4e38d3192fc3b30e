// Running sums of the one-second samples since the start: the tick adds each
// new ring-0 record, the connection threads read a consistent copy.
//
// Thread contract: totals_add on the sampling thread only; totals_read from
// any thread, never torn and never holding up the tick.
#pragma once

#include <cstdint>

#include "stat/stat_wrapper.h"

struct totals_netif {
    char name[32];     // empty: an unused entry
    int32_t in_newest; // nonzero when the interface is in the newest sample
    uint64_t received_bytes, send_bytes, collisions, input_errors, output_errors;
};

struct totals_struct {
    uint64_t samples;  // ticks since the start
    totals_netif netif[MAX_NETIF];
};

void totals_add(const stat_struct* sample);
void totals_read(totals_struct* out);
// Back to the state at process start.
void totals_reset();
