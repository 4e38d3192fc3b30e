// The simulated FreeBSD kernel behind fake_kernel.h. Kernel memory is built
// afresh from fake_freebsd on every kvm_read, so a test may change counters
// between samples; records sit at fixed, made-up kernel addresses. From
// release 11 on the interfaces come from getifaddrs instead.
#include "fake_kernel.h"

#include <sys/param.h>
#include <sys/types.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/sysctl.h>
#include <sys/time.h>
#include <net/if.h>
#include <net/if_var.h>
#include <ifaddrs.h>
#include <fcntl.h>
#include <kvm.h>
#include <nlist.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

// Initialized before the program starts: ThreadSanitizer asks for the page
// size while it sets itself up, before any constructor of the program runs.
constinit fake_freebsd_kernel fake_freebsd;
fake_system& fake_platform = fake_freebsd;
const bool fake_freebsd_reads_ifaddrs = __FreeBSD_version >= 1100000;
const bool fake_freebsd_driver_names = __FreeBSD_version < 501113;

struct __kvm {
    int unused;
};

namespace {

kvm_t live_kernel;
kvm_t sysctl_only;  // a descriptor on /dev/null

constexpr unsigned long IFNET_SYMBOL = 0xc0400000ul;
constexpr unsigned long IFNET_RECORDS = 0xc1000000ul;
constexpr unsigned long DRIVER_NAMES = 0xc2000000ul;  // release 4
constexpr unsigned long STRIDE = 0x1000ul;

#if __FreeBSD_version < 1100000
static_assert(sizeof(struct ifnet) < STRIDE);

unsigned long record_address(size_t k) { return IFNET_RECORDS + k * STRIDE; }
#endif

template <typename T>
T* kernel_pointer(unsigned long address) {
    return reinterpret_cast<T*>(address);
}

struct region {
    unsigned long start;
    std::vector<unsigned char> bytes;
};

template <typename T>
region region_of(unsigned long start, const T& value) {
    region r{start, std::vector<unsigned char>(sizeof value)};
    std::memcpy(r.bytes.data(), &value, sizeof value);
    return r;
}

// The interface's counters as the kernel keeps them.
void set_counters(struct if_data& d, const fake_ifnet& f) {
    d.ifi_ibytes = f.ibytes;
    d.ifi_obytes = f.obytes;
    d.ifi_collisions = f.collisions;
    d.ifi_ierrors = f.ierrors;
    d.ifi_oerrors = f.oerrors;
}

#if __FreeBSD_version < 1100000
#if __FreeBSD_version < 501113
unsigned long driver_address(size_t k) { return DRIVER_NAMES + k * STRIDE; }

void set_name(struct ifnet& ifn, const fake_ifnet& f, size_t k) {
    ifn.if_name = kernel_pointer<char>(driver_address(k));
    ifn.if_unit = static_cast<short>(f.unit);
    if (!f.driver.empty()) return;
    size_t digits = f.name.find_first_of("0123456789");
    if (digits != std::string::npos) ifn.if_unit = static_cast<short>(std::atoi(f.name.c_str() + digits));
}

std::string driver_of(const fake_ifnet& f) {
    return f.driver.empty() ? f.name.substr(0, f.name.find_first_of("0123456789")) : f.driver;
}

// The kernel keeps other data behind a driver name, so a read of 30 bytes
// always succeeds and finds more than the name.
region driver_region(const fake_ifnet& f, size_t k) {
    std::string bytes = driver_of(f);
    bytes.push_back('\0');
    bytes.append(64, 'X');
    return region{driver_address(k), std::vector<unsigned char>(bytes.begin(), bytes.end())};
}
#else
void set_name(struct ifnet& ifn, const fake_ifnet& f, size_t) {
    std::snprintf(ifn.if_xname, sizeof ifn.if_xname, "%s", f.name.c_str());
}
#endif

struct ifnet record_of(const fake_ifnet& f, size_t k) {
    struct ifnet ifn;
    std::memset(&ifn, 0, sizeof ifn);
    const size_t n = fake_freebsd.interfaces.size();
    unsigned long next = 0;
    if (k + 1 < n)
        next = record_address(k + 1);
    else if (fake_freebsd.loop_back_to >= 0)
        next = record_address(static_cast<size_t>(fake_freebsd.loop_back_to));
    ifn.if_link.tqe_next = kernel_pointer<struct ifnet>(next);
    ifn.if_index = static_cast<unsigned short>(k + 1);
    set_name(ifn, f, k);
    set_counters(ifn.if_data, f);
    return ifn;
}
#endif

std::vector<region> kernel_memory() {
    std::vector<region> memory;
#if __FreeBSD_version < 1100000
    const auto& ifs = fake_freebsd.interfaces;
    if (!fake_freebsd.head_unreadable) {
        struct ifnethead head;
        head.tqh_first = kernel_pointer<struct ifnet>(ifs.empty() ? 0 : record_address(0));
        head.tqh_last = nullptr;
        memory.push_back(region_of(IFNET_SYMBOL, head));
    }
    for (size_t k = 0; k < ifs.size(); ++k) {
        if (static_cast<int>(k) != fake_freebsd.unreadable_ifnet)
            memory.push_back(region_of(record_address(k), record_of(ifs[k], k)));
#if __FreeBSD_version < 501113
        if (static_cast<int>(k) != fake_freebsd.unreadable_driver_name) memory.push_back(driver_region(ifs[k], k));
#endif
    }
#endif
    return memory;
}

bool is_live(const kvm_t* kd) { return kd == &live_kernel; }

// What getifaddrs hands out: each interface as its AF_LINK entry, then an
// AF_INET address whose if_data counts that address alone (as the routing
// socket's long messages give it), then an address with no data at all.
struct ifaddrs_list {
    std::vector<struct ifaddrs> entries;
    std::vector<struct sockaddr> addresses;
    std::vector<struct if_data> data;
    std::vector<std::string> names;
};
std::vector<std::unique_ptr<ifaddrs_list>> held_lists;

void count_held() { fake_freebsd.ifaddrs_lists_held = static_cast<int>(held_lists.size()); }

std::unique_ptr<ifaddrs_list> list_of(const std::vector<fake_ifnet>& ifs) {
    constexpr int PER_INTERFACE = 3;
    auto list = std::make_unique<ifaddrs_list>();
    const size_t n = ifs.size() * PER_INTERFACE;
    list->entries.assign(n, {});
    list->addresses.assign(n, {});
    list->data.assign(n, {});
    for (const fake_ifnet& f : ifs) list->names.push_back(f.name);
    for (size_t e = 0; e < n; ++e) {
        const fake_ifnet& f = ifs[e / PER_INTERFACE];
        struct ifaddrs& a = list->entries[e];
        struct if_data& d = list->data[e];
        a.ifa_next = e + 1 < n ? &list->entries[e + 1] : nullptr;
        a.ifa_name = list->names[e / PER_INTERFACE].data();
        a.ifa_addr = &list->addresses[e];
        a.ifa_addr->sa_family = e % PER_INTERFACE == 0 ? AF_LINK : AF_INET;
        if (e % PER_INTERFACE == 0) {
            set_counters(d, f);
            a.ifa_data = f.no_link_data ? nullptr : &d;
        } else if (e % PER_INTERFACE == 1) {
            d.ifi_ibytes = d.ifi_obytes = 1;
            a.ifa_data = &d;
        }
    }
    return list;
}

}  // namespace

