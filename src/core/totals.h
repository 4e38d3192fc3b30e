// Running figures of the one-second samples: sums since the start and peaks
// over the last minute. The tick adds each new ring-0 record, the connection
// threads read a consistent copy.
//
// Thread contract: totals_add on the sampling thread only, once the sample is
// the newest record of ring 0; totals_read from any thread, never torn and
// never holding up the tick.
#pragma once

#include <cstdint>

#include "stat/stat_wrapper.h"

// How far back the peaks reach, in samples: Prometheus's default scrape
// interval, and four scrapes 15 seconds apart.
constexpr int TOTALS_PEAK_SECONDS = 60;

struct totals_struct {
    uint64_t samples;  // ticks since the start
    // Per interface, each counter summed since the start; an empty name marks
    // an unused entry.
    stat_netif netif[MAX_NETIF];
    int32_t in_newest[MAX_NETIF];  // nonzero when netif[i] is in the newest sample
    // The largest one-second increase of netif[i]'s received and sent bytes
    // among the TOTALS_PEAK_SECONDS newest samples that hold it.
    uint64_t received_peak[MAX_NETIF], send_peak[MAX_NETIF];
    uint64_t mem_used_peak;  // the largest mem.used among the same samples
    // 1 + the largest stat_cpu_busy among the same samples: 0 when none of
    // them has a CPU figure, so that a sample without one never raises it.
    uint64_t cpu_busy_peak;
};

void totals_add(const stat_struct* sample);
void totals_read(totals_struct* out);
// Back to the state at process start.
void totals_reset();
