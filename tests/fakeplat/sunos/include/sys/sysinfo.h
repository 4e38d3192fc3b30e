/* Simulated illumos <sys/sysinfo.h>: a processor's "cpu_stat" kstat data.
 * The processor states are macros, as there; what no one here reads is
 * arrays of the same size and place (380 bytes in all, the processor states
 * at offset 8, as illumos' own header gives them on amd64). */
#ifndef KELP_FAKEPLAT_SYS_SYSINFO_H
#define KELP_FAKEPLAT_SYS_SYSINFO_H

#include <sys/types.h>

#define CPU_IDLE 0
#define CPU_USER 1
#define CPU_KERNEL 2
#define CPU_WAIT 3
#define CPU_STATES 4

typedef unsigned int uint_t;

typedef struct cpu_sysinfo {
	uint_t cpu[CPU_STATES];  /* ticks in each processor state */
	uint_t counters[3 + 52]; /* wait[W_STATES], then bread to win_suo_cnt */
} cpu_sysinfo_t;

typedef struct cpu_stat {
	uint_t __cpu_stat_lock[2];
	cpu_sysinfo_t cpu_sysinfo;
	int cpu_syswait[3];      /* cpu_syswait_t */
	uint_t cpu_vminfo[31];   /* cpu_vminfo_t */
} cpu_stat_t;

#endif
