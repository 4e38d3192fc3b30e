// FreeBSD statistics backend: getloadavg(3), swap devices through libkvm,
// the page counts and processor times through sysctl, and the interface
// counters from the kernel's interface list (FreeBSD 4 to 10, through libkvm)
// or from getifaddrs(3) (FreeBSD 11 and later).
//
// Sampling thread only (stat_OS_init runs before it starts): the kvm handle
// and, before 11, the name list are static and carry no lock. Nothing is
// allocated here; on 11 and later getifaddrs allocates its list in libc. The
// one exception is stat_get_cpu_seconds, which runs on connection threads: it
// uses sysctl alone, and a buffer of its own.
#include <sys/param.h>

#ifndef __FreeBSD_version
#error "the FreeBSD backend needs __FreeBSD_version from <sys/param.h>"
#endif

// From 11.0-CURRENT on, struct ifnet keeps its statistics in per-CPU
// counters (if_counters) instead of an if_data, and struct if_data itself
// took fixed 64-bit fields; 14 moved struct ifnet out of the public headers.
// Both changes were made during 11-CURRENT, after 10 had branched, so
// 1100000, the first 11-CURRENT, is at or before the first version without
// ifnet.if_data. Earlier is the safe side: getifaddrs and its AF_LINK if_data
// exist on every release this backend serves, so an 11-CURRENT snapshot from
// before the change still builds and runs with them.
#define KELP_FREEBSD_IFADDRS (__FreeBSD_version >= 1100000)

#include <sys/types.h>
#include <sys/resource.h>  // CPUSTATES, CP_USER to CP_IDLE
#include <sys/socket.h>
#include <sys/sysctl.h>
#include <sys/time.h>  // struct clockinfo
#include <net/if.h>
#if KELP_FREEBSD_IFADDRS
#include <ifaddrs.h>
#else
#include <net/if_var.h>
#include <nlist.h>
#endif
#include <fcntl.h>
#include <kvm.h>
#include <stdlib.h>  // getloadavg
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>

#include "core/fatal.h"
#include "stat/stat_wrapper.h"

namespace {

constexpr int SWAP_ROWS = 10;  // device rows plus libkvm's summary row

kvm_t* kvm;

[[noreturn]] void kvm_open_failed() { fatal_perror("kvm_open fails (maybe permissions on /dev/*mem)"); }

// Reads a numeric sysctl, one number or an array of n of them (kern.cp_time),
// into values. The kernel gives each variable the width it declares, int or
// long, u_int or uint64_t, and releases have changed widths: every number may
// come as 4 or 8 bytes, and an answer of any other length is a failed read. A
// buffer too small for the answer gets ENOMEM from the kernel.
//
// The answer lands in values itself. Numbers of 4 bytes fill its first half
// and are widened from the last one down: each is read before its own place
// or a later one's is written.
bool sysctl_numbers(const char* name, uint64_t* values, size_t n) {
    size_t length = n * sizeof(uint64_t);
    if (sysctlbyname(name, values, &length, nullptr, 0) == -1) return false;
    if (length == n * sizeof(uint64_t)) return true;
    if (length == n * sizeof(uint32_t)) {
        const auto* answer = reinterpret_cast<const unsigned char*>(values);
        for (size_t i = n; i-- > 0;) {
            uint32_t v;
            std::memcpy(&v, answer + i * sizeof v, sizeof v);
            values[i] = v;
        }
        return true;
    }
    errno = EINVAL;
    return false;
}

template <size_t N>
bool sysctl_numbers(const char* name, uint64_t (&values)[N]) {
    return sysctl_numbers(name, values, N);
}

// The processor states of kern.cp_time and kern.cp_times, <sys/resource.h>'s
// CP_USER to CP_IDLE, under the node exporter's names for FreeBSD, and the
// mode each counts as in a sample. FreeBSD keeps no iowait or steal time.
constexpr struct {
    int state;
    const char* name;
    stat_cpu_mode mode;
} PROCESSOR_STATES[] = {
    {CP_USER, "user", STAT_CPU_USER},        {CP_NICE, "nice", STAT_CPU_NICE}, {CP_SYS, "system", STAT_CPU_SYSTEM},
    {CP_INTR, "interrupt", STAT_CPU_INTERRUPT}, {CP_IDLE, "idle", STAT_CPU_IDLE},
};
static_assert(std::size(PROCESSOR_STATES) == CPUSTATES);

// Ticks of the statistics clock per second, from kern.clockrate; 0 when it
// cannot be read. Kernels without a clock of its own for statistics count
// with the main one.
long statistics_clock() {
    struct clockinfo clock;
    size_t length = sizeof clock;
    if (sysctlbyname("kern.clockrate", &clock, &length, nullptr, 0) == -1 || length != sizeof clock) return 0;
    return clock.stathz > 0 ? clock.stathz : clock.hz > 0 ? clock.hz : 0;
}

struct free_deleter {
    void operator()(uint64_t* p) const { std::free(p); }
};

void take_counters(stat_netif& slot, const struct if_data& data) {
    slot.received_bytes = data.ifi_ibytes;
    slot.send_bytes = data.ifi_obytes;
    slot.collisions = data.ifi_collisions;
    slot.input_errors = data.ifi_ierrors;
    slot.output_errors = data.ifi_oerrors;
}

}  // namespace

