#include "stat/stat_wrapper.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace {

// The raw counters of every interface name seen, at its latest sample. Touched
// by the sampling thread only.
stat_struct last_run;
int first_use = 1;

// Some kernels keep 32-bit counters: the difference is taken on the low 32 bits
// and read as signed, so a wrap still gives the increase and a counter that was
// reset gives the size of its drop. 0x80000000 reads as -2^31, whose magnitude
// is reported as 2^31.
uint64_t increase(uint64_t now, uint64_t before) {
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

namespace {

// The CPU time counters of the previous call of stat_cpu_diff. Touched by the
// sampling thread only.
uint64_t cpu_before[CPU_MODES];
bool cpu_remembered = false;

// Widest increase that stays exact below: seven of them times STAT_CPU_WHOLE
// (under 2^14) fit in 64 bits.
constexpr int CPU_INCREASE_BITS = 46;

// Each increase's share of their sum in units of 1/STAT_CPU_WHOLE, by largest
// remainder: every mode gets its share rounded down, and the units that leaves
// over go to the modes that lost the most by it, the earlier mode on a tie.
void shares_of(uint64_t (&increase)[CPU_MODES], uint16_t (&share)[CPU_MODES]) {
    // Increases of a counter that runs for centuries would overflow the
    // products; dropping their low bits changes no share by a unit.
    uint64_t widest = 0;
    for (uint64_t inc : increase) widest |= inc;
    const int drop = static_cast<int>(std::bit_width(widest)) - CPU_INCREASE_BITS;
    uint64_t sum = 0;
    for (uint64_t& inc : increase) {
        if (drop > 0) inc >>= drop;
        sum += inc;
    }
    uint64_t remainder[CPU_MODES];
    unsigned given = 0;
    for (int m = 0; m < CPU_MODES; ++m) {
        const uint64_t scaled = increase[m] * STAT_CPU_WHOLE;
        share[m] = static_cast<uint16_t>(scaled / sum);
        remainder[m] = scaled % sum;
        given += share[m];
    }
    for (; given < STAT_CPU_WHOLE; ++given) {
        int most = 0;
        for (int m = 1; m < CPU_MODES; ++m)
            if (remainder[m] > remainder[most]) most = m;
        ++share[most];
        remainder[most] = 0;
    }
}

}  // namespace

void stat_cpu_diff(const uint64_t (&total)[CPU_MODES], stat_struct* target) {
    target->cpu = stat_cpu{};
    uint64_t increase[CPU_MODES];
    bool went_down = false;
    uint64_t any = 0;
    for (int m = 0; m < CPU_MODES; ++m) {
        went_down |= total[m] < cpu_before[m];
        increase[m] = total[m] - cpu_before[m];
        any |= increase[m];
    }
    const bool figure = cpu_remembered && !went_down && any != 0;
    std::memcpy(cpu_before, total, sizeof cpu_before);
    cpu_remembered = true;
    if (figure) shares_of(increase, target->cpu.share);
}

void stat_forget() {
    stat_netif_forget();
    cpu_remembered = false;
}
