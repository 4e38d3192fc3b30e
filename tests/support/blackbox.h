// Running the real Kelp binary as a child and talking to it over loopback.
// Every wait is bounded; a child is only ever signalled by its own pid.
#pragma once

#include <chrono>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "scratch.h"

namespace blackbox {

using ::scratch_dir;

struct result {
    int status = -1;      // exit status, or -1 if it did not exit normally in time
    std::string out, err;
};

// Runs Kelp with the arguments to its end (at most timeout_ms) and collects its
// output; like every child here it inherits only the standard descriptors.
result run(const std::vector<std::string>& args, int timeout_ms = 10000);

// A resource limit the child sets on itself before it becomes Kelp.
struct limit {
    int resource;  // RLIMIT_NOFILE, RLIMIT_AS, ...
    rlim_t value;  // the new soft limit
};

// A Kelp child that keeps running until stopped.
struct daemon {
    pid_t pid = -1;
    int port = 0;
    std::string out_path, err_path;
    scratch_dir dir;

    // Starts Kelp with a configuration file that sets httpd.port to a free
    // loopback port and holds extra_config lines besides, under the limits.
    // The child inherits no descriptor but the three standard ones, so that
    // descriptor limits and counts start from there.
    explicit daemon(const std::string& extra_config = "", const std::vector<std::string>& extra_args = {},
                    const std::vector<limit>& limits = {});
    ~daemon();  // SIGKILL if still running

    // Whether it accepts connections at address (numeric, either family).
    bool wait_listening(int timeout_ms = 10000, const char* address = "127.0.0.1") const;
    // Sends SIGINT and waits; the exit status or -1.
    int interrupt(int timeout_ms = 10000);
    std::string out() const;
    std::string err() const;
};

// address:port as bind and connect take it; false unless address is numeric.
bool endpoint(const char* address, int port, sockaddr_storage& a, socklen_t& len);
// A port that was free on 127.0.0.1 a moment ago, and that no outgoing
// connection will be given meanwhile.
int free_port();
// Connects from the local address from (the system's choice when null) to
// to:port, both numeric addresses of either family; -1 on failure.
int connect_via(const char* from, const char* to, int port, int timeout_ms = 5000);
inline int connect_to(int port, int timeout_ms = 5000) { return connect_via(nullptr, "127.0.0.1", port, timeout_ms); }
// Closes with a zero linger time, so that the peer gets a reset, not a FIN.
void reset_close(int fd);
// Sends request over a connection as connect_via makes it and reads the
// answer to the close (bounded by timeout_ms). With half_close the end of the
// request is announced by a FIN: a request of no bytes at all is otherwise
// only ended by the server's read time-out.
std::string exchange_via(const char* from, const char* to, int port, const std::string& request,
                         int timeout_ms = 10000, bool half_close = false);
inline std::string exchange(int port, const std::string& request, int timeout_ms = 10000, bool half_close = false) {
    return exchange_via(nullptr, "127.0.0.1", port, request, timeout_ms, half_close);
}
// Whether address:port (numeric, either family) can be bound right now.
bool can_bind_on(const char* address, int port);
// Sends all of data on fd; false if the connection failed first.
bool send_all(int fd, const std::string& data);
// Reads fd to its close (bounded by timeout_ms); the descriptor stays open.
std::string read_to_close(int fd, int timeout_ms = 10000);

// How often needle stands in text, without overlaps.
inline size_t count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
    return n;
}

inline double seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// Polls until pred holds or the time is up; whether it held.
template <typename Pred>
bool wait_until(Pred pred, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return pred();
}

}  // namespace blackbox
