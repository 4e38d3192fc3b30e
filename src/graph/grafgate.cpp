#include "graph/grafgate.h"

#include <cerrno>
#include <semaphore.h>
#include <thread>

namespace {

// As many graphs at once as the machine has processors online, and never
// fewer than two: more would only take turns on the processors while each
// holds its memory, so memory follows the processors, not the clients.
constexpr unsigned MIN_DRAWERS = 2;

// A POSIX semaphore, not std::counting_semaphore: the standard library's
// wakes every waiter at each release, and 24 threads woken to find the turn
// taken again crowd out the sampling thread on two cores. sem_post wakes one.
struct gate {
    sem_t turns;
    gate() {
        const unsigned online = std::thread::hardware_concurrency();
        sem_init(&turns, 0, online > MIN_DRAWERS ? online : MIN_DRAWERS);
    }
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

}  // namespace

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
