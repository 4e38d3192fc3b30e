#include "web/listen.h"

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/fatal.h"

int (*listen_socket_call)(int domain, int type, int protocol) = ::socket;

namespace {

struct place {
    sockaddr_storage addr;
    socklen_t len;
};

[[noreturn]] void fail(int fd, const char* what) {
    int error = errno;
    if (fd >= 0) close(fd);
    fatal_error(what, std::strerror(error));
}

bool is_any(const char* host) { return !host || !*host || strcasecmp(host, "ANY") == 0; }

place any_address(int family, unsigned short port) {
    place p{};
    if (family == AF_INET6) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_any;
        a.sin6_port = htons(port);
        std::memcpy(&p.addr, &a, sizeof a);
        p.len = sizeof a;
    } else {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        a.sin_port = htons(port);
        std::memcpy(&p.addr, &a, sizeof a);
        p.len = sizeof a;
    }
    return p;
}

// IPv4 first, so that a name with both kinds of address (localhost) keeps
// meaning what it meant when only IPv4 was looked up.
place resolve(const char* host, unsigned short port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(host, nullptr, &hints, &found);
    if (rc != 0 || !found)
        fatal_error("Could not resolve httpd.host", rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc));
    const addrinfo* pick = nullptr;
    for (int family : {AF_INET, AF_INET6})
        for (const addrinfo* a = found; a && !pick; a = a->ai_next)
            if (a->ai_family == family && a->ai_addrlen <= sizeof(sockaddr_storage)) pick = a;
    if (!pick) {
        freeaddrinfo(found);
        fatal_error("Could not resolve httpd.host", "no IPv4 or IPv6 address");
    }
    place p{};
    std::memcpy(&p.addr, pick->ai_addr, pick->ai_addrlen);
    p.len = pick->ai_addrlen;
    freeaddrinfo(found);
    if (p.addr.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in*>(&p.addr)->sin_port = htons(port);
    else
        reinterpret_cast<sockaddr_in6*>(&p.addr)->sin6_port = htons(port);
    return p;
}

// A stream socket of the family; an IPv6 one takes IPv4 clients too when
// dual, and only IPv6 ones otherwise, whatever the system's default (Linux
// takes both, FreeBSD only IPv6). -1 with errno set when there is none.
int create(int family, bool dual) {
    int fd = listen_socket_call(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || family != AF_INET6) return fd;
    int v6only = dual ? 0 : 1;
    if (setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only) == 0) return fd;
    int error = errno;
    close(fd);
    errno = error;
    return -1;
}

bool kernel_lacks(int error) { return error == EAFNOSUPPORT || error == EPROTONOSUPPORT; }

}  // namespace

int listen_open(const char* host, unsigned short port, int backlog) {
    place p;
    int fd;
    if (is_any(host)) {
        p = any_address(AF_INET6, port);
        fd = create(AF_INET6, true);
        if (fd < 0 && kernel_lacks(errno)) {
            p = any_address(AF_INET, port);
            fd = create(AF_INET, false);
        }
    } else {
        p = resolve(host, port);
        fd = create(p.addr.ss_family, false);
    }
    if (fd < 0) fail(fd, "Could not create socket");

    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&p.addr), p.len) != 0) fail(fd, "Could not bind to socket");
    if (listen(fd, backlog) != 0) fail(fd, "Could not enable listener");
    return fd;
}
