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

// The modes CPU time is spent in. A platform without iowait or steal time
// leaves them 0. (Solaris' <sys/sysinfo.h> has CPU_IDLE, CPU_USER and the
// like as macros of its own, hence the prefix.)
enum stat_cpu_mode : int {
    STAT_CPU_USER,
    STAT_CPU_NICE,
    STAT_CPU_SYSTEM,
    STAT_CPU_INTERRUPT,
    STAT_CPU_IDLE,
    STAT_CPU_IOWAIT,
    STAT_CPU_STEAL,
    STAT_CPU_MODES
};

// The machine's CPU time during one sample, summed over all processors: the
// share of each mode in units of 1/STAT_CPU_WHOLE. Samples are of equal
// length, so the mean of ten samples' shares is the share of their sum, and
// the cascade averages them like any other figure. The shares of a sample
// add up to STAT_CPU_WHOLE, or are all 0 when it has no figure.
constexpr uint16_t STAT_CPU_WHOLE = 10000;
struct stat_cpu {
    uint16_t share[STAT_CPU_MODES];
};
// The share of the time the processors were not idle, in 1/STAT_CPU_WHOLE,
// or -1 when the sample has no figure.
constexpr int stat_cpu_busy(const stat_cpu& c) {
    for (uint16_t s : c.share)
        if (s) return STAT_CPU_WHOLE - c.share[STAT_CPU_IDLE];
    return -1;
}

struct stat_struct {
    double load;  // one-minute load average
    int32_t netif_count;
    stat_netif netif[MAX_NETIF];
    stat_swap swap;
    stat_swap mem;
    stat_cpu cpu;
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
// The layer back to its start: no interface and no CPU time remembered, so
// the next sample of each reads as its first.
void stat_forget();
// Turns the machine's cumulative CPU time by mode (in any one unit, summed
// over all processors) into target->cpu: the shares of the time since the
// previous call, rounded so that they add up to STAT_CPU_WHOLE. The first
// call, one that finds no time gone by, and one that finds a counter gone
// down give no figure (all 0) and only remember. Sampling thread only.
void stat_cpu_diff(const uint64_t (&total)[STAT_CPU_MODES], stat_struct* target);
// Each mode's share of the sum of increase (any unit, not all 0) in units of
// 1/STAT_CPU_WHOLE, rounded so that the shares add up to STAT_CPU_WHOLE. The
// increases may lose low bits on the way.
void stat_cpu_shares(uint64_t (&increase)[STAT_CPU_MODES], uint16_t (&share)[STAT_CPU_MODES]);

// Backend: exactly one platform's implementation is linked into the program.
// Each writes only its own fields of the record.
void stat_OS_init();
void stat_get_load(stat_struct* target);
void stat_get_netif(stat_struct* target);
void stat_get_swap(stat_struct* target);
// CPU time by mode since the previous sample, through stat_cpu_diff.
void stat_get_cpu(stat_struct* target);

// Every processor's CPU time since boot under the platform's own mode names,
// for /metrics: each(context, cpu, mode, seconds) for every processor and
// mode, processors in order. Safe on any thread: it shares no state with the
// sampling thread. False, with nothing reported, when the kernel cannot be read.
using stat_cpu_seconds_fn = void (*)(void* context, int cpu, const char* mode, double seconds);
bool stat_get_cpu_seconds(stat_cpu_seconds_fn each, void* context);
