// The Linux statistics backend's parsers and the root of the files it reads,
// apart from the four backend operations so that they can be tested on fixtures.
#pragma once

#include <cstddef>

#include "stat/stat_wrapper.h"

// Directory that stands for "/" when the backend opens /proc/net/dev,
// /proc/meminfo and /proc/stat; "" (the default) reads the real files. At most
// 255 characters. Set before any thread reads the files.
void stat_linux_set_root(const char* root);

// Fills target->netif from the text of /proc/net/dev with raw cumulative
// counters and returns how many interfaces the file lists (which may exceed
// MAX_NETIF; only the first 25 are stored), or -1 when the text is malformed.
// Does not touch netif_count and does not compute increases.
int stat_linux_parse_netdev(const char* text, size_t len, stat_struct* target);

// Reads memory and swap, in bytes, from the text of /proc/meminfo. Returns 0,
// or -1 when a figure it needs is missing or malformed (all four then stay 0).
int stat_linux_parse_meminfo(const char* text, size_t len, stat_swap* mem, stat_swap* swap);

// Reads the machine's CPU time by mode, in ticks, from the first line of the
// text of /proc/stat, the "cpu" line of all processors together; what follows
// it may be cut anywhere. irq and softirq time count as STAT_CPU_INTERRUPT; guest
// time is part of user and nice already. Returns 0, or -1 when the line is
// missing or malformed (total is then all 0).
int stat_linux_parse_stat(const char* text, size_t len, uint64_t (&total)[STAT_CPU_MODES]);

// Reports each processor's line ("cpuN") at the start of the text of
// /proc/stat, after the line of all processors: each(context, N, mode,
// ticks / ticks_per_second) for every mode the line has, under the kernel's
// names (user, nice, system, idle, iowait, irq, softirq, steal). The text may
// end anywhere after the processors' lines. False, with nothing reported,
// when a processor's line or the one before them is malformed.
bool stat_linux_parse_cpus(const char* text, size_t len, long ticks_per_second, stat_cpu_seconds_fn each,
                           void* context);
