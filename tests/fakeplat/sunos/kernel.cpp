// The simulated Solaris kernel behind fake_kstat.h. Each kstat_open copies the
// kernel's kstats into a chain of its own, as libkstat does, with no data
// until kstat_read fetches the current values of one of them into the
// handle's own buffers; kstat_close frees them.
#include "fake_kstat.h"

#include <sys/types.h>
#include <sys/swap.h>
#include <sys/sysinfo.h>
#include <kstat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

// Initialized before the program starts: ThreadSanitizer asks for the page
// size while it sets itself up, before any constructor of the program runs.
constinit fake_sunos_kernel fake_sunos;
fake_system& fake_platform = fake_sunos;

namespace {

static_assert(sizeof(cpu_stat_t) == 380 && offsetof(cpu_stat_t, cpu_sysinfo.cpu) == 8);

constexpr size_t PATH_ROOM = 1024;  // what a caller must provide per ste_path

struct handle {
    kstat_ctl_t control;
    std::vector<std::unique_ptr<kstat_t>> chain;
    std::vector<std::vector<kstat_named_t>> named;  // by ks_kid
    std::vector<cpu_stat_t> raw;                    // by ks_kid
};
std::vector<std::unique_ptr<handle>> handles;

handle* handle_of(const kstat_ctl_t* kc) {
    for (auto& h : handles)
        if (&h->control == kc) return h.get();
    return nullptr;
}

void copy_name(char (&to)[KSTAT_STRLEN], const std::string& from) {
    std::snprintf(to, sizeof to, "%s", from.c_str());
}

kstat_named_t named_of(const fake_named& f) {
    kstat_named_t n;
    std::memset(&n, 0, sizeof n);
    // Nothing promises what the rest of the union holds under a 32-bit value;
    // zeros would let a 64-bit read of it pass on this little-endian host.
    std::memset(&n.value, 0xa5, sizeof n.value);
    copy_name(n.name, f.name);
    if (f.wide) {
        n.data_type = KSTAT_DATA_UINT64;
        n.value.ui64 = f.value;
    } else {
        n.data_type = KSTAT_DATA_UINT32;
        n.value.ui32 = static_cast<uint32_t>(f.value);
    }
    return n;
}

}  // namespace

void fake_sunos_reset() {
    fake_sunos = fake_sunos_kernel{};
    handles.clear();
}

kstat_ctl_t* kstat_open() {
    if (fake_sunos.open_fails) {
        errno = EACCES;
        return nullptr;
    }
    auto h = std::make_unique<handle>();
    const size_t n = fake_sunos.kstats.size();
    h->named.resize(n);
    h->raw.resize(n);
    for (size_t k = 0; k < n; ++k) {
        const fake_kstat& f = fake_sunos.kstats[k];
        auto ks = std::make_unique<kstat_t>();
        std::memset(ks.get(), 0, sizeof *ks);
        ks->ks_kid = static_cast<kid_t>(k);
        copy_name(ks->ks_module, f.module);
        copy_name(ks->ks_name, f.name);
        copy_name(ks->ks_class, f.ks_class);
        ks->ks_instance = f.instance;
        ks->ks_type = f.cpu_stat ? KSTAT_TYPE_RAW : KSTAT_TYPE_NAMED;
        if (!h->chain.empty()) h->chain.back()->ks_next = ks.get();
        h->chain.push_back(std::move(ks));
    }
    h->control.kc_chain_id = 1;
    h->control.kc_chain = h->chain.empty() ? nullptr : h->chain.front().get();
    handles.push_back(std::move(h));
    fake_sunos.handles_open = static_cast<int>(handles.size());
    return &handles.back()->control;
}

int kstat_close(kstat_ctl_t* kc) {
    auto open = std::find_if(handles.begin(), handles.end(), [&](const auto& h) { return &h->control == kc; });
    if (open == handles.end()) std::abort();  // not from kstat_open, or closed twice
    handles.erase(open);
    fake_sunos.handles_open = static_cast<int>(handles.size());
    return 0;
}

