/* Simulated FreeBSD <net/if.h>: the per-interface statistics block. */
#ifndef KELP_FAKEPLAT_NET_IF_H
#define KELP_FAKEPLAT_NET_IF_H

#include <sys/param.h>
#include <stdint.h>

#define IFNAMSIZ 16

/* The counters are u_long, as in the real header: their width follows the
 * CPU (32 bits on i386, 64 on amd64 and sparc64), not the release. This host
 * is 64-bit, so every simulated release sees 64-bit counters; the diff of the
 * low 32 bits is what makes a 32-bit kernel's wrap harmless. The real block
 * has more fields (ifi_physical, ifi_metric, ...) after ifi_type: the backend
 * names its fields, so their offsets do not matter here. */
struct if_data {
	unsigned char ifi_type;
	unsigned char ifi_addrlen;
	unsigned char ifi_hdrlen;
	unsigned long ifi_mtu;
	unsigned long ifi_ipackets;
	unsigned long ifi_ierrors;
	unsigned long ifi_opackets;
	unsigned long ifi_oerrors;
	unsigned long ifi_collisions;
	unsigned long ifi_ibytes;
	unsigned long ifi_obytes;
};

#endif
