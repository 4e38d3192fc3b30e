// What the tests of every FreeBSD release share: a simulated kernel back at
// its start before each test, and samples taken from it.
#pragma once

#include <cstdint>
#include <string>

#include "backend_test.h"
#include "fake_kernel.h"

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

// The simulated interface's counters in the order of STAT_NETIF_COUNTERS.
constexpr uint64_t fake_ifnet::*IFNET_COUNTERS[] = {&fake_ifnet::ibytes, &fake_ifnet::obytes, &fake_ifnet::collisions,
                                                    &fake_ifnet::ierrors, &fake_ifnet::oerrors};

inline fake_ifnet interface(const std::string& name, uint64_t start = 0) {
    fake_ifnet f;
    f.name = name;
    for (auto c : IFNET_COUNTERS) f.*c = start;
    return f;
}