// A raw kstat's data is the kernel's structure as it is, every byte of it: the
// processor states are set, the rest is a pattern no reader should take for them.
kid_t kstat_read(kstat_ctl_t* kc, kstat_t* ksp, void*) {
    handle* h = handle_of(kc);
    // A kstat not of this handle's chain, or one the kernel has deleted since.
    if (!h || !ksp || ksp->ks_kid < 0 || static_cast<size_t>(ksp->ks_kid) >= h->chain.size() ||
        h->chain[static_cast<size_t>(ksp->ks_kid)].get() != ksp ||
        static_cast<size_t>(ksp->ks_kid) >= fake_sunos.kstats.size()) {
        errno = ENXIO;
        return -1;
    }
    const auto kid = static_cast<size_t>(ksp->ks_kid);
    const fake_kstat& f = fake_sunos.kstats[kid];
    if (f.read_fails) {
        errno = EIO;
        return -1;
    }
    if (f.cpu_stat) {
        cpu_stat_t& c = h->raw[kid];
        std::memset(&c, 0xa5, sizeof c);
        std::copy(std::begin(f.ticks), std::end(f.ticks), c.cpu_sysinfo.cpu);
        ksp->ks_data = &c;
        ksp->ks_ndata = 1;
        ksp->ks_data_size = sizeof c;
        return h->control.kc_chain_id;
    }
    std::vector<kstat_named_t>& d = h->named[kid];
    d.clear();
    for (const fake_named& s : f.stats) d.push_back(named_of(s));
    ksp->ks_data = d.data();
    ksp->ks_ndata = static_cast<unsigned>(d.size());
    ksp->ks_data_size = d.size() * sizeof(kstat_named_t);
    return h->control.kc_chain_id;
}

// As libkstat: EINVAL for a kstat that holds no named entries. One never
// read has no data and finds nothing here (the fake keeps ks_ndata 0 until
// kstat_read; the real library's header already carries the kernel's count,
// so a lookup before kstat_read is not safe there at all).
void* kstat_data_lookup(kstat_t* ksp, char* name) {
    if (ksp->ks_type != KSTAT_TYPE_NAMED && ksp->ks_type != KSTAT_TYPE_TIMER) {
        errno = EINVAL;
        return nullptr;
    }
    auto* n = static_cast<kstat_named_t*>(ksp->ks_data);
    for (unsigned k = 0; n && k < ksp->ks_ndata; ++k)
        if (std::strncmp(n[k].name, name, KSTAT_STRLEN) == 0) return &n[k];
    errno = ENOENT;
    return nullptr;
}

int swapctl(int cmd, void* arg) {
    ++fake_sunos.swapctl_calls;
    const auto& devices = fake_sunos.swap;
    if (cmd == SC_GETNSWP) {
        if (fake_sunos.getnswp_fails) {
            errno = EPERM;
            return -1;
        }
        return static_cast<int>(devices.size()) - fake_sunos.added_after_count;
    }
    if (cmd != SC_LIST || !arg) {
        errno = EINVAL;
        return -1;
    }
    if (fake_sunos.list_fails) {
        errno = EPERM;
        return -1;
    }
    if (fake_sunos.list_lists_nothing) return 0;
    auto* table = static_cast<swaptbl_t*>(arg);
    swapent_t* entries = table->swt_ent;
    // swapctl(2): a table with fewer entries than devices is ENOMEM, not a
    // shorter listing.
    const int n = static_cast<int>(devices.size());
    if (table->swt_n < n) {
        errno = ENOMEM;
        return -1;
    }
    for (int k = 0; k < n; ++k) {
        if (!entries[k].ste_path) {
            errno = EFAULT;
            return -1;
        }
        std::snprintf(entries[k].ste_path, PATH_ROOM, "%s", devices[static_cast<size_t>(k)].path.c_str());
        entries[k].ste_pages = devices[static_cast<size_t>(k)].pages;
        entries[k].ste_free = devices[static_cast<size_t>(k)].free;
        entries[k].ste_flags = 0;
    }
    return n;
}
