/* Simulated FreeBSD <net/if.h>: the per-interface statistics block. */
#ifndef KELP_FAKEPLAT_NET_IF_H
#define KELP_FAKEPLAT_NET_IF_H

#include <sys/param.h>
#include <stdint.h>

#define IFNAMSIZ 16

/* The counters are u_long in the kernel: 32 bits on i386, which the
 * release-4 build stands for, 64 bits on sparc64 and amd64. */
#if __FreeBSD_version < 500000
typedef uint32_t if_data_counter;
#else
typedef uint64_t if_data_counter;
#endif

struct if_data {
	unsigned char ifi_type;
	unsigned char ifi_addrlen;
	unsigned char ifi_hdrlen;
	if_data_counter ifi_mtu;
	if_data_counter ifi_ipackets;
	if_data_counter ifi_ierrors;
	if_data_counter ifi_opackets;
	if_data_counter ifi_oerrors;
	if_data_counter ifi_collisions;
	if_data_counter ifi_ibytes;
	if_data_counter ifi_obytes;
};

#endif
