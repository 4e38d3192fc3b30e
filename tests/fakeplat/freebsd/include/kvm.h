/* Simulated FreeBSD <kvm.h>: the kernel-memory calls the backend makes. */
#ifndef KELP_FAKEPLAT_KVM_H
#define KELP_FAKEPLAT_KVM_H

#include <sys/types.h>
#include <nlist.h>

typedef struct __kvm kvm_t;

struct kvm_swap {
	char ksw_devname[32];   /* empty in the summary row */
	int ksw_used;           /* pages */
	int ksw_total;          /* pages */
};

#ifdef __cplusplus
extern "C" {
#endif

kvm_t *kvm_open(const char *execfile, const char *corefile, const char *swapfile, int flags,
                const char *errstr);
int kvm_nlist(kvm_t *kd, struct nlist *nl);
ssize_t kvm_read(kvm_t *kd, unsigned long addr, void *buf, size_t nbytes);
int kvm_getswapinfo(kvm_t *kd, struct kvm_swap *swap_ary, int swap_max, int flags);

#ifdef __cplusplus
}
#endif

#endif
