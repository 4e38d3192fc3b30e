/* Simulated FreeBSD <sys/time.h>: the host's plus what kern.clockrate
 * answers, as FreeBSD 14.2 and 15.0 declare it. */
#ifndef KELP_FAKEPLAT_SYS_TIME_H
#define KELP_FAKEPLAT_SYS_TIME_H

#include_next <sys/time.h>

struct clockinfo {
	int hz;      /* clock frequency */
	int tick;    /* micro-seconds per hz tick */
	int spare;
	int stathz;  /* statistics clock frequency */
	int profhz;  /* profiling clock frequency */
};

#endif
