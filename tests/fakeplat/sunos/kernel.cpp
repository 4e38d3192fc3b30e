// The simulated Solaris kernel behind fake_kstat.h. kstat_open copies the
// kernel's kstats into a chain of its own, as libkstat does, with no data
// until kstat_read fetches the current values of one of them.
#include "fake_kstat.h"

#include <sys/types.h>
#include <sys/swap.h>
#include <kstat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

fake_sunos_kernel fake_sunos;
fake_system& fake_platform = fake_sunos;

void fake_sunos_reset() { fake_sunos = fake_sunos_kernel{}; }

namespace {

constexpr size_t PATH_ROOM = 1024;  // what a caller must provide per ste_path

kstat_ctl_t control;
std::vector<std::unique_ptr<kstat_t>> chain;
std::vector<std::vector<kstat_named_t>> data;  // by ks_kid

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

kstat_ctl_t* kstat_open() {
    if (fake_sunos.open_fails) {
        errno = EACCES;
        return nullptr;
    }
    chain.clear();
    data.assign(fake_sunos.kstats.size(), {});
    for (size_t k = 0; k < fake_sunos.kstats.size(); ++k) {
        const fake_kstat& f = fake_sunos.kstats[k];
        auto ks = std::make_unique<kstat_t>();
        std::memset(ks.get(), 0, sizeof *ks);
        ks->ks_kid = static_cast<kid_t>(k);
        copy_name(ks->ks_module, f.module);
        copy_name(ks->ks_name, f.name);
        copy_name(ks->ks_class, f.ks_class);
        ks->ks_type = KSTAT_TYPE_NAMED;
        if (!chain.empty()) chain.back()->ks_next = ks.get();
        chain.push_back(std::move(ks));
    }
    control.kc_chain_id = 1;
    control.kc_chain = chain.empty() ? nullptr : chain.front().get();
    return &control;
}

kid_t kstat_read(kstat_ctl_t* kc, kstat_t* ksp, void*) {
    if (kc != &control || !ksp || ksp->ks_kid < 0 || static_cast<size_t>(ksp->ks_kid) >= data.size()) {
        errno = ENXIO;
        return -1;
    }
    const fake_kstat& f = fake_sunos.kstats[static_cast<size_t>(ksp->ks_kid)];
    if (f.read_fails) {
        errno = EIO;
        return -1;
    }
    std::vector<kstat_named_t>& d = data[static_cast<size_t>(ksp->ks_kid)];
    d.clear();
    for (const fake_named& s : f.stats) d.push_back(named_of(s));
    ksp->ks_data = d.data();
    ksp->ks_ndata = static_cast<unsigned>(d.size());
    ksp->ks_data_size = d.size() * sizeof(kstat_named_t);
    return control.kc_chain_id;
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
