#include "graph/grafgate.h"

#include <cerrno>
#include <malloc.h>
#include <semaphore.h>

namespace {

// A POSIX semaphore, not std::counting_semaphore: the standard library's
// wakes every waiter at each release, and 24 threads woken to find the turn
// taken again crowd out the sampling thread on two cores. sem_post wakes one.
struct gate {
    sem_t turns;
    gate() { sem_init(&turns, 0, GRAPH_DRAWERS); }
    void acquire() {
        while (sem_wait(&turns) != 0 && errno == EINTR) {
        }
    }
    void release() { sem_post(&turns); }
};
gate drawers;

// A turn belongs to the thread that took it; the thread's end gives back
// one it still holds.
struct turn {
    bool held = false;
    ~turn() {
        if (held) drawers.release();
    }
};
thread_local turn mine;

// A graph's memory stays in the heap from one graph to the next: the image
// (150 rows of 2000 bytes), gd's row copies for the encoder (150 of 1500)
// and zlib's four 64 kB buffers, all below the mmap threshold that setting
// the trim threshold fixes at 128 kB. Below the trim threshold nothing is
// given back. The heap grows by what is asked for and no pad, so that it
// ends near one graph's size and what a few connections' streams take.
constexpr int KEPT_HEAP_BYTES = 1024 * 1024;

}  // namespace

void grafgate_init() {
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_TRIM_THRESHOLD, KEPT_HEAP_BYTES);
    mallopt(M_TOP_PAD, 0);
}

void grafgate_enter() {
    if (mine.held) return;
    drawers.acquire();
    mine.held = true;
}

void grafgate_leave() {
    if (!mine.held) return;
    mine.held = false;
    drawers.release();
}
