// Kelp: a small system-statistics daemon. Entry point, start-up and shutdown.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

#include "config/config.h"
#include "core/history.h"
#include "core/sampling.h"
#include "core/tuning.h"
#include "modules/modules.h"
#include "stat/stat_wrapper.h"
#include "web/access.h"
#include "web/httpd.h"

namespace {

pthread_t signal_tid;
pthread_t httpd_tid;
// Set once the handle above is valid; read by the handler on any thread.
std::atomic<bool> signal_started{false};
std::atomic<bool> httpd_started{false};

void usage() {
    std::fprintf(stderr, " Usage of Kelp Version %s\r\n", KELP_VERSION);
    std::fputs("--------------------------------------\r\n", stderr);
    std::fputs(" -h              This Help Screen\r\n", stderr);
    std::fputs(" -f <name>       Configurationfilename\r\n", stderr);
    std::fputs(" -pdc            Print Default Config\r\n", stderr);
    std::fputs("--------------------------------------\r\n", stderr);
}

void cancel_unless_self(const std::atomic<bool>& started, pthread_t tid) {
    if (started.load() && !pthread_equal(tid, pthread_self())) pthread_cancel(tid);
}

void signal_int(int /*signum*/) {
    cancel_unless_self(httpd_started, httpd_tid);
    cancel_unless_self(signal_started, signal_tid);
    for (int fd = 256; fd >= 0; --fd) close(fd);
    // _exit, not exit: other threads are still running and must not see the
    // process's static objects being destroyed under them.
    _exit(0);
}

void* park(void*) {
    for (;;) pause();
    return nullptr;
}

// The first pthread_cancel of a process loads the unwinder, which allocates:
// not something to do inside a signal handler that may have interrupted
// malloc. Cancelling one throw-away thread here does that work up front.
void prepare_cancellation() {
    pthread_t t;
    if (pthread_create(&t, nullptr, park, nullptr) != 0) return;
    pthread_cancel(t);
    pthread_join(t, nullptr);
}

void parse_command_line(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "-h") == 0) {
            usage();
            std::exit(0);
        } else if (std::strcmp(arg, "-f") == 0) {
            if (i + 1 >= argc) {
                std::fputs("Missing Filename for -f\r\n", stderr);
                std::exit(0);
            }
            config_read(argv[++i]);
        } else if (std::strcmp(arg, "-pdc") == 0) {
            config_printdefaultconfig(stdout);
            std::exit(0);
        } else {
            std::fprintf(stderr, "Argument %i (%s) ignored\r\n", i, arg);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    tuning_init();
    config_init();
    parse_command_line(argc, argv);
    // The configuration is complete: a list of clients that cannot be read
    // ends the start here, before anything runs.
    access_init();
    prepare_cancellation();

    struct sigaction sa {};
    sa.sa_handler = signal_int;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    // A client that goes away before its answer is written must not end the
    // daemon; failed writes are absorbed where they happen.
    std::signal(SIGPIPE, SIG_IGN);

    stat_init();
    history_init();
    modules_register();
    modules_init();

    if (pthread_create(&signal_tid, nullptr, signal_thread, nullptr) == 0) signal_started.store(true);
    sleep(1);
    httpd_init();
    if (pthread_create(&httpd_tid, nullptr, httpd_thread, nullptr) == 0) httpd_started.store(true);

    for (;;) {
        std::fputs("i am here .... still waiting\r\n", stdout);
        std::fflush(stdout);
        pause();
    }
}
