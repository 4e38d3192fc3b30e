// The daemon's answers as a client sees them, byte for byte, over loopback.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <string>

#include "blackbox.h"
#include "page_text.h"

namespace {

using namespace page_text;

std::string get(int port, const std::string& path) {
    return blackbox::exchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
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

// Each request's answer and the line it leaves in the access log, none for a
// malformed one; a request that fills the 1900 bytes of a read is reported.
TEST(Pages, EveryRequestWithAllModulesDisabledAndItsLogLine) {
    const std::string waiting = "i am here .... still waiting\r\n";
    blackbox::daemon k(ALL_DISABLED);
    ASSERT_TRUE(k.wait_listening()) << k.err();
    // The main thread says it waits only after the socket listens.
    ASSERT_TRUE(blackbox::wait_until([&] { return k.out().find(waiting) != std::string::npos; },
                                     std::chrono::seconds(10)));
    // "GET /" and " HTTP/1.0\r\n\r\n" take 18 bytes of a request.
    const std::string index = STATUS + index_page(""), a(1900 - 18, 'a'), b(1899 - 18, 'b');
    auto interval = [](int n) { return STATUS + interval_page(n, ""); };

    const struct {
        const char* desc;
        std::string request;  // raw bytes
        std::string answer, logged;  // logged: "" for no line
    } cases[] = {
        {"/ with HTTP/1.1", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", index, "/NULL"},
        {"a path nobody answers", "GET /no/such/page.html HTTP/1.1\r\n\r\n", index, "/no/such/page.htmlNULL"},
        {"a disabled module's page", "GET /MOD_LOAD?overview HTTP/1.1\r\n\r\n", index, "/MOD_LOAD?overview"},
        {"interval page 1", "GET /interval.html?1 HTTP/1.1\r\n\r\n", interval(1), "/interval.html?1"},
        {"interval page 10", "GET /interval.html?10 HTTP/1.1\r\n\r\n", interval(10), "/interval.html?10"},
        {"interval page 100", "GET /interval.html?100 HTTP/1.1\r\n\r\n", interval(100), "/interval.html?100"},
        {"?10abc reads as 10", "GET /interval.html?10abc HTTP/1.1\r\n\r\n", interval(10), "/interval.html?10abc"},
        {"no version: CR LF do not spoil the number", "GET /interval.html?100\r\n", interval(100),
         "/interval.html?100\r\n"},
        {"?5 is no interval", "GET /interval.html?5 HTTP/1.1\r\n\r\n", index, "/interval.html?5"},
        {"?0 is no interval", "GET /interval.html?0 HTTP/1.1\r\n\r\n", index, "/interval.html?0"},
        {"empty parameter", "GET /interval.html? HTTP/1.1\r\n\r\n", index, "/interval.html?"},
        {"no parameter", "GET /interval.html HTTP/1.1\r\n\r\n", index, "/interval.htmlNULL"},
        {"the path is compared in full", "GET /interval.htmlx?10 HTTP/1.1\r\n\r\n", index, "/interval.htmlx?10"},
        {"the parameter as the parser splits it", "GET /a?b?c HTTP/1.1\r\n\r\n", index, "/a?c"},
        {"POST", "POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", BAD_REQUEST, ""},
        {"path without its slash", "GET index.html HTTP/1.1\r\n\r\n", MISSING_URL, ""},
        {"empty request", "", BAD_REQUEST, ""},
        {"a good request after the bad ones", "GET / HTTP/1.1\r\n\r\n", index, "/NULL"},
        {"one byte less than a read", "GET /" + b + " HTTP/1.0\r\n\r\n", index, "/" + b + "NULL"},
        {"a read's 1900 bytes", "GET /" + a + " HTTP/1.0\r\n\r\n", index, "/" + a + "NULL"},
    };
    std::string log = waiting;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desc);
        EXPECT_EQ(blackbox::exchange(k.port, c.request, 10000, c.request.empty()), c.answer);
        if (!c.logged.empty()) log += "127.0.0.1 T " + c.logged + "\r\n";
    }
    EXPECT_EQ(k.interrupt(), 0);
    EXPECT_EQ(blackbox::count(k.err(), "Too many bytes to read. I ignore this: Success\n"), 1u) << k.err();

    // Each line's stamp is checked, then stands as "T" in the whole log.
    const std::regex stamp("\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d");
    const std::string out = k.out();
    EXPECT_EQ(std::regex_replace(out, stamp, "T"), log);
    for (std::sregex_iterator i(out.begin(), out.end(), stamp), end; i != end; ++i) expect_recent(i->str());
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
    const std::string list = get(k.port, "/MOD_NETIF?overview");
    std::string head = STATUS + netif_list("");
    head.resize(head.size() - FOOTER.size());
    ASSERT_TRUE(list.starts_with(head) && list.ends_with(FOOTER)) << list;
    const std::string names = list.substr(head.size(), list.size() - head.size() - FOOTER.size());
    EXPECT_TRUE(std::regex_match(names, std::regex("(<a href=\"/MOD_NETIF/overview\\?([^\"<>&]+)\">\\2</a><br>\r\n)*")))
        << names;
    EXPECT_EQ(names.find("?lo\""), std::string::npos) << names;
}

}  // namespace