#if KELP_FREEBSD_IFADDRS

namespace {

struct ifaddrs_freer {
    void operator()(struct ifaddrs* list) const { freeifaddrs(list); }
};

}  // namespace

// On a descriptor for /dev/null libkvm answers kvm_getswapinfo from sysctl
// and opens no kernel memory device, so no privilege is needed.
void stat_OS_init() {
    kvm = kvm_open(nullptr, "/dev/null", nullptr, O_RDONLY, nullptr);
    if (!kvm) kvm_open_failed();
}

void stat_get_netif(stat_struct* target) {
    struct ifaddrs* first;
    if (getifaddrs(&first) == -1) {
        std::perror("Could not read ifnet");
        return;
    }
    const std::unique_ptr<struct ifaddrs, ifaddrs_freer> list(first);
    int i = 0;
    // Each interface comes as one AF_LINK entry, with the interface's
    // counters, followed by its addresses, whose if_data (where there is
    // one) counts for that address alone.
    for (const struct ifaddrs* a = first; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_LINK || !a->ifa_data) continue;
        if (i >= MAX_NETIF) {
            std::perror("Not enouth MAX_NETIF. Increase Value");
            continue;
        }
        std::snprintf(target->netif[i].name, sizeof target->netif[i].name, "%s", a->ifa_name);
        take_counters(target->netif[i], *static_cast<const struct if_data*>(a->ifa_data));
        ++i;
    }
    target->netif_count = i;
    stat_netif_diff(target);
}

#else

namespace {

constexpr size_t DRIVER_NAME_READ = 30;

struct nlist netif_list[2];  // "ifnet" and the terminating entry

template <typename T>
unsigned long kernel_address(T* pointer) {
    return reinterpret_cast<unsigned long>(pointer);
}

// The name as the kernel reports it. From 5.2 on the record keeps it whole;
// before, the driver name lies in kernel memory and the unit apart.
//
// if_xname replaced if_name and if_unit during 5.1-CURRENT, at the version
// bump 501113 that FreeBSD's version list gives for that change to struct
// ifnet: 5.0 (500000) and 5.1 (501000) still have if_name, 5.2 (502000) has
// if_xname. A snapshot on the wrong side of the line fails to compile; it
// never reads the wrong field.
bool interface_name(const struct ifnet& ifn, char (&name)[sizeof stat_netif::name]) {
#if __FreeBSD_version < 501113
    // The 30 bytes read need not hold a terminator; the spare byte bounds them.
    char driver[DRIVER_NAME_READ + 1] = {};
    if (kvm_read(kvm, kernel_address(ifn.if_name), driver, DRIVER_NAME_READ) == -1) {
        std::perror("kvm_read-if_name");
        return false;
    }
    // A driver name near 30 bytes and a long unit may not both fit the 31
    // characters of name: the end of the unit is cut.
    const int joined = std::snprintf(name, sizeof name, "%s%d", driver, static_cast<int>(ifn.if_unit));
    static_cast<void>(joined);
#else
    std::snprintf(name, sizeof name, "%.*s", static_cast<int>(sizeof ifn.if_xname), ifn.if_xname);
#endif
    return true;
}

// The list is read from a running kernel, record by record: an interface
// detached in between can leave a successor pointer that leads back into the
// list. Brent's cycle check notices with two words of state.
struct cycle_guard {
    unsigned long saved = 0;
    unsigned long power = 1;
    unsigned long steps = 0;

    bool seen_again(unsigned long address) {
        if (address == saved) return true;
        if (++steps == power) {
            saved = address;
            power *= 2;
            steps = 0;
        }
        return false;
    }
};

}  // namespace

void stat_OS_init() {
    kvm = kvm_open(nullptr, nullptr, nullptr, O_RDONLY, nullptr);
    if (!kvm) kvm_open_failed();
    netif_list[0].n_name = "ifnet";
}

