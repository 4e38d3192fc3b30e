/* Simulated FreeBSD <sys/socket.h>: the host's sockets plus AF_LINK, with
 * FreeBSD's number. The host's struct sockaddr has no sa_len; the backend
 * reads only sa_family. AF_INET is 2 on both systems. */
#ifndef KELP_FAKEPLAT_SYS_SOCKET_H
#define KELP_FAKEPLAT_SYS_SOCKET_H

#include_next <sys/socket.h>

#define AF_LINK 18

#endif