void fake_freebsd_reset() {
    fake_freebsd = fake_freebsd_kernel{};
    fake_freebsd.cpu_ticks = {{}};
    held_lists.clear();
}

// A descriptor on /dev/null reads no kernel memory (libkvm finds nothing
// there to read), but kvm_getswapinfo answers from sysctl on it.
kvm_t* kvm_open(const char* execfile, const char* corefile, const char* swapfile, int flags, const char* errstr) {
    ++fake_freebsd.open_calls;
    fake_freebsd.opened_live_kernel = !execfile && !corefile && !swapfile && !errstr;
    const bool devnull = corefile && std::strcmp(corefile, "/dev/null") == 0;
    fake_freebsd.opened_kernel_memory = !devnull;
    fake_freebsd.open_flags = flags;
    if (fake_freebsd.open_fails) {
        errno = EACCES;
        return nullptr;
    }
    return devnull ? &sysctl_only : &live_kernel;
}

// With no interfaces there is nothing to hand out: a null list, and success.
int getifaddrs(struct ifaddrs** ifap) {
    if (fake_freebsd.getifaddrs_fails) {
        errno = ENOMEM;
        return -1;
    }
    *ifap = nullptr;
    if (fake_freebsd.interfaces.empty()) return 0;
    held_lists.push_back(list_of(fake_freebsd.interfaces));
    count_held();
    *ifap = held_lists.back()->entries.data();
    return 0;
}

void freeifaddrs(struct ifaddrs* ifp) {
    if (!ifp) return;
    auto held = std::find_if(held_lists.begin(), held_lists.end(),
                             [&](const auto& list) { return list->entries.data() == ifp; });
    if (held == held_lists.end()) std::abort();  // not from getifaddrs, or freed twice
    held_lists.erase(held);
    count_held();
}

// As libkvm does on a live kernel (kvm.c, _kvm_nlist): an entry whose n_type
// is already set is skipped and left as it is, and the result counts every
// entry not found by this call, the skipped ones included. The switch gives
// nlist(3) on a kernel file, which clears and looks up every entry.
int kvm_nlist(kvm_t* kd, struct nlist* nl) {
    if (!is_live(kd) || fake_freebsd.nlist_fails) {
        errno = ENOENT;
        return -1;
    }
    int entries = 0, found = 0;
    for (; nl->n_name && nl->n_name[0]; ++nl, ++entries) {
        if (fake_freebsd.nlist_looks_up_all) {
            nl->n_type = N_UNDF;
            nl->n_value = 0;
        }
        if (nl->n_type != N_UNDF) continue;
        if (std::strcmp(nl->n_name, "ifnet") != 0 || fake_freebsd.ifnet_symbol_absent) continue;
        nl->n_type = N_TEXT;
        nl->n_value = IFNET_SYMBOL;
        ++found;
    }
    return entries - found;
}

