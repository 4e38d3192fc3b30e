// A record that one thread writes and others copy, with no lock the writer
// could wait on: the writer never waits, a reader that overlaps a write retries.
//
// Thread contract: one writer at a time (the sampling thread); any number of
// readers. The record is kept as atomic words so that a copy racing a write is
// a retried read, not a data race.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

template <typename T>
class seqlock_cell {
    static_assert(std::is_trivially_copyable_v<T>);
    static constexpr size_t WORDS = (sizeof(T) + sizeof(uint64_t) - 1) / sizeof(uint64_t);

public:
    void store(const T& value) {
        const uint32_t s = sequence.load(std::memory_order_relaxed);
        // Odd while the words change; the fence keeps the word stores after it.
        sequence.store(s + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        const auto* from = reinterpret_cast<const unsigned char*>(&value);
        for (size_t i = 0; i < WORDS; ++i)
            word[i].store(chunk(from, i), std::memory_order_relaxed);
        sequence.store(s + 2, std::memory_order_release);
    }

    void load(T& out) const {
        uint64_t copy[WORDS];
        read_words(copy, 0, WORDS);
        std::memcpy(&out, copy, sizeof(T));
    }

    // One member of the record, as whole as a copy of all of it, but only the
    // words that hold the member are read: a reader that wants one figure of
    // each record need not copy the rest.
    template <typename M>
    M load_member(M T::*member) const {
        static constexpr T probe{};
        const size_t offset = static_cast<size_t>(reinterpret_cast<const unsigned char*>(&(probe.*member)) -
                                                  reinterpret_cast<const unsigned char*>(&probe));
        const size_t first = offset / sizeof(uint64_t);
        uint64_t copy[(sizeof(M) + 2 * sizeof(uint64_t) - 2) / sizeof(uint64_t)];
        read_words(copy, first, (offset + sizeof(M) - 1) / sizeof(uint64_t) + 1);
        M out;
        std::memcpy(&out, reinterpret_cast<const unsigned char*>(copy) + (offset - first * sizeof(uint64_t)), sizeof(M));
        return out;
    }

private:
    // Copies words [from, to) as they stood between two stores.
    void read_words(uint64_t* copy, size_t from, size_t to) const {
        for (;;) {
            const uint32_t before = sequence.load(std::memory_order_acquire);
            if (before & 1u) continue;
            for (size_t i = from; i < to; ++i) copy[i - from] = word[i].load(std::memory_order_relaxed);
            // Keeps the word loads before the second look at the sequence.
            std::atomic_thread_fence(std::memory_order_acquire);
            if (sequence.load(std::memory_order_relaxed) == before) return;
        }
    }

    static uint64_t chunk(const unsigned char* from, size_t i) {
        uint64_t w = 0;
        const size_t offset = i * sizeof(uint64_t);
        const size_t n = sizeof(T) - offset < sizeof w ? sizeof(T) - offset : sizeof w;
        std::memcpy(&w, from + offset, n);
        return w;
    }

    std::atomic<uint32_t> sequence{0};
    std::atomic<uint64_t> word[WORDS]{};
};
