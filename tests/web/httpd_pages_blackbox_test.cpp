// The daemon's answers as a client sees them, byte for byte, over loopback.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "blackbox.h"
#include "page_text.h"

namespace {

using namespace page_text;

std::string get(int port, const std::string& path) {
    return blackbox::exchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

// A connection on which the client sends nothing and closes its side.
std::string empty_request(int port) {
    int fd = blackbox::connect_to(port);
    if (fd < 0) return "no connection";
    shutdown(fd, SHUT_WR);
    std::string answer = blackbox::read_to_close(fd);
    close(fd);
    return answer;
}

TEST(Pages, EveryRequestWithAllModulesDisabled) {
    blackbox::daemon k(ALL_DISABLED);
    ASSERT_TRUE(k.wait_listening()) << k.err();
    const std::string index = STATUS + index_page("");
    auto interval = [](int n) { return STATUS + interval_page(n, ""); };

    const struct {
        const char* desc;
        std::string request;  // raw bytes
        std::string answer;
    } cases[] = {
        {"/ with HTTP/1.1", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", index},
        {"a path nobody answers", "GET /no/such/page.html HTTP/1.1\r\n\r\n", index},
        {"a disabled module's page", "GET /MOD_LOAD?overview HTTP/1.1\r\n\r\n", index},
        {"interval page 1", "GET /interval.html?1 HTTP/1.1\r\n\r\n", interval(1)},
        {"interval page 10", "GET /interval.html?10 HTTP/1.1\r\n\r\n", interval(10)},
        {"interval page 100", "GET /interval.html?100 HTTP/1.1\r\n\r\n", interval(100)},
        {"?10abc reads as 10", "GET /interval.html?10abc HTTP/1.1\r\n\r\n", interval(10)},
        {"no version: CR LF do not spoil the number", "GET /interval.html?100\r\n", interval(100)},
        {"?5 is no interval", "GET /interval.html?5 HTTP/1.1\r\n\r\n", index},
        {"?0 is no interval", "GET /interval.html?0 HTTP/1.1\r\n\r\n", index},
        {"empty parameter", "GET /interval.html? HTTP/1.1\r\n\r\n", index},
        {"no parameter", "GET /interval.html HTTP/1.1\r\n\r\n", index},
        {"the path is compared in full", "GET /interval.htmlx?10 HTTP/1.1\r\n\r\n", index},
        {"POST", "POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", BAD_REQUEST},
        {"path without its slash", "GET index.html HTTP/1.1\r\n\r\n", MISSING_URL},
        {"a good request after the bad ones", "GET / HTTP/1.1\r\n\r\n", index},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desc);
        EXPECT_EQ(blackbox::exchange(k.port, c.request), c.answer);
    }
    EXPECT_EQ(empty_request(k.port), BAD_REQUEST);
    EXPECT_EQ(k.interrupt(), 0);
}

// One request per module; the paths each module answers are checked in-process.
// The CPU module is off unless its key is set: its page is the main index.
TEST(ModulePages, EachModuleWithAllModulesEnabled) {
    blackbox::daemon k;
    ASSERT_TRUE(k.wait_listening()) << k.err();
    EXPECT_EQ(get(k.port, "/MOD_LOAD?overview"), STATUS + LOAD_OVERVIEW);
    EXPECT_EQ(get(k.port, "/MOD_MEMSWAP/overview"), STATUS + MEMSWAP_OVERVIEW);
    EXPECT_EQ(get(k.port, "/MOD_CPU/overview"),
              STATUS + index_page(LOAD_PARAGRAPH + NETIF_PARAGRAPH + MEMSWAP_PARAGRAPH));

    // The list shows this machine's interfaces, never the hidden loopback.
    std::string list = get(k.port, "/MOD_NETIF?overview");
    std::string start = STATUS + netif_list("");
    start.resize(start.size() - FOOTER.size());
    EXPECT_EQ(list.rfind(start, 0), 0u) << list;
    ASSERT_GE(list.size(), start.size() + FOOTER.size());
    EXPECT_EQ(list.substr(list.size() - FOOTER.size()), FOOTER);
    EXPECT_EQ(list.find("?lo\""), std::string::npos) << list;
    std::string names = list.substr(start.size(), list.size() - start.size() - FOOTER.size());
    const std::regex row("(<a href=\"/MOD_NETIF/overview\\?([^\"<>&]+)\">\\2</a><br>\r\n)*");
    EXPECT_TRUE(std::regex_match(names, row)) << names;
}

// The stamp is the local time of the request.
void expect_recent(const std::string& stamp) {
    tm t{};
    ASSERT_TRUE(strptime(stamp.c_str(), "%d.%m.%Y %H:%M:%S", &t)) << stamp;
    t.tm_isdst = -1;
    double age = std::difftime(std::time(nullptr), std::mktime(&t));
    EXPECT_GE(age, -2) << stamp;
    EXPECT_LE(age, 30) << stamp;
}

TEST(AccessLog, OneLinePerWellFormedRequest) {
    const std::string waiting = "i am here .... still waiting\r\n";
    blackbox::daemon k(ALL_DISABLED);
    ASSERT_TRUE(k.wait_listening()) << k.err();
    // The main thread says it waits only after the socket listens.
    ASSERT_TRUE(blackbox::wait_until([&] { return k.out().find(waiting) != std::string::npos; },
                                     std::chrono::seconds(10)));
    for (const char* path : {"/", "/a?", "/x?y", "/a??c", "/a?b?c", "/MOD_NETIF/overview?em0"})
        ASSERT_NE(get(k.port, path), "");
    ASSERT_EQ(blackbox::exchange(k.port, "HEAD / HTTP/1.1\r\n\r\n"), BAD_REQUEST);
    ASSERT_EQ(blackbox::exchange(k.port, "GET x HTTP/1.1\r\n\r\n"), MISSING_URL);
    ASSERT_NE(blackbox::exchange(k.port, "GET /raw\r\n"), "");
    EXPECT_EQ(k.interrupt(), 0);

    std::string out = k.out();
    size_t at = out.find(waiting);
    ASSERT_NE(at, std::string::npos) << out;
    out.erase(at, waiting.size());

    const std::regex line("127\\.0\\.0\\.1 (\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d) (.*?)\r\n");
    const char* const logged[] = {"/NULL", "/a?", "/x?y", "/a??c", "/a?c", "/MOD_NETIF/overview?em0",
                                  "/raw\r\nNULL"};
    std::smatch m;
    std::string rest = out;
    for (const char* expected : logged) {
        SCOPED_TRACE(expected);
        ASSERT_TRUE(std::regex_search(rest, m, line, std::regex_constants::match_continuous)) << rest;
        // A URL that keeps its CR LF spans a line end; the lazy match stops
        // there, so put the remainder back together before comparing.
        std::string what = m[2];
        std::string after = m.suffix();
        if (std::string(expected).find('\n') != std::string::npos) {
            size_t end = after.find("\r\n");
            ASSERT_NE(end, std::string::npos);
            what += "\r\n" + after.substr(0, end);
            after = after.substr(end + 2);
        }
        EXPECT_EQ(what, expected);
        expect_recent(m[1]);
        rest = after;
    }
    EXPECT_EQ(rest, "") << "malformed requests are not logged";
}

TEST(Requests, AReadThatFillsTheLimitIsReportedAndServed) {
    blackbox::daemon k(ALL_DISABLED);
    ASSERT_TRUE(k.wait_listening()) << k.err();
    const std::string tail = " HTTP/1.0\r\n\r\n";
    std::string full = "GET /" + std::string(1900 - 5 - tail.size(), 'a') + tail;
    ASSERT_EQ(full.size(), 1900u);
    std::string one_less = "GET /" + std::string(1899 - 5 - tail.size(), 'b') + tail;

    EXPECT_EQ(blackbox::exchange(k.port, one_less), STATUS + index_page(""));
    EXPECT_EQ(k.err().find("Too many bytes"), std::string::npos) << k.err();
    EXPECT_EQ(blackbox::exchange(k.port, full), STATUS + index_page(""));
    EXPECT_NE(k.err().find("Too many bytes to read. I ignore this: Success\n"), std::string::npos) << k.err();
}

}  // namespace
