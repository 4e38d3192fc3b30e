// glibc's allocator, tuned for a daemon whose only sizeable memory is the
// graphs it draws, each on a fresh connection thread.
#include "core/tuning.h"

#include <malloc.h>

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

}  // namespace

void tuning_init() {
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_TRIM_THRESHOLD, KEPT_HEAP_BYTES);
    mallopt(M_TOP_PAD, 0);
}
