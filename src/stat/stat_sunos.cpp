// Solaris statistics backend: getloadavg(3), the interface counters, page
// counts and processor times through libkstat, the swap devices through
// swapctl(2).
//
// Sampling thread only (stat_OS_init runs before it starts): the kstat handle
// is static and carries no lock. The chain is the one taken at start; it is
// never brought up to date, so interfaces plumbed later are not seen. The one
// exception is stat_get_cpu_seconds, which runs on connection threads with a
// kstat handle of its own.

// A 32-bit C++ compiler defines _FILE_OFFSET_BITS 64, and <sys/swap.h> refuses
// swapctl in that environment. Nothing here passes a file offset to another
// unit, so this one unit leaves it before any header sees it; a 64-bit build
// gets 64 back from the system's headers.
#undef _FILE_OFFSET_BITS

#include <sys/types.h>
#include <sys/loadavg.h>
#include <sys/swap.h>
#include <sys/sysinfo.h>
#include <kstat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>

#include "core/fatal.h"
#include "stat/stat_wrapper.h"

namespace {

constexpr int MAX_SWAPDEVICES = 20;
constexpr size_t SWAP_PATH_LENGTH = 1024;

kstat_ctl_t* kc;

// Room for a swap table of MAX_SWAPDEVICES entries, laid out as swaptbl_t.
struct swap_listing {
    int swt_n;
    swapent_t swt_ent[MAX_SWAPDEVICES];
};
static_assert(offsetof(swap_listing, swt_ent) == offsetof(swaptbl_t, swt_ent));

// The statistics of an interface's kstat, each read at the width its driver
// publishes it. Only their low 32 bits take part in the increase.
struct net_statistic {
    char name[KSTAT_STRLEN];  // kstat_data_lookup takes a char*
    const char* missing;      // reported when the interface has no such statistic
    uint64_t stat_netif::*field;
};

net_statistic net_statistics[] = {
    {"rbytes64", "kstat_data_lookup rbytes64", &stat_netif::received_bytes},
    {"obytes64", "kstat_data_lookup obytes64", &stat_netif::send_bytes},
    {"collisions", "kstat_data_lookup", &stat_netif::collisions},
    {"ierrors", "kstat_data_lookup", &stat_netif::input_errors},
    {"oerrors", "kstat_data_lookup", &stat_netif::output_errors},
};

char pagestotal[] = "pagestotal";
char pagesfree[] = "pagesfree";

bool is(const char (&field)[KSTAT_STRLEN], const char* text) {
    return std::strncmp(field, text, KSTAT_STRLEN) == 0;
}

// The named statistic, or null after reporting that it is missing.
const kstat_named_t* lookup(kstat_t* ks, char* name, const char* missing) {
    auto* named = static_cast<const kstat_named_t*>(kstat_data_lookup(ks, name));
    if (!named) std::perror(missing);
    return named;
}

// A driver chooses each statistic's type; reading a 32-bit one through the
// 64-bit member would be right only on a little-endian machine, and only by
// chance. Counters are widened without sign; what is no counter reads 0.
uint64_t counter_value(const kstat_named_t* named) {
    if (!named) return 0;
    switch (named->data_type) {
        case KSTAT_DATA_INT32: return static_cast<uint32_t>(named->value.i32);
        case KSTAT_DATA_UINT32: return named->value.ui32;
        case KSTAT_DATA_INT64: return static_cast<uint64_t>(named->value.i64);
        case KSTAT_DATA_UINT64: return named->value.ui64;
        default: return 0;
    }
}

void take_counters(kstat_t* ks, stat_netif& slot) {
    for (net_statistic& s : net_statistics) slot.*s.field = counter_value(lookup(ks, s.name, s.missing));
}

// Memory in pages from the "system_pages" kstat; 0 and 0 when it lacks a
// figure, since the other alone means nothing.
stat_swap system_pages(kstat_t* ks) {
    const kstat_named_t* total = lookup(ks, pagestotal, "kstat_data_lookup pagestotal");
    const kstat_named_t* free = lookup(ks, pagesfree, "kstat_data_lookup pagesfree");
    if (!total || !free) return {0, 0};
    const uint64_t pages = counter_value(total);
    const uint64_t free_pages = counter_value(free);
    return {pages, free_pages < pages ? pages - free_pages : 0};
}

// The processor states of a cpu_stat kstat, in the order and under the names
// of their report at /metrics, and the mode each counts as in a sample.
// Solaris keeps no nice, interrupt or steal time apart.
constexpr struct {
    int state;
    const char* name;
    stat_cpu_mode mode;
} PROCESSOR_STATES[] = {
    {CPU_IDLE, "idle", STAT_CPU_IDLE},
    {CPU_KERNEL, "kernel", STAT_CPU_SYSTEM},
    {CPU_USER, "user", STAT_CPU_USER},
    {CPU_WAIT, "wait", STAT_CPU_IOWAIT},
};

bool is_cpu_stat(const kstat_t* ks) { return ks->ks_type == KSTAT_TYPE_RAW && is(ks->ks_module, "cpu_stat"); }

// A processor's ticks in each state since boot, read into the kstat's own
// data; null when it cannot be read. The kernel's counters are 32 bits wide
// and wrap after 497 days at 100 ticks a second; a sum that goes down with one
// gives one sample without a figure.
const cpu_stat_t* read_cpu_stat(kstat_ctl_t* handle, kstat_t* ks) {
    if (kstat_read(handle, ks, nullptr) < 0) return nullptr;
    if (!ks->ks_data || ks->ks_data_size < sizeof(cpu_stat_t)) {
        errno = EINVAL;
        return nullptr;
    }
    return static_cast<const cpu_stat_t*>(ks->ks_data);
}

struct kstat_closer {
    void operator()(kstat_ctl_t* handle) const { kstat_close(handle); }
};

struct processor_seconds {
    int instance;
    double seconds[std::size(PROCESSOR_STATES)];
};

struct free_deleter {
    void operator()(processor_seconds* p) const { std::free(p); }
};

}  // namespace

