// The Linux statistics backend's parsers and the root of the files it reads,
// apart from the four backend operations so that they can be tested on fixtures.
#pragma once

#include <cstddef>

#include "stat/stat_wrapper.h"

// Directory that stands for "/" when the backend opens /proc/net/dev and
// /proc/meminfo; "" (the default) reads the real files. At most 255 characters.
void stat_linux_set_root(const char* root);

// Fills target->netif from the text of /proc/net/dev with raw cumulative
// counters and returns how many interfaces the file lists (which may exceed
// MAX_NETIF; only the first 25 are stored), or -1 when the text is malformed.
// Does not touch netif_count and does not compute increases.
int stat_linux_parse_netdev(const char* text, size_t len, stat_struct* target);

// Reads memory and swap, in bytes, from the text of /proc/meminfo. Returns 0,
// or -1 when a figure it needs is missing or malformed (all four then stay 0).
int stat_linux_parse_meminfo(const char* text, size_t len, stat_swap* mem, stat_swap* swap);
