/* Simulated FreeBSD 5.4 <sys/param.h>: the host's definitions plus the
 * release number that selects what the other simulated headers declare. */
#ifndef KELP_FAKEPLAT_SYS_PARAM_H
#define KELP_FAKEPLAT_SYS_PARAM_H

#include_next <sys/param.h>

#define __FreeBSD_version 504000

#endif