void stat_OS_init() {
    kc = kstat_open();
    if (!kc) fatal_perror("kstat_open fails");
}

void stat_get_load(stat_struct* target) {
    double loads[LOADAVG_NSTATS];
    target->load = getloadavg(loads, LOADAVG_NSTATS) < 1 ? 0.0 : loads[LOADAVG_1MIN];
}

void stat_get_netif(stat_struct* target) {
    int i = 0;
    for (kstat_t* ks = kc->kc_chain; ks; ks = ks->ks_next) {
        if (!is(ks->ks_class, "net")) continue;
        if (is(ks->ks_name, "zero_copy") || is(ks->ks_name, "lo0")) continue;
        if (i >= MAX_NETIF) {
            std::perror("Not enouth MAX_NETIF free");
            break;
        }
        if (kstat_read(kc, ks, nullptr) < 0) {
            std::perror("kstat_read");
            stat_empty_netif(target, i);
            return;
        }
        stat_netif& slot = target->netif[i];
        std::snprintf(slot.name, sizeof slot.name, "%.*s", KSTAT_STRLEN, ks->ks_name);
        take_counters(ks, slot);
        ++i;
    }
    target->netif_count = i;
    stat_netif_diff(target);
}

void stat_get_swap(stat_struct* target) {
    const auto pagesize = static_cast<uint64_t>(getpagesize());
    target->swap = {0, 0};
    target->mem = {0, 0};

    stat_swap mem{0, 0};
    for (kstat_t* ks = kc->kc_chain; ks; ks = ks->ks_next) {
        if (!is(ks->ks_class, "pages") || !is(ks->ks_name, "system_pages")) continue;
        if (kstat_read(kc, ks, nullptr) < 0) {
            std::perror("kstat_read pages.system_pages");
            return;
        }
        mem = system_pages(ks);
    }
    target->mem = {mem.total * pagesize, mem.used * pagesize};

    int n = swapctl(SC_GETNSWP, nullptr);
    if (n < 0) return;
    if (n > MAX_SWAPDEVICES - 1) {
        std::puts("Too many swap devices. Contact Author\r");
        return;
    }
    char swapstrings[MAX_SWAPDEVICES][SWAP_PATH_LENGTH];
    swap_listing swapbuffer;
    std::memset(&swapbuffer, 0, sizeof swapbuffer);
    for (int k = 0; k < MAX_SWAPDEVICES; ++k) swapbuffer.swt_ent[k].ste_path = swapstrings[k];
    swapbuffer.swt_n = n + 1;  // room for a device added since the count

    int m = swapctl(SC_LIST, &swapbuffer);
    if (m > swapbuffer.swt_n) m = swapbuffer.swt_n;
    stat_swap swap{0, 0};
    for (int k = 0; k < m; ++k) {
        const swapent_t& e = swapbuffer.swt_ent[k];
        swap.total += static_cast<uint64_t>(static_cast<int64_t>(e.ste_pages));
        swap.used += static_cast<uint64_t>(static_cast<int64_t>(e.ste_pages - e.ste_free));
    }
    target->swap = {swap.total * pagesize, swap.used * pagesize};
}

