/* Simulated Solaris 8 <sys/loadavg.h>, where Solaris declares getloadavg. */
#ifndef KELP_FAKEPLAT_SYS_LOADAVG_H
#define KELP_FAKEPLAT_SYS_LOADAVG_H

#include <sys/cdefs.h>

#define LOADAVG_1MIN 0
#define LOADAVG_NSTATS 3

#ifdef __cplusplus
extern "C" {
#endif

/* __THROW is this host's: its <stdlib.h> declares the same function, and in
 * C++ both declarations must agree on it. Solaris' has no such marker. */
int getloadavg(double loadavg[], int nelem) __THROW;

#ifdef __cplusplus
}
#endif

#endif
