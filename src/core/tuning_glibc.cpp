// glibc's allocator and thread stacks, tuned for a daemon whose only sizeable
// memory is the graphs it draws, each on a fresh connection thread.
#include "core/tuning.h"

#include <cstdint>
#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// A graph's memory stays in the heap from one graph to the next: the image
// (150 rows of 2000 bytes), gd's row copies for the encoder (150 of 1500)
// and zlib's four 64 kB buffers, all below the mmap threshold that setting
// the trim threshold fixes at 128 kB. Below the trim threshold nothing is
// given back, so a graph request does not fault its memory in afresh; one
// arena for all threads keeps that memory to the graphs drawn at once rather
// than one heap per thread that ever drew. The heap grows by what is asked
// for and no pad.
constexpr int KEPT_HEAP_BYTES = 1024 * 1024;

// What a finished connection keeps of its stack: the frames it still runs
// in and the way out of the thread.
constexpr uintptr_t STACK_KEPT_BYTES = 4096;

}  // namespace

void tuning_init() {
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_TRIM_THRESHOLD, KEPT_HEAP_BYTES);
    mallopt(M_TOP_PAD, 0);
}

// glibc gives a finished thread's stack back when the thread ends, but keeps
// the 16 kB below its own frame, where a graph's deepest calls ran. The
// listener joins a thread only when it comes round to the slot again, so up
// to 25 such stacks would stay resident; the thread gives that part back
// itself, and the next thread on the stack faults in what it uses.
void tuning_connection_done() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* low = nullptr;
    size_t size = 0;
    int rc = pthread_attr_getstack(&attr, &low, &size);
    pthread_attr_destroy(&attr);
    if (rc != 0) return;
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    // The frame address, not a local's: a sanitizer may keep locals on a
    // stack of its own elsewhere.
    const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    const auto from = reinterpret_cast<uintptr_t>(low);
    if (here < from + STACK_KEPT_BYTES || here > from + size) return;
    const uintptr_t to = (here - STACK_KEPT_BYTES) & ~(page - 1);
    if (to > from) madvise(low, to - from, MADV_DONTNEED);
}
