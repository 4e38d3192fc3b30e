// The statistics record and the platform-neutral layer around it.
//
// One stat_struct is one sample: it travels from a backend through the sampling
// tick into the history rings, and it is copied whole, so it holds no pointers.
#pragma once

#include <cstdint>
#include <type_traits>

constexpr int MAX_NETIF = 25;

struct stat_netif {
    char name[32];            // empty (name[0] == '\0') marks an unused slot
    uint64_t received_bytes;  // all five: increase since the previous sample
    uint64_t send_bytes;
    uint64_t collisions;
    uint64_t input_errors;
    uint64_t output_errors;
};

struct stat_swap {
    uint64_t total;  // bytes
    uint64_t used;   // bytes
};

struct stat_struct {
    double load;  // one-minute load average
    int32_t netif_count;
    stat_netif netif[MAX_NETIF];
    stat_swap swap;
    stat_swap mem;
};

// The five counters of an interface, for code that treats them all alike.
constexpr uint64_t stat_netif::*STAT_NETIF_COUNTERS[] = {
    &stat_netif::received_bytes, &stat_netif::send_bytes, &stat_netif::collisions,
    &stat_netif::input_errors,   &stat_netif::output_errors,
};

static_assert(std::is_trivially_copyable_v<stat_struct>);
static_assert(std::is_standard_layout_v<stat_struct>);

// Platform-neutral layer.
void stat_init();
void stat_cleanup(stat_struct* c);
// Empties the first filled interface slots and leaves none in use: a walk that
// fails half-way must not hand raw counters to the rings as increases.
void stat_empty_netif(stat_struct* target, int filled);
stat_netif* stat_get_netif_byname(const char* name, stat_struct* from_this);
const stat_netif* stat_get_netif_byname(const char* name, const stat_struct* from_this);
// The entry of a table kept across samples that stands for the interface
// name: the one that holds it, else the first unused one (empty name), else
// one whose interface is absent from sample. A new or reused entry still
// holds what it held before; the caller tells it by its name and fills it.
// Null only when sample lacks name and holds MAX_NETIF others.
stat_netif* stat_netif_entry(stat_netif (&table)[MAX_NETIF], const char* name, const stat_struct* sample);
// Turns the raw cumulative counters of every used slot into increases since that
// interface's previous sample. Sampling thread only: it keeps the remembered
// counters in static state and is not reentrant.
void stat_netif_diff(stat_struct* from_this);
// Forgets every remembered interface: the next sample of each reads as its first.
void stat_netif_forget();

// Backend: exactly one platform's implementation is linked into the program.
// Each writes only its own fields of the record.
void stat_OS_init();
void stat_get_load(stat_struct* target);
void stat_get_netif(stat_struct* target);
void stat_get_swap(stat_struct* target);
