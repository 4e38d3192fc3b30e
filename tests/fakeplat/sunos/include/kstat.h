/* Simulated Solaris 8 <kstat.h>: the kernel statistics chain and the calls
 * the backend makes on it. */
#ifndef KELP_FAKEPLAT_KSTAT_H
#define KELP_FAKEPLAT_KSTAT_H

#include <sys/types.h>
#include <stdint.h>

#define KSTAT_STRLEN 31

#define KSTAT_TYPE_RAW 0
#define KSTAT_TYPE_NAMED 1
#define KSTAT_TYPE_TIMER 4

#define KSTAT_DATA_INT32 1
#define KSTAT_DATA_UINT32 2
#define KSTAT_DATA_INT64 3
#define KSTAT_DATA_UINT64 4

typedef int kid_t;
typedef long long hrtime_t;

typedef struct kstat {
	hrtime_t ks_crtime;
	struct kstat *ks_next;         /* the chain; null ends it */
	kid_t ks_kid;
	char ks_module[KSTAT_STRLEN];
	unsigned char ks_resv;
	int ks_instance;
	char ks_name[KSTAT_STRLEN];    /* e.g. "hme0" */
	unsigned char ks_type;
	char ks_class[KSTAT_STRLEN];   /* e.g. "net" */
	unsigned char ks_flags;
	void *ks_data;                 /* filled by kstat_read */
	unsigned int ks_ndata;
	size_t ks_data_size;
	hrtime_t ks_snaptime;
	/* the rest is the kernel's */
} kstat_t;

typedef struct kstat_named {
	char name[KSTAT_STRLEN];
	unsigned char data_type;
	union {
		char c[16];
		int32_t i32;
		uint32_t ui32;
		int64_t i64;
		uint64_t ui64;
	} value;
} kstat_named_t;

typedef struct kstat_ctl {
	kid_t kc_chain_id;
	kstat_t *kc_chain;
} kstat_ctl_t;

#ifdef __cplusplus
extern "C" {
#endif

kstat_ctl_t *kstat_open(void);
int kstat_close(kstat_ctl_t *kc);
kid_t kstat_read(kstat_ctl_t *kc, kstat_t *ksp, void *buf);
void *kstat_data_lookup(kstat_t *ksp, char *name);

#ifdef __cplusplus
}
#endif

#endif
