#include "web/httpd.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "config/config.h"

namespace {

constexpr int DEFAULT_PORT = 9001;
constexpr int BACKLOG = 70;

int listen_fd = -1;

[[noreturn]] void fail(const char* what, int fd) {
    std::perror(what);
    if (fd >= 0) close(fd);
    std::exit(1);
}

// 0, empty, absent or a word give the default; larger numbers keep their low
// 16 bits.
unsigned short configured_port() {
    const char* v = config_getproperty("httpd.port");
    int n = (v && *v) ? config_atoi(v) : 0;
    if (n == 0) return DEFAULT_PORT;
    return static_cast<unsigned short>(static_cast<unsigned>(n) & 0xFFFFu);
}

}  // namespace

void httpd_init() {
    listen_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd < 0) fail("Could not create socket", -1);

    int one = 1;
    setsockopt(listen_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);

    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(configured_port());
    if (bind(listen_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        fail("Could not bind to socket", listen_fd);
    if (listen(listen_fd, BACKLOG) != 0) fail("Could not enable listener", listen_fd);
}
