// How many graphs are drawn at once.
//
// A graph needs about 800 kB while it is drawn and encoded: the true-colour
// image, gd's copies of its rows for the encoder and zlib's deflate state.
// Connection threads take a turn from grafutil_createimage to the end of the
// encoding in grafutil_finish; the answer is written to the client after the
// turn is given back, so a slow client never holds one. Nothing else waits on
// the gate: the sampling thread never draws.
#pragma once

// Blocks until this thread may draw; a thread that already may returns at once.
void grafgate_enter();
// Gives this thread's turn back, if it has one. A thread that ends holding a
// turn gives it back then.
void grafgate_leave();
