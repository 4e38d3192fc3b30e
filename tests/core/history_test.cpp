#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "core/history.h"

namespace {

stat_struct record_with_load(double load) {
    stat_struct s;
    stat_cleanup(&s);
    s.load = load;
    s.netif_count = 1;
    std::snprintf(s.netif[0].name, sizeof s.netif[0].name, "em%d", static_cast<int>(load));
    s.mem = {static_cast<uint64_t>(load), static_cast<uint64_t>(load)};
    return s;
}

class History : public ::testing::Test {
protected:
    static void SetUpTestSuite() { history_init(); }
};

// Runs first within this suite (tests run in declaration order), while the
// rings are still fresh.
TEST_F(History, FreshRingIsClosedCircleOfClearedSlots) {
    for (int r = 0; r < HISTORY_RINGS; ++r) {
        history_ring_struct* start = history_get_travler(r);
        history_ring_struct* s = start;
        for (int i = 0; i < HISTORY_SLOTS; ++i) {
            ASSERT_EQ(s->next->prev, s);
            EXPECT_EQ(s->record().load, 0.0);
            EXPECT_EQ(s->record().netif_count, 0);
            EXPECT_EQ(s->record().netif[0].name[0], '\0');
            if (i < HISTORY_SLOTS - 1) {
                EXPECT_NE(s->prev, start) << "circle shorter than 450 at " << i;
            }
            s = s->prev;
        }
        EXPECT_EQ(s, start) << "450 steps back return to the start";
        EXPECT_EQ(start->next, start->prev->next->next);
    }
}

TEST_F(History, FirstStoreLandsAfterCurrentAndBecomesNewest) {
    history_ring_struct* before = history_get_travler(0);
    stat_struct r = record_with_load(7);
    history_put_data(0, &r);
    history_ring_struct* now = history_get_travler(0);
    EXPECT_EQ(now, before->next);
    EXPECT_EQ(now->record().load, 7.0);
    EXPECT_STREQ(now->record().netif[0].name, "em7");
    // The other two rings did not move.
    history_ring_struct* r1 = history_get_travler(1);
    history_ring_struct* r2 = history_get_travler(2);
    history_put_data(0, &r);
    EXPECT_EQ(history_get_travler(1), r1);
    EXPECT_EQ(history_get_travler(2), r2);
}

TEST_F(History, OldestIsSecondAfter451Stores) {
    for (int i = 1; i <= 451; ++i) {
        stat_struct r = record_with_load(i);
        history_put_data(1, &r);
    }
    history_ring_struct* newest = history_get_travler(1);
    EXPECT_EQ(newest->record().load, 451.0);
    history_ring_struct* s = newest;
    for (int i = 0; i < 449; ++i) s = s->prev;
    EXPECT_EQ(s, newest->next) << "449 steps back is the oldest";
    EXPECT_EQ(s->record().load, 2.0);
    EXPECT_EQ(newest->prev->record().load, 450.0);
}

TEST_F(History, InvalidRingOrNullRecordChangesNothing) {
    stat_struct r = record_with_load(99);
    history_ring_struct* cur[3] = {history_get_travler(0), history_get_travler(1), history_get_travler(2)};
    stat_struct newest0 = cur[0]->record();
    history_put_data(3, &r);
    history_put_data(-1, &r);
    history_put_data(0, nullptr);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(history_get_travler(i), cur[i]);
    const stat_struct now0 = history_get_travler(0)->record();
    EXPECT_EQ(0, std::memcmp(&newest0, &now0, sizeof newest0));
}

// A reader that copies slots while the writer stores must always see whole
// records: every field of a record carries the same number.
TEST_F(History, ConcurrentReadersNeverSeeTornRecords) {
    std::atomic<bool> stop{false};
    std::atomic<long> torn{0}, reads{0};
    // The writer goes on until both readers have walked the ring a few times
    // while it was storing (bounded, in case a reader never gets to run).
    std::atomic<int> walks{0};
    std::thread writer([&] {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (int i = 1; i <= 20000 || (walks < 8 && std::chrono::steady_clock::now() < until); ++i) {
            stat_struct r = record_with_load(1 + i % 100000);
            history_put_data(2, &r);
        }
        stop = true;
    });
    auto reader = [&] {
        while (!stop) {
            const history_ring_struct* s = history_get_travler(2);
            for (int step = 0; step < HISTORY_SLOTS; ++step, s = s->prev) {
                stat_struct copy;
                history_copy_slot(2, s, &copy);
                char expect[32] = "";  // a slot never written is cleared
                if (copy.load != 0) std::snprintf(expect, sizeof expect, "em%d", static_cast<int>(copy.load));
                if (copy.mem.total != static_cast<uint64_t>(copy.load) || std::strcmp(copy.netif[0].name, expect) != 0)
                    ++torn;
                ++reads;
            }
            ++walks;
        }
    };
    std::thread a(reader), b(reader);
    writer.join();
    a.join();
    b.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GE(walks.load(), 8);
    EXPECT_GT(reads.load(), 0);
}

}  // namespace
