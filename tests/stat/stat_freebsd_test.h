// What the tests of every FreeBSD release share: a simulated kernel back at
// its start before each test, and samples taken from it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "fake_kernel.h"
#include "stat/stat_wrapper.h"

class FreeBSDStart : public testing::Test {
protected:
    void SetUp() override { fake_freebsd_reset(); }
};

class FreeBSDBackend : public FreeBSDStart {
protected:
    void SetUp() override {
        FreeBSDStart::SetUp();
        stat_OS_init();
    }
};

inline fake_ifnet interface(const std::string& name, uint64_t start = 0) {
    fake_ifnet f;
    f.name = name;
    f.ibytes = f.obytes = f.collisions = f.ierrors = f.oerrors = start;
    return f;
}

inline stat_struct take_netif() {
    stat_struct s;
    stat_cleanup(&s);
    stat_get_netif(&s);
    return s;
}

// A record as the caller might hand it over, to see what a failed walk leaves.
inline stat_struct handed_over() {
    stat_struct s;
    stat_cleanup(&s);
    s.netif_count = 9;
    std::snprintf(s.netif[0].name, sizeof s.netif[0].name, "keep");
    s.netif[0].received_bytes = 42;
    return s;
}
