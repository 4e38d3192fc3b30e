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
#if __FreeBSD_version >= 1100000
/* From 11 on the block has fixed-width fields, the counters 64 bits on
 * every CPU; the real one goes on after ifi_obytes (ifi_imcasts, ...). */
struct if_data {
	uint8_t ifi_type;
	uint8_t ifi_physical;
	uint8_t ifi_addrlen;
	uint8_t ifi_hdrlen;
	uint8_t ifi_link_state;
	uint8_t ifi_vhid;
	uint16_t ifi_datalen;
	uint32_t ifi_mtu;
	uint32_t ifi_metric;
	uint64_t ifi_baudrate;
	uint64_t ifi_ipackets;
	uint64_t ifi_ierrors;
	uint64_t ifi_opackets;
	uint64_t ifi_oerrors;
	uint64_t ifi_collisions;
	uint64_t ifi_ibytes;
	uint64_t ifi_obytes;
};
#else
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

#endif