// Reads as much of [addr, addr + nbytes) as one mapped region holds.
ssize_t kvm_read(kvm_t* kd, unsigned long addr, void* buf, size_t nbytes) {
    if (!is_live(kd)) {
        errno = EINVAL;
        return -1;
    }
    for (const region& r : kernel_memory()) {
        if (addr < r.start || addr - r.start >= r.bytes.size()) continue;
        size_t n = std::min(nbytes, r.bytes.size() - (addr - r.start));
        std::memcpy(buf, r.bytes.data() + (addr - r.start), n);
        return static_cast<ssize_t>(n);
    }
    errno = EFAULT;
    return -1;
}

// Like libkvm: at most swap_max - 1 device rows, then a row with an empty
// name holding the sum over all devices, listed or not.
int kvm_getswapinfo(kvm_t* kd, struct kvm_swap* swap_ary, int swap_max, int) {
    if ((!is_live(kd) && kd != &sysctl_only) || fake_freebsd.swapinfo_fails || swap_max < 1) {
        errno = EINVAL;
        return -1;
    }
    const auto& devices = fake_freebsd.swap;
    int n = std::min(static_cast<int>(devices.size()), swap_max - 1);
    struct kvm_swap sum;
    std::memset(&sum, 0, sizeof sum);
    for (size_t k = 0; k < devices.size(); ++k) {
        sum.ksw_total += devices[k].total;
        sum.ksw_used += devices[k].used;
        if (static_cast<int>(k) >= n) continue;
        std::memset(&swap_ary[k], 0, sizeof swap_ary[k]);
        std::snprintf(swap_ary[k].ksw_devname, sizeof swap_ary[k].ksw_devname, "%s", devices[k].devname.c_str());
        swap_ary[k].ksw_total = devices[k].total;
        swap_ary[k].ksw_used = devices[k].used;
    }
    swap_ary[n] = sum;
    return n;
}

namespace {

// The bytes of a number of width bytes: on this little-endian host its first
// bytes are the number narrowed; 16 bytes hold it in their low half.
void append_number(std::vector<unsigned char>& answer, uint64_t value, size_t width) {
    static_assert(std::endian::native == std::endian::little);
    unsigned char bytes[16] = {};
    std::memcpy(bytes, &value, std::min(width, sizeof value));
    answer.insert(answer.end(), bytes, bytes + std::min(width, sizeof bytes));
}

// What the kernel answers for a variable; false when it has none.
bool answer_of(const char* name, std::vector<unsigned char>& answer) {
    const fake_freebsd_kernel& k = fake_freebsd;
    const struct {
        const char* name;
        const fake_sysctl* variable;
    } page_counts[] = {{"vm.stats.vm.v_page_count", &k.page_count},
                       {"vm.stats.vm.v_free_count", &k.free_count},
                       {"vm.stats.vm.v_inactive_count", &k.inactive_count}};
    for (const auto& v : page_counts)
        if (std::strcmp(name, v.name) == 0) {
            if (v.variable->present) append_number(answer, v.variable->value, v.variable->width);
            return v.variable->present;
        }
    const std::string variable = name;
    if (variable == k.missing) return false;
    if (variable == "kern.cp_time") {
        for (size_t state = 0; state < CPUSTATES; ++state) {
            uint64_t sum = 0;
            for (const auto& cpu : k.cpu_ticks) sum += cpu[state];
            append_number(answer, sum, k.long_width);
        }
    } else if (variable == "kern.cp_times") {
        for (const auto& cpu : k.cpu_ticks)
            for (uint64_t ticks : cpu) append_number(answer, ticks, k.long_width);
    } else if (variable == "kern.smp.maxid") {
        append_number(answer, k.cpu_ticks.size() - 1, sizeof(int));
    } else if (variable == "kern.clockrate") {
        const struct clockinfo clock = {k.hz, 1000000 / k.hz, 0, k.stathz, k.stathz};
        const auto* bytes = reinterpret_cast<const unsigned char*>(&clock);
        answer.assign(bytes, bytes + sizeof clock);
    } else {
        return false;
    }
    return true;
}

}  // namespace

// As the kernel's sysctl(3) does: a buffer too small gets what fits of the
// answer and ENOMEM; a larger one gets the answer, and *oldlenp says how long
// it is; no buffer at all asks for the length alone.
int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, const void* newp, size_t) {
    std::vector<unsigned char> answer;
    if (!answer_of(name, answer)) {
        errno = ENOENT;
        return -1;
    }
    if (newp || !oldlenp) {
        errno = newp ? EPERM : EINVAL;
        return -1;
    }
    if (oldp) std::memcpy(oldp, answer.data(), std::min(*oldlenp, answer.size()));
    if (oldp && *oldlenp < answer.size()) {
        errno = ENOMEM;
        return -1;
    }
    *oldlenp = answer.size();
    return 0;
}
