#include "web/httpd.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <poll.h>
#include <semaphore.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "config/config.h"
#include "core/history.h"
#include "modules/modules.h"
#include "web/access.h"
#include "web/html.h"
#include "web/listen.h"
#include "web/metrics.h"

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0  // SIGPIPE is ignored by the process anyway
#endif

namespace {

constexpr int DEFAULT_PORT = 9001;
constexpr int BACKLOG = 70;
constexpr int FULL_PAUSE_SECONDS = 2;
constexpr int IO_TIMEOUT_SECONDS = 10;
constexpr size_t STREAM_BUFFER_BYTES = 8192;
constexpr long ACCEPT_RETRY_NS = 100L * 1000 * 1000;

constexpr char ANSWER_500[] = "HTTP/1.1 500 Error\r\n";

// What a request that does not pass the parser is told; nothing follows the
// status line.
struct refusal {
    httpd_parse_result result;
    const char* status_line;
};
constexpr refusal REFUSALS[] = {
    {HTTPD_NOT_GET, "HTTP/1.1 400 Request Error\r\n"},
    {HTTPD_MISSING_URL, "HTTP/1.1 400 missing url or incomplete path\r\n"},
};

int listen_fd = -1;
threadstruct threads[HTTPD_SLOTS];
int current_thread = 0;      // listener thread only
timespec next_full_report{};  // listener thread only

// Posted by every connection thread after it has marked its slot finished, so
// that a listener pausing on a full server wakes as soon as a slot can be had.
sem_t slot_finished;

struct file_closer {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using unique_file = std::unique_ptr<FILE, file_closer>;  // fclose also closes client_fd

bool is_blank(char c) { return c == ' ' || c == '\t'; }

unsigned short configured_port() { return httpd_port_of(config_getproperty("httpd.port")); }

// --- The listener -----------------------------------------------------------

void forget_finish_signals() {
    while (sem_trywait(&slot_finished) == 0) {
    }
}

timespec now() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);  // the clock sem_timedwait measures with
    return t;
}

bool not_before(const timespec& a, const timespec& b) {
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec >= b.tv_nsec);
}

// The pause ends early when a connection finishes, so under steady load the
// server fills up many times a second. The message keeps its old pace: once,
// then again only when the server has stayed full for a whole pause.
void report_full_server() {
    timespec t = now();
    if (!not_before(t, next_full_report)) return;
    std::fputs("detecting full server .... waiting ....\r\n", stdout);
    std::fflush(stdout);
    next_full_report = t;
    next_full_report.tv_sec += FULL_PAUSE_SECONDS;
}

void pause_until_a_slot_finishes() {
    timespec until = now();
    until.tv_sec += FULL_PAUSE_SECONDS;
    while (sem_timedwait(&slot_finished, &until) != 0 && errno == EINTR) {
    }
}

// Round-robin from current_thread. Finished slots are joined and freed on the
// way but taken only when the search comes round to them again. Only a run of
// 25 busy slots in a row means the server is full.
threadstruct& find_free_slot() {
    int busy = 0;
    for (;;) {
        // A thread that finishes after this point posts after it, so the
        // pause below cannot miss it; one that finished before shows as 2.
        if (busy == 0) forget_finish_signals();
        threadstruct& t = threads[current_thread];
        int status = t.status.load(std::memory_order_acquire);
        if (status == SLOT_FREE) return t;
        if (status == SLOT_FINISHED) {
            t.status.store(SLOT_FREE, std::memory_order_relaxed);
            pthread_join(t.tid, nullptr);
            busy = 0;
        } else {
            ++busy;
        }
        current_thread = (current_thread + 1) % HTTPD_SLOTS;
        if (busy >= HTTPD_SLOTS) {
            report_full_server();
            busy = 0;
            pause_until_a_slot_finishes();
        }
    }
}

timespec monotonic_now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

// Refusals held back by the report's pace are told when their time comes,
// whether clients keep the socket busy or none comes at all.
void wait_for_connection() {
    pollfd p{listen_fd, POLLIN, 0};
    do {
        access_report_pending(monotonic_now(), stderr);
    } while (poll(&p, 1, access_report_wait_ms(monotonic_now())) == 0);
}

