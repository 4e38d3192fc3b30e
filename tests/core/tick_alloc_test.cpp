// The tick allocates nothing: every record lives on its stack or in a ring
// slot that exists since start-up. This binary replaces the allocator with one
// that counts the calls made on the test's own thread while it is armed;
// operator new comes to it through malloc.
//
// On Linux the tick runs the real backend, first on the real /proc and then on
// files of our own in which interfaces come and go and overflow the 25 slots.
// Every module is on, the CPU module too, which is off by default.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/history.h"
#include "core/sampling.h"
#include "restart.h"
#include "sanitized.h"
#include "scratch.h"
#ifdef __linux__
#include "stat/stat_linux.h"
#endif

// The sanitizers bring allocators of their own; replacing malloc beside them
// would break both, so the counting allocator exists only without them.
#if !defined(KELP_SANITIZED) && defined(__GLIBC__)
#define KELP_COUNTING_ALLOCATOR 1

namespace {
// Thread-local so that nothing gtest does on other threads is counted.
thread_local bool armed = false;
thread_local long allocations = 0;

void note() {
    if (armed) ++allocations;
}
}  // namespace

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t n) { note(); return __libc_malloc(n); }
void* calloc(size_t n, size_t size) { note(); return __libc_calloc(n, size); }
void* realloc(void* p, size_t n) { note(); return __libc_realloc(p, n); }
void* memalign(size_t align, size_t n) { note(); return __libc_memalign(align, n); }
void* aligned_alloc(size_t align, size_t n) { note(); return __libc_memalign(align, n); }
int posix_memalign(void** out, size_t align, size_t n) {
    note();
    void* p = __libc_memalign(align, n);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}
void free(void* p) { __libc_free(p); }
}
#endif

namespace {

#ifdef KELP_COUNTING_ALLOCATOR
// Allocations made on this thread by f.
template <typename F>
long allocations_in(F&& f) {
    long before = allocations;
    armed = true;
    f();
    armed = false;
    return allocations - before;
}
#endif

class TickAllocation : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef KELP_COUNTING_ALLOCATOR
        GTEST_SKIP() << "the sanitizer's allocator cannot be replaced";
#else
        restart("module.cpu.enable 1\n");
#endif
    }
};

#ifdef KELP_COUNTING_ALLOCATOR

// A zero below means nothing if the counter misses allocations: each way in
// that the tick could allocate must be seen.
TEST_F(TickAllocation, CounterSeesEveryKindOfAllocation) {
    using allocator_fn = void* (*)(size_t);
    static volatile allocator_fn raw = malloc;  // keeps the pair from being folded away
    struct row {
        const char* desc;
        void (*run)();
    } rows[] = {
        {"malloc", [] { free(raw(64)); }},
        {"calloc", [] { free(calloc(4, 16)); }},
        {"realloc", [] { free(realloc(nullptr, 32)); }},
        {"operator new", [] { std::vector<int> v(100); }},
        {"inside libc (fopen)",
         [] {
             if (FILE* f = std::fopen("/dev/null", "r")) std::fclose(f);
         }},
        {"inside libc (strdup)", [] { free(strdup("kelp")); }},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        EXPECT_GE(allocations_in(r.run), 1);
    }
}

// Past tick 1000 every stage of the cascade has run more than once; on Linux
// over the real /proc, elsewhere over the scriptable backend.
TEST_F(TickAllocation, TicksAllocateNothing) {
    long n = allocations_in([] {
        for (int i = 0; i < 1000; ++i) signal_interval_1(2);
    });
#ifdef __linux__
    // Fast ticks mostly find no CPU time gone by; after a pause the last one
    // turns an increase into shares.
    usleep(30000);
    n += allocations_in([] { signal_interval_1(2); });
#endif
    EXPECT_EQ(n, 0);
#ifdef __linux__
    const stat_struct newest = history_get_travler(0)->record();
    EXPECT_GT(newest.mem.total, 0u) << "the ticks read /proc/meminfo";
    EXPECT_GE(stat_cpu_busy(newest.cpu), 0) << "the ticks read /proc/stat";
#endif
}

#ifdef __linux__

std::string netdev_line(const std::string& name, unsigned long long bytes) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "%8s: %llu 1 0 0 0 0 0 0 %llu 1 0 0 0 0 0 0\n", name.c_str(), bytes, bytes / 2);
    return buf;
}

// Interfaces appear, vanish and come back, more than 25 at once; the files
// go missing and turn to garbage. Every path through the backend and the
// remembered counters runs inside the counted region; the files are written
// outside it.
TEST_F(TickAllocation, InterfaceChurnOverflowAndBadFilesAllocateNothing) {
    scratch_dir scratch;
    const std::string& root = scratch.path;
    ASSERT_EQ(mkdir((root + "/proc").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "/proc/net").c_str(), 0755), 0);
    scratch.write("proc/meminfo", "MemTotal: 1000 kB\nMemAvailable: 400 kB\nSwapTotal: 100 kB\nSwapFree: 50 kB\n");

    stat_linux_set_root(root.c_str());
    testing::internal::CaptureStderr();
    long total = 0;
    for (int tick = 0; tick < 300; ++tick) {
        std::string dev = "Inter-| Receive | Transmit\n face |bytes | bytes\n";
        int count = 10 + tick % 25;  // up to 34 interfaces: past the 25 slots
        for (int i = 0; i < count; ++i) {
            int id = (i + tick / 7) % 60;  // the set of names drifts every few ticks
            dev += netdev_line("if" + std::to_string(id), 1000ull * static_cast<unsigned>(tick) * (id + 1));
        }
        if (tick % 50 == 13) dev = "garbage\n";
        if (tick % 50 == 29)
            std::remove((root + "/proc/net/dev").c_str());
        else
            scratch.write("proc/net/dev", dev);
        // The backend keeps its descriptors; dropping them makes the next
        // tick open the file as it now is, or find it gone.
        stat_linux_set_root(root.c_str());
        total += allocations_in([] { signal_interval_1(2); });
    }
    std::string err = testing::internal::GetCapturedStderr();
    stat_linux_set_root("");
    EXPECT_EQ(total, 0);
    // The bad cases were really met.
    EXPECT_NE(err.find("Not enouth MAX_NETIF"), std::string::npos);
    EXPECT_NE(err.find("Could not parse /proc/net/dev"), std::string::npos);
    EXPECT_NE(err.find("Could not read /proc/net/dev"), std::string::npos);
}
#endif

#else
// Shown as skipped by SetUp.
TEST_F(TickAllocation, TicksAllocateNothing) {}
#endif  // KELP_COUNTING_ALLOCATOR

}  // namespace
