#include "stat/stat_wrapper.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace {

// The raw counters of every interface name seen, at its latest sample. Touched
// by the sampling thread only.
stat_netif last_run[MAX_NETIF];
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

template <typename Netif>
Netif* find_by_name(const char* name, Netif (&table)[MAX_NETIF]) {
    for (Netif& n : table)
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
    return name && from_this ? find_by_name(name, from_this->netif) : nullptr;
}

const stat_netif* stat_get_netif_byname(const char* name, const stat_struct* from_this) {
    return name && from_this ? find_by_name(name, from_this->netif) : nullptr;
}

// Once every entry is taken, the sample holds at most MAX_NETIF - 1 names
// besides this one, so an entry of an interface absent from it exists.
stat_netif* stat_netif_entry(stat_netif (&table)[MAX_NETIF], const char* name, const stat_struct* sample) {
    if (stat_netif* seen = find_by_name(name, table)) return seen;
    for (stat_netif& t : table)
        if (!t.name[0]) return &t;
    for (stat_netif& t : table)
        if (!stat_get_netif_byname(t.name, sample)) return &t;
    return nullptr;
}

void stat_netif_diff(stat_struct* from_this) {
    if (first_use) {
        first_use = 0;
        for (stat_netif& n : last_run) n.name[0] = '\0';
    }
    for (stat_netif& n : from_this->netif) {
        if (!n.name[0]) continue;
        stat_netif* seen = stat_netif_entry(last_run, n.name, from_this);
        if (seen && std::strcmp(seen->name, n.name) == 0) {
            for (auto c : STAT_NETIF_COUNTERS) {
                uint64_t raw = n.*c;
                n.*c = increase(raw, seen->*c);
                seen->*c = raw;
            }
            continue;
        }
        if (seen) {
            *seen = n;
            seen->name[sizeof seen->name - 1] = '\0';
        }
        for (auto c : STAT_NETIF_COUNTERS) n.*c = 0;
    }
}

namespace {

// The CPU time counters of the previous call of stat_cpu_diff. Touched by the
// sampling thread only.
uint64_t cpu_before[STAT_CPU_MODES];
bool cpu_remembered = false;

// Widest increase that stays exact below: seven of them times STAT_CPU_WHOLE
// (under 2^14) fit in 64 bits.
constexpr int CPU_INCREASE_BITS = 46;

}  // namespace

// By largest remainder: every mode gets its share rounded down, and the units
// that leaves over go to the modes that lost the most by it, the earlier mode
// on a tie.
void stat_cpu_shares(uint64_t (&increase)[STAT_CPU_MODES], uint16_t (&share)[STAT_CPU_MODES]) {
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
    uint64_t remainder[STAT_CPU_MODES];
    unsigned given = 0;
    for (int m = 0; m < STAT_CPU_MODES; ++m) {
        const uint64_t scaled = increase[m] * STAT_CPU_WHOLE;
        share[m] = static_cast<uint16_t>(scaled / sum);
        remainder[m] = scaled % sum;
        given += share[m];
    }
    for (; given < STAT_CPU_WHOLE; ++given) {
        int most = 0;
        for (int m = 1; m < STAT_CPU_MODES; ++m)
            if (remainder[m] > remainder[most]) most = m;
        ++share[most];
        remainder[most] = 0;
    }
}

void stat_cpu_diff(const uint64_t (&total)[STAT_CPU_MODES], stat_struct* target) {
    target->cpu = stat_cpu{};
    uint64_t increase[STAT_CPU_MODES];
    bool went_down = false;
    uint64_t any = 0;
    for (int m = 0; m < STAT_CPU_MODES; ++m) {
        went_down |= total[m] < cpu_before[m];
        increase[m] = total[m] - cpu_before[m];
        any |= increase[m];
    }
    const bool figure = cpu_remembered && !went_down && any != 0;
    std::memcpy(cpu_before, total, sizeof cpu_before);
    cpu_remembered = true;
    if (figure) stat_cpu_shares(increase, target->cpu.share);
}

void stat_forget() {
    first_use = 1;
    cpu_remembered = false;
}