// A failed accept costs this one connection, never the daemon. Without free
// descriptors the pending connection keeps the socket readable, so wait a
// little rather than spin.
bool accept_into(threadstruct& t) {
    socklen_t len = sizeof t.clientaddr;
    int fd = accept(listen_fd, reinterpret_cast<sockaddr*>(&t.clientaddr), &len);
    if (fd >= 0) {
        t.client_fd = fd;
        return true;
    }
    int error = errno;
    std::perror("Could not accept a connection");
    if (error != ECONNABORTED && error != EINTR) {
        timespec pause{0, ACCEPT_RETRY_NS};
        nanosleep(&pause, nullptr);
    }
    return false;
}

// A client httpd.allow does not name is closed at once, before it can
// take the slot or a thread.
bool refused(const threadstruct& t) {
    if (access_allows(t.clientaddr)) return false;
    close(t.client_fd);
    access_refused(t.clientaddr, monotonic_now(), stderr);
    return true;
}

void start_connection(threadstruct& t) {
    // pthread_create orders this store before everything the thread does.
    t.status.store(SLOT_IN_USE, std::memory_order_relaxed);
    int rc = pthread_create(&t.tid, nullptr, httpd_connection, &t);
    if (rc == 0) return;
    errno = rc;
    std::perror("Could not create connection thread");
    close(t.client_fd);
    t.status.store(SLOT_FREE, std::memory_order_relaxed);
}

// --- One connection ---------------------------------------------------------

