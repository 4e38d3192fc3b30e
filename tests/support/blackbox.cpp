#include "blackbox.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netdb.h>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace blackbox {

namespace {

using clock = std::chrono::steady_clock;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The child keeps only the standard descriptors and takes on the limits.
// Only async-signal-safe calls between fork and exec.
void apply_limits(const std::vector<limit>& limits) {
    for (int fd = 3; fd < 4096; ++fd) close(fd);
    for (const limit& l : limits) {
        rlimit r{};
        if (getrlimit(l.resource, &r) != 0) _exit(127);
        r.rlim_cur = l.value;
        if (r.rlim_max != RLIM_INFINITY && r.rlim_max < l.value) r.rlim_cur = r.rlim_max;
        if (setrlimit(l.resource, &r) != 0) _exit(127);
    }
}

pid_t spawn(const std::vector<std::string>& args, const std::string& out, const std::string& err,
            const std::vector<limit>& limits = {}) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int n = open("/dev/null", O_RDONLY);
    if (o < 0 || e < 0 || n < 0) _exit(127);
    dup2(n, 0);
    dup2(o, 1);
    dup2(e, 2);
    apply_limits(limits);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(KELP_BINARY));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(KELP_BINARY, argv.data());
    _exit(127);
}

// Waits for pid to end; its exit status, or -1 after the time-out or a signal.
int wait_exit(pid_t pid, int timeout_ms) {
    int st = 0;
    pid_t r = 0;
    wait_until([&] { return (r = waitpid(pid, &st, WNOHANG)) != 0; }, std::chrono::milliseconds(timeout_ms));
    return r == pid && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

}  // namespace

bool endpoint(const char* address, int port, sockaddr_storage& a, socklen_t& len) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(address, std::to_string(port).c_str(), &hints, &found) != 0) return false;
    std::memcpy(&a, found->ai_addr, len = found->ai_addrlen);
    freeaddrinfo(found);
    return true;
}

result run(const std::vector<std::string>& args, int timeout_ms) {
    scratch_dir d;
    result r;
    std::string out = d.path + "/out", err = d.path + "/err";
    pid_t pid = spawn(args, out, err);
    r.status = wait_exit(pid, timeout_ms);
    if (r.status == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

// Below the kernel's range of ephemeral ports (32768 and up on Linux): a
// port the kernel hands out could be taken by the next outgoing connection of
// a test running beside this one before the daemon binds it, one second later.
int free_port() {
    static std::atomic<unsigned> next{static_cast<unsigned>(getpid()) * 7919u};
    constexpr int FIRST = 20000, COUNT = 12000;
    for (int tries = 0; tries < COUNT; ++tries) {
        const int port = FIRST + static_cast<int>(next.fetch_add(1) % COUNT);
        if (can_bind_on("127.0.0.1", port)) return port;
    }
    return 0;
}

bool can_bind_on(const char* address, int port) {
    sockaddr_storage a;
    socklen_t len;
    if (!endpoint(address, port, a, len)) return false;
    int fd = socket(a.ss_family, SOCK_STREAM, 0);
    if (fd < 0) return false;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 && listen(fd, 1) == 0;
    close(fd);
    return ok;
}

bool send_all(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string read_to_close(int fd, int timeout_ms) {
    std::string answer;
    auto until = clock::now() + std::chrono::milliseconds(timeout_ms);
    char buf[8192];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - clock::now()).count();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) != 1) break;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        answer.append(buf, static_cast<size_t>(n));
    }
    return answer;
}

int connect_via(const char* from, const char* to, int port, int timeout_ms) {
    sockaddr_storage a, local;
    socklen_t len, local_len;
    if (!endpoint(to, port, a, len) || (from && !endpoint(from, 0, local, local_len))) return -1;
    int fd = socket(a.ss_family, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    pollfd p{fd, POLLOUT, 0};
    int err = 0;
    socklen_t errlen = sizeof err;
    if ((from && bind(fd, reinterpret_cast<sockaddr*>(&local), local_len) != 0) ||
        (connect(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 && errno != EINPROGRESS) ||
        poll(&p, 1, timeout_ms) != 1 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &errlen) != 0 || err != 0) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

void reset_close(int fd) {
    linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(fd);
}

std::string exchange_via(const char* from, const char* to, int port, const std::string& request, int timeout_ms,
                         bool half_close) {
    int fd = connect_via(from, to, port, timeout_ms);
    if (fd < 0) return {};
    // What was sent before a failure is still answered.
    if (send_all(fd, request) && half_close) shutdown(fd, SHUT_WR);
    std::string answer = read_to_close(fd, timeout_ms);
    close(fd);
    return answer;
}

daemon::daemon(const std::string& extra_config, const std::vector<std::string>& extra_args,
               const std::vector<limit>& limits) {
    port = free_port();
    std::string conf = dir.write("Kelp.conf", "httpd.port " + std::to_string(port) + "\n" + extra_config);
    out_path = dir.path + "/stdout";
    err_path = dir.path + "/stderr";
    std::vector<std::string> args = {"-f", conf};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    pid = spawn(args, out_path, err_path, limits);
}

daemon::~daemon() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

bool daemon::wait_listening(int timeout_ms, const char* address) const {
    bool ended = false;
    auto listens = [&] {
        const int fd = connect_via(nullptr, address, port, 200);
        if (fd >= 0) close(fd);
        return fd >= 0 || (ended = waitpid(pid, nullptr, WNOHANG) == pid);
    };
    return wait_until(listens, std::chrono::milliseconds(timeout_ms)) && !ended;
}

int daemon::interrupt(int timeout_ms) {
    if (pid <= 0) return -1;
    kill(pid, SIGINT);
    int st = wait_exit(pid, timeout_ms);
    if (st != -1 || waitpid(pid, nullptr, WNOHANG) != 0) pid = -1;
    return st;
}

std::string daemon::out() const { return slurp(out_path); }
std::string daemon::err() const { return slurp(err_path); }

}  // namespace blackbox
