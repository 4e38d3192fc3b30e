#include "web/access.h"

#include <cstdio>
#include <cstring>
#include <netinet/in.h>

namespace {

// The family and bytes a peer is matched with: an IPv4-mapped IPv6 peer is
// the IPv4 client it stands for.
int peer_address(const sockaddr_storage& peer, unsigned char (&a)[16]) {
    std::memset(a, 0, sizeof a);
    if (peer.ss_family == AF_INET) {
        sockaddr_in v4;
        std::memcpy(&v4, &peer, sizeof v4);
        std::memcpy(a, &v4.sin_addr, 4);
        return AF_INET;
    }
    if (peer.ss_family == AF_INET6) {
        sockaddr_in6 v6;
        std::memcpy(&v6, &peer, sizeof v6);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
            std::memcpy(a, v6.sin6_addr.s6_addr + 12, 4);
            return AF_INET;
        }
        std::memcpy(a, v6.sin6_addr.s6_addr, 16);
        return AF_INET6;
    }
    return AF_UNSPEC;
}

}  // namespace

void access_peer_text(const sockaddr_storage& peer, char (&text)[INET6_ADDRSTRLEN]) {
    unsigned char a[16];
    int family = peer_address(peer, a);
    if (family == AF_UNSPEC || !inet_ntop(family, a, text, sizeof text)) std::snprintf(text, sizeof text, "?");
}
