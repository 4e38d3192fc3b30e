#include <gtest/gtest.h>

#include "core/history.h"
#include "core/sampling.h"
#include "fake_backend.h"
#include "restart.h"

namespace {

stat_struct newest(int ring) { return history_get_travler(ring)->record(); }

TEST(Sampling, CascadeFoldsTensIntoRingsOneAndTwo) {
    // Ticks an earlier test left part-way through a ten must not shift the cascade.
    restart();
    for (int n = 0; n < 5; ++n) signal_interval_1(2);
    restart();

    // Samples 1..5 load 1.0, 6..10 load 3.0; memory grows by 10 per tick;
    // interface em0 receives 100 bytes per tick.
    uint64_t rx = 1000;
    auto tick = [&](int n) {
        fake_backend.load = n <= 5 ? 1.0 : 3.0;
        if (n > 10) fake_backend.load = n;
        fake_backend.mem = {uint64_t(1000), uint64_t(10) * static_cast<uint64_t>(n)};
        fake_set_netif(0, "em0", rx, 0);
        rx += 100;
        signal_interval_1(2);
    };

    for (int n = 1; n <= 9; ++n) tick(n);
    EXPECT_EQ(newest(0).load, 3.0);
    EXPECT_EQ(newest(1).load, 0.0) << "ring 1 untouched after 9 ticks";
    EXPECT_EQ(newest(1).netif_count, 0);
    EXPECT_EQ(newest(2).mem.total, 0u);

    tick(10);
    EXPECT_DOUBLE_EQ(newest(1).load, 2.0);
    EXPECT_EQ(newest(1).mem.used, 55u) << "mean of 10..100";
    ASSERT_EQ(newest(1).netif_count, 1);
    // The first sample of em0 counts 0, the other nine 100 each.
    EXPECT_EQ(newest(1).netif[0].received_bytes, 90u);
    EXPECT_EQ(newest(2).load, 0.0);

    for (int n = 11; n <= 99; ++n) tick(n);
    history_ring_struct* ring2_before = history_get_travler(2);
    tick(100);
    // Ring 1 now holds the mean of samples 91..100, ring 2 the mean of the
    // first ten ring-1 entries, including the one made on this tick.
    EXPECT_DOUBLE_EQ(newest(1).load, 95.5);
    double ring1_sum = 2.0;
    for (int k = 2; k <= 10; ++k) ring1_sum += (10.0 * k - 9 + 10.0 * k) / 2;
    EXPECT_DOUBLE_EQ(newest(2).load, ring1_sum / 10);
    EXPECT_NE(history_get_travler(2), ring2_before);

    // Tick 101 is tick 1 again, 110 is tick 10.
    history_ring_struct* ring1_before = history_get_travler(1);
    ring2_before = history_get_travler(2);
    tick(101);
    EXPECT_EQ(history_get_travler(1), ring1_before);
    for (int n = 102; n <= 109; ++n) tick(n);
    EXPECT_EQ(history_get_travler(1), ring1_before);
    tick(110);
    EXPECT_EQ(history_get_travler(1), ring1_before->next);
    EXPECT_DOUBLE_EQ(newest(1).load, 105.5);
    EXPECT_EQ(history_get_travler(2), ring2_before);
}

}  // namespace
