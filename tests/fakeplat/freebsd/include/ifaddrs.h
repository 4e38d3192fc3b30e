/* Simulated FreeBSD <ifaddrs.h>: the list getifaddrs(3) returns. */
#ifndef KELP_FAKEPLAT_IFADDRS_H
#define KELP_FAKEPLAT_IFADDRS_H

#include <sys/types.h>
#include <sys/socket.h>

struct ifaddrs {
	struct ifaddrs *ifa_next;
	char *ifa_name;
	struct sockaddr *ifa_addr;
	void *ifa_data;        /* AF_LINK: the interface's struct if_data */
};

#ifdef __cplusplus
extern "C" {
#endif

int getifaddrs(struct ifaddrs **ifap);
void freeifaddrs(struct ifaddrs *ifp);

#ifdef __cplusplus
}
#endif

#endif
