// How many graphs are drawn at once, and how the memory they draw in is kept.
//
// A graph needs about 800 kB while it is drawn and encoded: the true-colour
// image, gd's copies of its rows for the encoder and zlib's deflate state.
// Connection threads take a turn from grafutil_createimage to the end of the
// encoding in grafutil_finish; the answer is written to the client after the
// turn is given back, so a slow client never holds one. Nothing else waits on
// the gate: the sampling thread never draws.
#pragma once

// One at a time. Two graphs drawn at once in one heap interleave their
// allocations, and the heap then keeps both of them: 1.9 MB rather than 1.
constexpr int GRAPH_DRAWERS = 1;

// At start-up, before any other thread: the allocator keeps one arena for
// all threads and leaves a finished graph's memory mapped for the next, so
// that a graph request does not fault its memory in afresh. With the gate,
// that memory is one graph's and no more.
void grafgate_init();

// Blocks until this thread may draw; a thread that already may returns at once.
void grafgate_enter();
// Gives this thread's turn back, if it has one. A thread that ends holding a
// turn gives it back then.
void grafgate_leave();
