/* Simulated FreeBSD 14.0 <sys/param.h>: the host's definitions plus the
 * release number that selects what the other simulated headers declare. */
#ifndef KELP_FAKEPLAT_SYS_PARAM_H
#define KELP_FAKEPLAT_SYS_PARAM_H

#include_next <sys/param.h>

#define __FreeBSD_version 1400097

#endif
