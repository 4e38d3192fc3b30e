// Who a client is: its address as the access log shows it.
//
// access_peer_text touches nothing shared; any thread may call it.
#pragma once

#include <arpa/inet.h>
#include <sys/socket.h>

// IPv4 peers, also those an IPv6 socket shows as IPv4-mapped, in dotted form;
// IPv6 peers in the usual text form.
void access_peer_text(const sockaddr_storage& peer, char (&text)[INET6_ADDRSTRLEN]);
