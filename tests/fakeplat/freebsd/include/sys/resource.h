/* Simulated FreeBSD <sys/resource.h>: the host's plus the processor states of
 * kern.cp_time and kern.cp_times, as FreeBSD 14.2 and 15.0 number them. */
#ifndef KELP_FAKEPLAT_SYS_RESOURCE_H
#define KELP_FAKEPLAT_SYS_RESOURCE_H

#include_next <sys/resource.h>

#define CP_USER 0
#define CP_NICE 1
#define CP_SYS 2
#define CP_INTR 3
#define CP_IDLE 4
#define CPUSTATES 5

#endif
