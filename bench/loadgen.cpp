// A small HTTP load client: each client opens a connection, sends one
// request, reads the answer to the close and starts over. Kelp marks the end
// of an answer only by closing, so this is how its answers must be read; the
// other server under comparison is driven the same way.
//
//   loadgen -p PORT [-c CLIENTS] (-s SECONDS | -n REQUESTS)
//           [-r REQUEST]... [-e STATUS_LINE] [-l]
//   loadgen -p PORT -o FILE [-r REQUEST] [-e STATUS_LINE]
//
// -r may be given several times: the requests are sent in turn. \r and \n in
// it are written as the two characters backslash-r and backslash-n. -e is the
// line an answer must start with (default "HTTP/1.1 200 OK"); every other
// answer, a failed connection or an empty answer is an error. -l also counts
// an answer as an error when its length differs from the first answer to the
// same request (for static pages). Prints one line of key=value figures and
// exits with 1 if there was any error.
//
// -o sends the (first) request once and writes the body of the answer, all
// that follows the first empty line, to FILE.
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int MAX_CLIENTS = 1000;

struct options {
    int port = 0;
    int clients = 16;
    double seconds = 0;
    long requests = 0;
    std::vector<std::string> asks;
    std::string status = "HTTP/1.1 200 OK";
    bool same_length = false;
    const char* body_file = nullptr;
};

std::string unescape(const char* s) {
    std::string out;
    for (; *s; ++s) {
        if (s[0] == '\\' && s[1] == 'r') {
            out += '\r';
            ++s;
        } else if (s[0] == '\\' && s[1] == 'n') {
            out += '\n';
            ++s;
        } else {
            out += *s;
        }
    }
    return out;
}

// A whole decimal number in [lo, hi], or nothing: "16x" is no client count.
bool to_long(const char* s, long lo, long hi, long* v) {
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(s, &end, 10);
    if (errno || end == s || *end || n < lo || n > hi) return false;
    *v = n;
    return true;
}

bool parse(int argc, char** argv, options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string flag = argv[i];
        if (flag == "-l") {
            o.same_length = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* v = argv[++i];
        long n = 0;
        if (flag == "-p") {
            if (!to_long(v, 1, 65535, &n)) return false;
            o.port = static_cast<int>(n);
        } else if (flag == "-c") {
            if (!to_long(v, 1, MAX_CLIENTS, &n)) return false;
            o.clients = static_cast<int>(n);
        } else if (flag == "-s") {
            char* end = nullptr;
            o.seconds = std::strtod(v, &end);
            if (end == v || *end || !(o.seconds > 0)) return false;
        } else if (flag == "-n") {
            if (!to_long(v, 1, 1L << 40, &o.requests)) return false;
        } else if (flag == "-r") {
            o.asks.push_back(unescape(v));
        } else if (flag == "-e") {
            o.status = v;
        } else if (flag == "-o") {
            o.body_file = v;
        } else {
            return false;
        }
    }
    if (o.asks.empty()) o.asks.push_back("GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    if (o.body_file) {
        o.clients = 1;
        o.requests = 1;
        return o.port > 0 && o.seconds == 0;
    }
    return o.port > 0 && (o.seconds > 0) != (o.requests > 0);
}

// One exchange; the size of the answer, or -1 when it could not be had or did
// not start with the status line. keep, when given, receives the whole answer.
long exchange(const sockaddr_in& to, const std::string& ask, const std::string& status, char* buf, size_t size,
              std::string* keep) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    timeval limit{20, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    long got = -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
        send(fd, ask.data(), ask.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(ask.size())) {
        got = 0;
        // The status line may come in pieces: the first bytes are gathered
        // until there are enough to compare.
        std::string head;
        for (;;) {
            ssize_t n = recv(fd, buf, size, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                got = -1;
                break;
            }
            if (n == 0) break;
            if (head.size() < status.size())
                head.append(buf, std::min(static_cast<size_t>(n), status.size() - head.size()));
            if (keep) keep->append(buf, static_cast<size_t>(n));
            got += n;
        }
        if (got >= 0 && head != status) got = -1;
    }
    close(fd);
    return got;
}

