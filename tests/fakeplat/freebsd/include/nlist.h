/* Simulated FreeBSD <nlist.h>: the name-list entry kvm_nlist fills. */
#ifndef KELP_FAKEPLAT_NLIST_H
#define KELP_FAKEPLAT_NLIST_H

struct nlist {
	const char *n_name;      /* symbol name; a null or empty name ends the list */
	unsigned char n_type;    /* N_UNDF until the symbol has been found */
	unsigned long n_value;   /* the symbol's kernel address */
};

#define N_UNDF 0x00
#define N_TEXT 0x04

#endif
