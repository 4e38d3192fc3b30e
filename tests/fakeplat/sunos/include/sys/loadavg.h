/* Simulated Solaris 8 <sys/loadavg.h>. getloadavg itself is declared where
 * this host's C library declares it. */
#ifndef KELP_FAKEPLAT_SYS_LOADAVG_H
#define KELP_FAKEPLAT_SYS_LOADAVG_H

#include <stdlib.h>

#define LOADAVG_1MIN 0
#define LOADAVG_5MIN 1
#define LOADAVG_15MIN 2
#define LOADAVG_NSTATS 3

#endif
