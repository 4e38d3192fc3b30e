// The sampling thread: one tick a second, and the cascade that folds ten
// records of a ring into one record of the next coarser ring.
#pragma once

void* signal_thread(void* unused);
// One tick. It has the shape of a signal handler; the argument is not used.
void signal_interval_1(int signalnum);
// Back to the first tick: the next cascade into ring 1 comes ten ticks later.
void sampling_reset();