int save_body(const sockaddr_in& to, const options& o) {
    std::vector<char> buf(64 * 1024);
    std::string answer;
    if (exchange(to, o.asks.front(), o.status, buf.data(), buf.size(), &answer) <= 0) {
        std::fprintf(stderr, "loadgen: no answer starting with \"%s\" on port %d\n", o.status.c_str(), o.port);
        return 1;
    }
    size_t body = answer.find("\r\n\r\n");
    if (body == std::string::npos) {
        std::fprintf(stderr, "loadgen: the answer has no end of header\n");
        return 1;
    }
    body += 4;
    FILE* f = std::fopen(o.body_file, "wb");
    if (!f) {
        std::perror(o.body_file);
        return 1;
    }
    size_t n = answer.size() - body;
    bool ok = std::fwrite(answer.data() + body, 1, n, f) == n;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::perror(o.body_file);
        return 1;
    }
    std::printf("header_bytes=%zu body_bytes=%zu\n", body, n);
    return 0;
}

struct totals {
    std::atomic<long> answers{0}, errors{0}, bytes{0};
    std::mutex lock;
    std::vector<double> latencies_us;
    std::vector<long> lengths;  // per request, from its first answer
};

}  // namespace

int main(int argc, char** argv) {
    options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: loadgen -p PORT [-c CLIENTS] (-s SECONDS | -n REQUESTS) [-r REQUEST]... "
                     "[-e STATUS_LINE] [-l]\n"
                     "       loadgen -p PORT -o FILE [-r REQUEST] [-e STATUS_LINE]\n");
        return 2;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(o.port));
    if (o.body_file) return save_body(to, o);

    totals t;
    t.lengths.assign(o.asks.size(), -1);
    std::atomic<long> next{0};
    auto start = clock_type::now();
    auto until = o.seconds > 0 ? start + std::chrono::duration_cast<clock_type::duration>(
                                             std::chrono::duration<double>(o.seconds))
                               : clock_type::time_point::max();
    std::vector<std::thread> clients;
    for (int c = 0; c < o.clients; ++c)
        clients.emplace_back([&] {
            std::vector<char> buf(256 * 1024);
            std::vector<double> mine;
            mine.reserve(1 << 16);
            for (;;) {
                long i = next++;
                if (o.requests > 0 && i >= o.requests) break;
                auto began = clock_type::now();
                if (began >= until) break;
                size_t which = static_cast<size_t>(i) % o.asks.size();
                long got = exchange(to, o.asks[which], o.status, buf.data(), buf.size(), nullptr);
                auto ended = clock_type::now();
                if (got > 0 && o.same_length) {
                    std::lock_guard<std::mutex> hold(t.lock);
                    if (t.lengths[which] < 0) t.lengths[which] = got;
                    if (got != t.lengths[which]) got = -1;
                }
                if (got <= 0) {
                    ++t.errors;
                    continue;
                }
                ++t.answers;
                t.bytes += got;
                mine.push_back(std::chrono::duration<double, std::micro>(ended - began).count());
            }
            std::lock_guard<std::mutex> hold(t.lock);
            t.latencies_us.insert(t.latencies_us.end(), mine.begin(), mine.end());
        });
    for (std::thread& c : clients) c.join();
    double took = std::chrono::duration<double>(clock_type::now() - start).count();
    // Its own CPU, so that a figure can say what the load generator took from
    // the machine it shares with the server.
    timespec own{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &own);

    std::vector<double>& l = t.latencies_us;
    std::sort(l.begin(), l.end());
    auto pct = [&](double p) { return l.empty() ? 0.0 : l[std::min(l.size() - 1, static_cast<size_t>(p * l.size()))]; };
    long answers = t.answers.load();
    std::printf("answers=%ld errors=%ld seconds=%.3f rate=%.1f bytes_per_answer=%.0f p50_us=%.0f p99_us=%.0f "
                "max_us=%.0f cpu_s=%.3f\n",
                answers, t.errors.load(), took, answers / took, answers ? double(t.bytes.load()) / answers : 0.0,
                pct(0.5), pct(0.99), l.empty() ? 0.0 : l.back(), own.tv_sec + own.tv_nsec / 1e9);
    return t.errors.load() == 0 ? 0 : 1;
}
