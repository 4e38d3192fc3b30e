#include "storm.h"

#include <climits>
#include <cstdint>
#include <thread>
#include <zlib.h>

#include "blackbox.h"
#include "page_text.h"

namespace storm {

namespace {

using clock_type = std::chrono::steady_clock;

const std::string PNG_HEADER = page_text::STATUS + "Content-type: image/png\r\n\r\n";
const std::string HTML_HEADER = page_text::STATUS + page_text::HTML;
const std::string INDEX = page_text::STATUS + page_text::index_page(page_text::LOAD_PARAGRAPH +
                                                                     page_text::NETIF_PARAGRAPH +
                                                                     page_text::MEMSWAP_PARAGRAPH);

std::string get(const std::string& target) { return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"; }

std::vector<request> build_mix() {
    const std::string load_overview = page_text::STATUS + page_text::LOAD_OVERVIEW;
    const std::string memswap_overview = page_text::STATUS + page_text::MEMSWAP_OVERVIEW;
    const std::string lo_page = page_text::STATUS + page_text::netif_page("lo", "lo");
    return {
        {"index", get("/"), kind::page, INDEX},
        {"load graph 1", get("/MOD_LOAD?grafinterval_1"), kind::graph},
        {"POST", "POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", kind::malformed, page_text::BAD_REQUEST},
        {"interval page 1", get("/interval.html?1"), kind::page},
        {"memory graph 1", get("/MOD_MEMSWAP/grafinterval_1"), kind::graph},
        {"path without slash", "GET index.html HTTP/1.1\r\n\r\n", kind::malformed, page_text::MISSING_URL},
        {"load overview", get("/MOD_LOAD?overview"), kind::page, load_overview},
        {"interface graph 1", get("/MOD_NETIF/grafinterval_1?lo"), kind::graph},
        {"empty request", "", kind::malformed, page_text::BAD_REQUEST, true},
        {"interval page 10", "GET /interval.html?10 HTTP/1.0\r\n\r\n", kind::page},
        {"load graph 10", get("/MOD_LOAD?grafinterval_10"), kind::graph},
        {"HEAD", "HEAD / HTTP/1.1\r\n\r\n", kind::malformed, page_text::BAD_REQUEST},
        {"memory overview", get("/MOD_MEMSWAP?overview"), kind::page, memswap_overview},
        {"load graph 100", get("/MOD_LOAD?grafinterval_100"), kind::graph},
        {"tab after GET", "GET\t/ HTTP/1.1\r\n\r\n", kind::malformed, page_text::BAD_REQUEST},
        {"interface page", get("/MOD_NETIF/overview?lo"), kind::page, lo_page},
        {"memory graph 10", get("/MOD_MEMSWAP/grafinterval_10"), kind::graph},
        {"GET and nothing", "GET ", kind::malformed, page_text::MISSING_URL, true},
        {"lower-case get, no version", "get /index.html\r\n", kind::page, INDEX},
        {"memory graph 100", get("/MOD_MEMSWAP/grafinterval_100"), kind::graph},
        {"TLS hello bytes", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11), kind::malformed,
         page_text::BAD_REQUEST},
    };
}

uint32_t be32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

std::string first_line(const std::string& answer) {
    std::string line = answer.substr(0, answer.find("\r\n"));
    return line.size() > 60 ? line.substr(0, 60) + "..." : line;
}


}  // namespace

const std::vector<request>& mix() {
    static const std::vector<request> m = build_mix();
    return m;
}

std::string check_png(const std::string& body) {
    static const std::string signature("\x89PNG\r\n\x1a\n", 8);
    if (!body.starts_with(signature)) return "no PNG signature";
    auto* p = reinterpret_cast<const unsigned char*>(body.data());
    size_t at = signature.size();
    bool first = true;
    while (at + 12 <= body.size()) {
        uint32_t len = be32(p + at);
        if (len > body.size() - at - 12) return "chunk runs past the end";
        std::string type(body, at + 4, 4);
        if (be32(p + at + 8 + len) != crc32(0, p + at + 4, len + 4)) return "bad CRC in " + type;
        if (first) {
            if (type != "IHDR" || len != 13) return "IHDR is not first";
            if (be32(p + at + 8) != 500 || be32(p + at + 12) != 150) return "not 500 x 150";
            first = false;
        }
        at += 12 + len;
        if (type == "IEND") return at == body.size() ? "" : "bytes after IEND";
    }
    return "no IEND: cut short at byte " + std::to_string(body.size());
}

std::string check(const request& r, const std::string& answer) {
    if (!r.want.empty()) return answer == r.want ? "" : "not the expected answer: " + first_line(answer);
    switch (r.what) {
        case kind::page:
            if (!answer.starts_with(HTML_HEADER)) return "no HTML header: " + first_line(answer);
            return answer.ends_with(page_text::FOOTER) ? "" : "page cut short";
        case kind::graph:
            if (!answer.starts_with(PNG_HEADER)) return "no PNG header: " + first_line(answer);
            return check_png(answer.substr(PNG_HEADER.size()));
        case kind::malformed: break;
    }
    return "no expected answer";
}

void tally::fail(std::atomic<long>& counter, const std::string& what) {
    ++counter;
    std::lock_guard<std::mutex> hold(lock);
    if (first_failures.size() < 10) first_failures.push_back(what);
}

std::string tally::report() const {
    std::string s = "sent " + std::to_string(sent.load()) + ", right " + std::to_string(right.load()) + ", lost " +
                    std::to_string(lost.load()) + ", wrong " + std::to_string(wrong.load()) + " (pages " +
                    std::to_string(per_kind[0].load()) + ", graphs " + std::to_string(per_kind[1].load()) +
                    ", malformed " + std::to_string(per_kind[2].load()) + ")";
    for (const std::string& f : first_failures) s += "\n  " + f;
    return s;
}

namespace {

void client(int port, std::atomic<long>& next, long total, clock_type::time_point until, tally& t,
            const std::atomic<bool>* stop) {
    const std::vector<request>& m = mix();
    for (;;) {
        if (stop && stop->load()) return;
        if (clock_type::now() >= until) return;
        long i = next++;
        if (i >= total) return;
        const request& r = m[static_cast<size_t>(i) % m.size()];
        ++t.sent;
        ++t.per_kind[static_cast<int>(r.what)];
        std::string answer = blackbox::exchange(port, r.bytes, 20000, r.half_close);
        if (answer.empty()) {
            t.fail(t.lost, std::string(r.desc) + ": lost (no connection or no answer)");
            continue;
        }
        std::string wrong = check(r, answer);
        if (wrong.empty())
            ++t.right;
        else
            t.fail(t.wrong, std::string(r.desc) + ": " + wrong);
    }
}

void start(int port, int clients, long total, clock_type::time_point until, tally& t, const std::atomic<bool>* stop) {
    std::atomic<long> next{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back(client, port, std::ref(next), total, until, std::ref(t), stop);
    for (std::thread& th : threads) th.join();
}

}  // namespace

void run(int port, int clients, long total, tally& t, const std::atomic<bool>* stop) {
    start(port, clients, total, clock_type::time_point::max(), t, stop);
}

void run_for(int port, int clients, std::chrono::milliseconds limit, tally& t, const std::atomic<bool>* stop) {
    start(port, clients, LONG_MAX, clock_type::now() + limit, t, stop);
}

}  // namespace storm
