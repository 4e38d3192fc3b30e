// "ANY" where an IPv6 socket takes IPv6 clients alone by default, as on
// FreeBSD, and where the kernel has no IPv6, played by socket calls that
// answer as those kernels do.
#include <gtest/gtest.h>

#include <cerrno>
#include <netinet/in.h>
#include <unistd.h>
#include <utility>

#include "blackbox.h"
#include "web/listen.h"

namespace {

int v6only_by_default(int domain, int type, int protocol) {
    int fd = ::socket(domain, type, protocol), on = 1;
    if (fd >= 0 && domain == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    return fd;
}

int without_ipv6(int domain, int type, int protocol) {
    if (domain != AF_INET6) return ::socket(domain, type, protocol);
    errno = EAFNOSUPPORT;
    return -1;
}

TEST(Listen, AnyTakesBothFamiliesOrIPv4AloneWhereTheKernelHasNoIPv6) {
    struct { const char* desc; int (*socket_call)(int, int, int); bool v6; } kernels[] = {  // v6: ::1 served
        {"IPv6 alone by default", v6only_by_default, true}, {"no IPv6", without_ipv6, false}};
    for (const auto& k : kernels) {
        SCOPED_TRACE(k.desc);
        const int port = blackbox::free_port();
        listen_socket_call = k.socket_call;
        const int fd = listen_open("ANY", static_cast<unsigned short>(port), 5);
        listen_socket_call = ::socket;
        for (const auto& [at, served] : {std::pair{"127.0.0.1", true}, std::pair{"::1", k.v6}}) {
            const int c = blackbox::connect_via(nullptr, at, port);
            EXPECT_EQ(c >= 0, served) << at;
            if (c >= 0) close(c);
        }
        close(fd);
    }
}

}  // namespace
