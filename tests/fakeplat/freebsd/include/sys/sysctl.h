/* Simulated FreeBSD <sys/sysctl.h>: lookup of a variable by its name. */
#ifndef KELP_FAKEPLAT_SYS_SYSCTL_H
#define KELP_FAKEPLAT_SYS_SYSCTL_H

#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

int sysctlbyname(const char *name, void *oldp, size_t *oldlenp, const void *newp, size_t newlen);

#ifdef __cplusplus
}
#endif

#endif
