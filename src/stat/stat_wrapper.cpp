#include "stat/stat_wrapper.h"

#include <cstdint>
#include <cstring>

namespace {

// The raw counters of every interface name seen, at its latest sample. Touched
// by the sampling thread only.
stat_struct last_run;
int first_use = 1;

constexpr uint64_t WIDE_COUNTER = uint64_t{1} << 32;

// Some kernels keep 32-bit counters: the difference is taken on the low 32 bits
// and read as signed, so a wrap still gives the increase and a counter that was
// reset gives the size of its drop. 0x80000000 reads as -2^31, whose magnitude
// is reported as 2^31.
//
// A value at or above 2^32 cannot come from such a counter. A 64-bit one moves
// more than 2^31 in a second on a fast link, and it goes down only when it
// starts again from 0 (the interface was created again, its driver reloaded):
// then what it counted since is the increase.
uint64_t increase(uint64_t now, uint64_t before) {
    if (now >= WIDE_COUNTER || before >= WIDE_COUNTER) return now >= before ? now - before : now;
    auto d = static_cast<int32_t>(static_cast<uint32_t>(now - before));
    int64_t wide = d;
    return static_cast<uint64_t>(wide < 0 ? -wide : wide);
}

bool in_sample(const char* name, const stat_struct* sample) {
    for (const stat_netif& n : sample->netif)
        if (n.name[0] && std::strcmp(n.name, name) == 0) return true;
    return false;
}

// Where a name not seen before is remembered. Once all 25 entries are taken,
// the entry of an interface absent from this sample is recycled: the sample
// holds at most 24 other names, so one always exists.
stat_netif* free_entry(const stat_struct* sample) {
    if (last_run.netif_count < MAX_NETIF) return &last_run.netif[last_run.netif_count++];
    for (stat_netif& old : last_run.netif)
        if (!in_sample(old.name, sample)) return &old;
    return nullptr;
}

template <typename Record>
auto find_by_name(const char* name, Record* from_this) -> decltype(&from_this->netif[0]) {
    if (!name || !from_this) return nullptr;
    for (auto& n : from_this->netif)
        if (std::strcmp(n.name, name) == 0) return &n;
    return nullptr;
}

}  // namespace

void stat_init() { stat_OS_init(); }

void stat_cleanup(stat_struct* c) {
    if (!c) return;
    std::memset(c, 0, sizeof *c);
}

void stat_empty_netif(stat_struct* target, int filled) {
    for (int i = 0; i < filled && i < MAX_NETIF; ++i) target->netif[i] = stat_netif{};
    target->netif_count = 0;
}

stat_netif* stat_get_netif_byname(const char* name, stat_struct* from_this) {
    return find_by_name(name, from_this);
}

const stat_netif* stat_get_netif_byname(const char* name, const stat_struct* from_this) {
    return find_by_name(name, from_this);
}

void stat_netif_forget() { first_use = 1; }

void stat_netif_diff(stat_struct* from_this) {
    if (first_use) {
        first_use = 0;
        for (stat_netif& n : last_run.netif) n.name[0] = '\0';
        last_run.netif_count = 0;
    }
    for (stat_netif& n : from_this->netif) {
        if (!n.name[0]) continue;
        stat_netif* seen = nullptr;
        for (int i = 0; i < last_run.netif_count; ++i)
            if (std::strcmp(last_run.netif[i].name, n.name) == 0) {
                seen = &last_run.netif[i];
                break;
            }
        if (seen) {
            for (auto c : STAT_NETIF_COUNTERS) {
                uint64_t raw = n.*c;
                n.*c = increase(raw, seen->*c);
                seen->*c = raw;
            }
            continue;
        }
        stat_netif* entry = free_entry(from_this);
        if (entry) {
            *entry = n;
            entry->name[sizeof entry->name - 1] = '\0';
        }
        for (auto c : STAT_NETIF_COUNTERS) n.*c = 0;
    }
}
