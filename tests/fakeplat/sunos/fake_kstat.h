// A simulated Solaris kernel under the real calls of the Solaris backend: the
// kernel's kstats (class, name and named statistics or a processor's raw
// cpu_stat_t, of which each kstat_open takes a chain of its own), the swap
// devices swapctl lists, the page size and the load. A test fills fake_sunos
// before the backend runs; every call can be made to fail. The interface is
// plain C++, so tests see none of the platform headers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../fake_system.h"

struct fake_named {
    std::string name;
    uint64_t value = 0;
    bool wide = false;  // KSTAT_DATA_UINT64, else KSTAT_DATA_UINT32 (value cut to 32 bits)
};

struct fake_kstat {
    std::string module;
    std::string name;
    std::string ks_class;
    std::vector<fake_named> stats;  // current values; kstat_read copies them
    bool read_fails = false;        // errno EIO
    int instance = 0;
    // A processor's kstat: raw, a cpu_stat_t whose processor states hold
    // these ticks (idle, user, kernel, wait), and no named statistics.
    bool cpu_stat = false;
    uint32_t ticks[4] = {};
};

struct fake_swapent {
    std::string path;
    long pages = 0;
    long free = 0;
};

struct fake_sunos_kernel : fake_system {
    bool open_fails = false;         // errno EACCES
    std::vector<fake_kstat> kstats;  // the kernel's; a handle sees those present when it was opened

    std::vector<fake_swapent> swap;
    bool getnswp_fails = false;      // errno EPERM
    int added_after_count = 0;       // devices SC_GETNSWP does not count yet but SC_LIST lists
    bool list_fails = false;         // errno EPERM
    bool list_lists_nothing = false; // SC_LIST returns 0
    int swapctl_calls = 0;

    int handles_open = 0;  // by kstat_open, not yet closed
};

extern fake_sunos_kernel fake_sunos;

// Back to a kernel with no kstats, no swap and nothing failing.
void fake_sunos_reset();
