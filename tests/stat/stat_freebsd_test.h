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
