// Running the real Kelp binary as a child and talking to it over loopback.
// Every wait is bounded; a child is only ever signalled by its own pid.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace blackbox {

// A fresh scratch directory, removed by its destructor.
struct scratch_dir {
    std::string path;
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    std::string write(const std::string& name, const std::string& content) const;
};

struct result {
    int status = -1;      // exit status, or -1 if it did not exit normally in time
    std::string out, err;
};

// Runs Kelp with the arguments to its end (at most timeout_ms) and collects its output.
result run(const std::vector<std::string>& args, int timeout_ms = 10000);

// A Kelp child that keeps running until stopped.
struct daemon {
    pid_t pid = -1;
    int port = 0;
    std::string out_path, err_path;
    scratch_dir dir;

    // Starts Kelp with a configuration file that sets httpd.port to a free
    // loopback port and holds extra_config lines besides.
    explicit daemon(const std::string& extra_config = "", const std::vector<std::string>& extra_args = {});
    ~daemon();  // SIGKILL if still running

    bool wait_listening(int timeout_ms = 10000) const;
    // Sends SIGINT and waits; the exit status or -1.
    int interrupt(int timeout_ms = 10000);
    std::string out() const;
    std::string err() const;
};

// A port that was free on 127.0.0.1 a moment ago.
int free_port();
// Connects to 127.0.0.1:port; -1 on failure.
int connect_to(int port, int timeout_ms = 5000);
// Sends request and reads the answer to the close (bounded by timeout_ms).
std::string exchange(int port, const std::string& request, int timeout_ms = 10000);
// Whether 127.0.0.1:port can be bound right now.
bool can_bind(int port);

}  // namespace blackbox
