// A storm of requests against a Kelp server on a loopback port: a fixed mix of
// pages, graphs and malformed requests, sent by many clients at once, each
// answer read to the close and checked in full.
//
// Every kind of Kelp (the real binary or a server started in-process) must run
// with all modules enabled and with the interface "lo" shown.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "blackbox.h"

namespace storm {

// The configuration lines a server under the storm needs besides its port:
// it listens on loopback alone.
inline const std::string CONFIG = "httpd.host 127.0.0.1\nmodule.netif.interface.lo.enable 1\n";

enum class kind { page, graph, malformed };

struct request {
    const char* desc;
    std::string bytes;
    kind what;
    // The whole answer where it does not depend on the samples; otherwise ""
    // and only its frame (header, footer, PNG structure) is checked.
    std::string want{};
    bool half_close = false;  // as blackbox::exchange takes it
};

// The mix, cycled through in order: about a third each of pages, graphs and
// malformed requests.
const std::vector<request>& mix();

// "" when answer is the complete, correct answer to r; else what is wrong.
std::string check(const request& r, const std::string& answer);

// "" when body is one whole PNG of 500 x 150 pixels: signature, chunks with
// their CRCs, IHDR first, IEND last and nothing after it.
std::string check_png(const std::string& body);

// What the clients of a storm saw. A request counts as lost when its
// connection could not be made or no byte of an answer came back, as wrong
// when an answer came but was not the right one in full.
struct tally {
    std::atomic<long> sent{0}, right{0}, lost{0}, wrong{0};
    std::atomic<long> per_kind[3] = {};
    std::mutex lock;
    std::vector<std::string> first_failures;  // at most a few, for the report

    void fail(std::atomic<long>& counter, const std::string& what);
    std::string report() const;
};

// `clients` threads share `total` requests of the mix between them and wait
// for each answer before sending their next request. Stops early once stop is
// set (then fewer than total are sent).
void run(int port, int clients, long total, tally& t, const std::atomic<bool>* stop = nullptr);

// The same, until `stop` is set or `limit` has passed.
void run_for(int port, int clients, std::chrono::milliseconds limit, tally& t, const std::atomic<bool>* stop = nullptr);

}  // namespace storm