void stat_get_netif(stat_struct* target) {
    // A live kernel's libkvm looks up only the entries still N_UNDF and leaves
    // the others as they are; nlist(3) on a kernel file clears and looks up
    // all. Clearing both fields asks both kinds afresh on every sample.
    netif_list[0].n_type = N_UNDF;
    netif_list[0].n_value = 0;
    if (kvm_nlist(kvm, netif_list) == -1) {
        std::perror("Could not find netif symbols");
        return;
    }
    if (netif_list[0].n_value == 0) return;

    struct ifnethead ifnethead;
    if (kvm_read(kvm, netif_list[0].n_value, &ifnethead, sizeof ifnethead) == -1) {
        std::perror("Could not read ifnethead");
        return;
    }

    int i = 0;
    cycle_guard guard;
    for (unsigned long address = kernel_address(ifnethead.tqh_first); address != 0;) {
        if (guard.seen_again(address)) {
            stat_empty_netif(target, i);
            return;
        }
        struct ifnet ifnets;
        if (kvm_read(kvm, address, &ifnets, sizeof ifnets) == -1) {
            std::perror("Could not read ifnet");
            stat_empty_netif(target, i);
            return;
        }
        if (i >= MAX_NETIF) {
            std::perror("Not enouth MAX_NETIF. Increase Value");
        } else {
            if (!interface_name(ifnets, target->netif[i].name)) {
                stat_empty_netif(target, i);
                return;
            }
            take_counters(target->netif[i], ifnets.if_data);
            ++i;
        }
        address = kernel_address(ifnets.if_link.tqe_next);
    }
    target->netif_count = i;
    stat_netif_diff(target);
}

#endif

void stat_get_load(stat_struct* target) {
    double loads[3];
    target->load = getloadavg(loads, 3) < 1 ? 0.0 : loads[0];
}

void stat_get_swap(stat_struct* target) {
    target->swap = {0, 0};
    target->mem = {0, 0};
    const auto pagesize = static_cast<uint64_t>(getpagesize());

    struct kvm_swap swaparray[SWAP_ROWS];
    std::memset(swaparray, 0, sizeof swaparray);
    int n = kvm_getswapinfo(kvm, swaparray, SWAP_ROWS, 0);
    if (n < 0) return;
    int rows = n + 1;
    if (rows > SWAP_ROWS - 1) {
        // A full table may have left devices out.
        std::puts("Too many swapdevices. Increase Value - Ask Author.\r");
        rows = SWAP_ROWS;
    }
    stat_swap swap{0, 0};
    for (int r = 0; r < rows; ++r) {
        if (!swaparray[r].ksw_devname[0]) continue;  // the summary row
        swap.total += static_cast<uint64_t>(static_cast<int64_t>(swaparray[r].ksw_total));
        swap.used += static_cast<uint64_t>(static_cast<int64_t>(swaparray[r].ksw_used));
    }
    target->swap = {swap.total * pagesize, swap.used * pagesize};

    static const char* const page_counts[] = {"vm.stats.vm.v_page_count", "vm.stats.vm.v_free_count",
                                              "vm.stats.vm.v_inactive_count"};
    uint64_t pages[3];
    for (int k = 0; k < 3; ++k) {
        uint64_t count[1];
        if (!sysctl_numbers(page_counts[k], count)) {
            char message[64];
            std::snprintf(message, sizeof message, "symbol %s not found", page_counts[k]);
            std::perror(message);
            return;  // memory stays 0 rather than a half-computed figure
        }
        pages[k] = count[0];
    }
    const uint64_t total = pages[0];
    // Inactive pages count as free. The three counts are read one after the
    // other from a running system, so their sum may overtake the total.
    const uint64_t available = pages[1] + pages[2];
    const uint64_t used = available < total ? total - available : 0;
    target->mem = {total * pagesize, used * pagesize};
}

void stat_get_cpu(stat_struct* target) {
    target->cpu = stat_cpu{};
    uint64_t ticks[CPUSTATES];
    if (!sysctl_numbers("kern.cp_time", ticks)) {
        std::perror("Could not read kern.cp_time");
        return;
    }
    uint64_t total[STAT_CPU_MODES] = {};
    for (const auto& s : PROCESSOR_STATES) total[s.mode] = ticks[s.state];
    stat_cpu_diff(total, target);
}

// kern.cp_times has a row for every processor number up to kern.smp.maxid;
// the row of a number no processor has is all 0, and is left out.
bool stat_get_cpu_seconds(stat_cpu_seconds_fn each, void* context) {
    constexpr uint64_t MOST_PROCESSORS = 1 << 16;
    uint64_t maxid[1];
    const long hz = statistics_clock();
    if (hz == 0 || !sysctl_numbers("kern.smp.maxid", maxid) || maxid[0] >= MOST_PROCESSORS) return false;
    const size_t n = (maxid[0] + 1) * CPUSTATES;
    const std::unique_ptr<uint64_t, free_deleter> ticks(static_cast<uint64_t*>(std::malloc(n * sizeof(uint64_t))));
    if (!ticks || !sysctl_numbers("kern.cp_times", ticks.get(), n)) return false;
    for (size_t row = 0; row < n; row += CPUSTATES) {
        const uint64_t* cpu = ticks.get() + row;
        uint64_t any = 0;
        for (size_t k = 0; k < CPUSTATES; ++k) any |= cpu[k];
        if (any == 0) continue;
        for (const auto& s : PROCESSOR_STATES)
            each(context, static_cast<int>(row / CPUSTATES), s.name,
                 static_cast<double>(cpu[s.state]) / static_cast<double>(hz));
    }
    return true;
}
