// The listening socket: the address httpd.host names, in its family, and both
// families on one socket where the host is to listen on every address.
// Used on the main thread at start-up.
#pragma once

// The socket call the listening socket is made with. Tests put a stand-in
// here (a kernel without IPv6 answers EAFNOSUPPORT) and ::socket back.
extern int (*listen_socket_call)(int domain, int type, int protocol);

// A socket bound to host and port and listening with the backlog. host is
// httpd.host's value: "ANY" (any case), empty or null for every local address
// of both families, one IPv6 socket that takes IPv4 clients too, or IPv4 alone
// where the kernel has no IPv6; an IPv4 or IPv6 address in numeric form; or a
// name, of which the first IPv4 address is taken, or the first IPv6 one when
// it has none. Ends the process with status 1 when it cannot.
int listen_open(const char* host, unsigned short port, int backlog);
