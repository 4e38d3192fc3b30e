// A small generator of pseudo-random words, the same sequence on every run
// and every platform, so that a failure found with it can be replayed.
#pragma once

#include <cstdint>

struct xorshift {
    uint64_t s = 0x9E3779B97F4A7C15ull;
    uint64_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
};
