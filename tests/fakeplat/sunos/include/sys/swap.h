/* Simulated Solaris 8 <sys/swap.h>: the swap table swapctl fills. */
#ifndef KELP_FAKEPLAT_SYS_SWAP_H
#define KELP_FAKEPLAT_SYS_SWAP_H

#include <sys/types.h>

#define SC_LIST 2
#define SC_GETNSWP 4

typedef struct swapent {
	char *ste_path;    /* buffer the caller provides for the device's path */
	off_t ste_start;
	off_t ste_length;
	long ste_pages;    /* pages of the device */
	long ste_free;     /* of those, free */
	int ste_flags;
} swapent_t;

typedef struct swaptable {
	int swt_n;                  /* entries the caller made room for */
	struct swapent swt_ent[1];  /* swt_n entries follow */
} swaptbl_t;

/* The real header's guard, word for word. The 32-bit large-file build of the
 * tests reaches it by undefining _LP64 on this 64-bit host. */
#if !defined(_LP64) && _FILE_OFFSET_BITS == 64
#error "Cannot use swapctl in the large files compilation environment"
#endif

#ifdef __cplusplus
extern "C" {
#endif

int swapctl(int cmd, void *arg);

#ifdef __cplusplus
}
#endif

#endif
