/* Simulated FreeBSD <net/if_var.h>: the kernel's interface record and the
 * head of the list that chains them, as release 4 and release 5 lay them out.
 * From 11 on struct ifnet has no if_data, and 14 keeps it out of the public
 * headers: this header declares it for the older releases only. */
#ifndef KELP_FAKEPLAT_NET_IF_VAR_H
#define KELP_FAKEPLAT_NET_IF_VAR_H

#include <sys/param.h>
#include <net/if.h>

#if __FreeBSD_version < 1100000
struct ifnet;

struct ifnethead {
	struct ifnet *tqh_first;
	struct ifnet **tqh_last;
};

struct ifnet {
	void *if_softc;
#if __FreeBSD_version < 501113
	char *if_name;           /* driver name, e.g. "lo", in kernel memory */
#endif
	struct {
		struct ifnet *tqe_next;
		struct ifnet **tqe_prev;
	} if_link;
#if __FreeBSD_version >= 501113
	char if_xname[IFNAMSIZ]; /* e.g. "lo0" */
	const char *if_dname;
	int if_dunit;
#endif
	struct {
		void *tqh_first;
		void **tqh_last;
	} if_addrhead;
	int if_pcount;
	unsigned short if_index;
#if __FreeBSD_version < 501113
	short if_unit;
#endif
	short if_timer;
	short if_flags;
	struct if_data if_data;
};

#endif

#endif