// Without these a client that never sends, or never reads, would hold its
// slot for ever; 25 of them would shut the server.
void set_timeouts(int fd) {
    timeval limit{IO_TIMEOUT_SECONDS, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

// The one read of a request; false when the connection is to be closed
// without an answer.
bool read_request(threadstruct& t) {
    ssize_t n;
    do {
        n = read(t.client_fd, t.request, HTTPD_REQUEST_LIMIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        std::perror("Read on socket failed");
        return false;
    }
    if (n == HTTPD_REQUEST_LIMIT) {
        errno = 0;
        std::perror("Too many bytes to read. I ignore this");
    }
    t.request[n] = '\0';
    return true;
}

// One line per request, formatted on this thread's stack and handed to the
// stream in one piece so that lines of different threads never mix.
void log_request(const threadstruct& t) {
    char peer[INET6_ADDRSTRLEN];
    access_peer_text(t.clientaddr, peer);

    char stamp[32] = "";
    time_t now = std::time(nullptr);
    tm local{};
    if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%d.%m.%Y %H:%M:%S", &local);

    char line[sizeof t.request + sizeof peer + sizeof stamp + 16];
    int n = std::snprintf(line, sizeof line, "%s %s %s%s%s\r\n", peer, stamp, t.url, t.param ? "?" : "",
                          t.param ? t.param : "NULL");
    if (n <= 0) return;
    std::fwrite(line, 1, std::min(static_cast<size_t>(n), sizeof line - 1), stdout);
    std::fflush(stdout);
}

void answer(threadstruct& t, FILE* fc) {
    httpd_parse_result parsed = httpd_parse_request(t.request, &t.url, &t.param);
    for (const refusal& r : REFUSALS) {
        if (r.result == parsed) {
            std::fputs(r.status_line, fc);
            return;
        }
    }
    log_request(t);
    std::fputs("HTTP/1.1 200 OK\r\n", fc);
    std::fprintf(fc, "Server: Kelp Version %s\r\n", KELP_VERSION);
    if (modules_urlhandler(fc, t.url, t.param)) return;
    if (std::strcmp(t.url, "/metrics") == 0) return metrics_answer(fc);

    int interval = (t.param && std::strcmp(t.url, "/interval.html") == 0) ? config_atoi(t.param) : 0;
    if (history_ring_of(interval) >= 0)
        print_interval(fc, interval);
    else
        print_index_html(fc);
}

void serve(threadstruct& t) {
    set_timeouts(t.client_fd);
    unique_file fc(fdopen(t.client_fd, "wb+"));
    // Room for the longest page and the /metrics answer of a few processors
    // in one write: each further write is one more segment to send.
    if (fc) std::setvbuf(fc.get(), nullptr, _IOFBF, STREAM_BUFFER_BYTES);
    if (!fc) {
        std::perror("Could not create stream from filedescriptor");
        if (send(t.client_fd, ANSWER_500, sizeof ANSWER_500 - 1, MSG_NOSIGNAL) < 0) {
            // the client is gone; nothing more to tell it
        }
        close(t.client_fd);
        return;
    }
    if (read_request(t)) answer(t, fc.get());
}

}  // namespace

httpd_parse_result httpd_parse_request(char* request, char** url, char** param) {
    *url = nullptr;
    *param = nullptr;
    char* p = request;
    while (is_blank(*p)) ++p;
    if (!*p || strncasecmp(p, "GET ", 4) != 0) return HTTPD_NOT_GET;
    p += 3;
    while (is_blank(*p)) ++p;
    if (*p != '/') return HTTPD_MISSING_URL;
    *url = p++;

    while (*p) {
        if (*p == '?') {
            *p++ = '\0';
            *param = p;
            // The character after a '?' may end the parameter but never
            // starts a new one: "??" leaves the second '?' in it.
            if (!*p) break;
            if (is_blank(*p)) {
                *p = '\0';
                break;
            }
            ++p;
        } else if (is_blank(*p)) {
            *p = '\0';
            break;
        } else {
            ++p;  // CR and LF too: a request line without a version keeps them
        }
    }
    return HTTPD_REQUEST_OK;
}

// The shared conversion saturates at the range of an int; the port wants the
// low 16 bits of the whole number, so the digits are read here modulo 2^16,
// in unsigned arithmetic that cannot overflow.
unsigned short httpd_port_of(const char* value) {
    if (!value) return DEFAULT_PORT;
    const char* s = value;
    while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = (*s++ == '-');
    unsigned low = 0;
    bool nonzero = false;
    for (; *s >= '0' && *s <= '9'; ++s) {
        low = (low * 10u + static_cast<unsigned>(*s - '0')) & 0xFFFFu;
        nonzero = nonzero || *s != '0';
    }
    if (!nonzero) return DEFAULT_PORT;
    if (negative) low = (0x10000u - low) & 0xFFFFu;
    return static_cast<unsigned short>(low);
}

void httpd_init() {
    sem_init(&slot_finished, 0, 0);

    listen_fd = listen_open(config_getproperty("httpd.host"), configured_port(), BACKLOG);
}

void* httpd_thread(void* /*unused*/) {
    for (threadstruct& t : threads) t.status.store(SLOT_FREE, std::memory_order_relaxed);
    current_thread = 0;
    for (;;) {
        threadstruct& slot = find_free_slot();
        wait_for_connection();
        if (accept_into(slot) && !refused(slot)) start_connection(slot);
    }
    return nullptr;
}

void* httpd_connection(void* c) {
    auto* t = static_cast<threadstruct*>(c);
    serve(*t);
    t->status.store(SLOT_FINISHED, std::memory_order_release);
    // After the store the listener may hand the slot on: t is not touched again.
    sem_post(&slot_finished);
    return nullptr;
}

// --- The server's own pages -------------------------------------------------

void print_index_html(FILE* out) {
    html_content_type(out, HTML_PAGE);
    html_head(out, "Main Index", nullptr, nullptr);
    std::fputs("<body>"
               "<h1>Kelp Main Page</h1><hr>\r\n"
               "Anzeigen aller Statistik Grafiken im <ul>"
               "<li><a href=\"/interval.html?1\">Interval 1 (400 sekunden)</a>"
               "<li><a href=\"/interval.html?10\">Interval 10 (4000 sekunden)</a>"
               "<li><a href=\"/interval.html?100\">Interval 100 (40000 sekunden)</a>"
               "</ul><hr>"
               "Liste aller einzelnen Module : <p>\r\n",
               out);
    modules_mainindexhtml(out);
    std::fputs("<hr>", out);
    html_footer(out);
}

void print_interval(FILE* out, int interval) {
    char address[200], period[200];
    std::snprintf(address, sizeof address, "/interval.html?%d", interval);
    std::snprintf(period, sizeof period, "%d", interval * 8);
    html_content_type(out, HTML_PAGE);
    html_head(out, "Interval Full Graf", period, address);
    std::fprintf(out, "<body><h1>Full Statistics Interval %d</h1><hr>\r\n", interval);
    modules_linkintervalgraf(out, interval);
    html_footer(out);
}