void stat_get_cpu(stat_struct* target) {
    target->cpu = stat_cpu{};
    uint64_t total[STAT_CPU_MODES] = {};
    for (kstat_t* ks = kc->kc_chain; ks; ks = ks->ks_next) {
        if (!is_cpu_stat(ks)) continue;
        const cpu_stat_t* processor = read_cpu_stat(kc, ks);
        if (!processor) {
            std::perror("kstat_read cpu_stat");
            return;
        }
        for (const auto& s : PROCESSOR_STATES) total[s.mode] += processor->cpu_sysinfo.cpu[s.state];
    }
    stat_cpu_diff(total, target);
}

// Every processor is read before the first is reported, and reported in the
// order of its number, which the chain need not keep. The handle is opened
// and closed here: the sampling thread's must not be shared.
bool stat_get_cpu_seconds(stat_cpu_seconds_fn each, void* context) {
    const std::unique_ptr<kstat_ctl_t, kstat_closer> handle(kstat_open());
    const long ticks_per_second = sysconf(_SC_CLK_TCK);
    if (!handle || ticks_per_second <= 0) return false;
    size_t processors = 0;
    for (const kstat_t* ks = handle->kc_chain; ks; ks = ks->ks_next) processors += is_cpu_stat(ks);
    const std::unique_ptr<processor_seconds, free_deleter> read(
        static_cast<processor_seconds*>(std::calloc(processors + 1, sizeof(processor_seconds))));
    if (!read) return false;
    processor_seconds* next = read.get();
    for (kstat_t* ks = handle->kc_chain; ks; ks = ks->ks_next) {
        if (!is_cpu_stat(ks)) continue;
        const cpu_stat_t* processor = read_cpu_stat(handle.get(), ks);
        if (!processor) return false;
        next->instance = ks->ks_instance;
        for (size_t k = 0; k < std::size(PROCESSOR_STATES); ++k)
            next->seconds[k] = static_cast<double>(processor->cpu_sysinfo.cpu[PROCESSOR_STATES[k].state]) /
                               static_cast<double>(ticks_per_second);
        ++next;
    }
    std::sort(read.get(), next, [](const auto& a, const auto& b) { return a.instance < b.instance; });
    for (const processor_seconds* p = read.get(); p < next; ++p)
        for (size_t k = 0; k < std::size(PROCESSOR_STATES); ++k)
            each(context, p->instance, PROCESSOR_STATES[k].name, p->seconds[k]);
    return true;
}
