/* Simulated FreeBSD <nlist.h>: the name-list entry kvm_nlist fills. */
#ifndef KELP_FAKEPLAT_NLIST_H
#define KELP_FAKEPLAT_NLIST_H

struct nlist {
	char *n_name;            /* symbol name; a null name ends the list */
	unsigned char n_type;
	char n_other;
	short n_desc;
	unsigned long n_value;   /* the symbol's kernel address, 0 when absent */
};

#endif
