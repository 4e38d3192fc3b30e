#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "web/httpd.h"

namespace {

struct parse_case {
    const char* desc;
    const char* request;
    httpd_parse_result result;
    const char* url = nullptr;    // expected on success
    const char* param = nullptr;  // nullptr: no '?' in the path
};

const parse_case CASES[] = {
    {"a browser's request", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", HTTPD_REQUEST_OK, "/", nullptr},
    {"lower-case method", "get /index.html HTTP/1.0\r\n\r\n", HTTPD_REQUEST_OK, "/index.html", nullptr},
    {"mixed-case method", "gEt /x HTTP/1.0\r\n", HTTPD_REQUEST_OK, "/x", nullptr},
    {"blanks and tabs before the method", " \t  GET /x HTTP/1.1\r\n", HTTPD_REQUEST_OK, "/x", nullptr},
    {"blanks and tabs between method and path", "GET  \t \t/x HTTP/1.1\r\n", HTTPD_REQUEST_OK, "/x", nullptr},
    {"a tab ends the path", "GET /x\tHTTP/1.1\r\n", HTTPD_REQUEST_OK, "/x", nullptr},
    {"parameter", "GET /MOD_NETIF/overview?em0 HTTP/1.0\r\n", HTTPD_REQUEST_OK, "/MOD_NETIF/overview", "em0"},
    {"the last separating '?' starts the parameter", "GET /a?b?c HTTP/1.1\r\n", HTTPD_REQUEST_OK, "/a", "c"},
    {"a '?' right after a '?' belongs to the parameter", "GET /a??c HTTP/1.1\r\n", HTTPD_REQUEST_OK, "/a", "?c"},
    {"likewise after a later separator", "GET /a?b??c HTTP/1.1\r\n", HTTPD_REQUEST_OK, "/a", "?c"},
    {"'?' then blank: empty parameter", "GET /a? HTTP/1.1\r\n", HTTPD_REQUEST_OK, "/a", ""},
    {"'?' then tab: empty parameter", "GET /a?\tHTTP/1.1\r\n", HTTPD_REQUEST_OK, "/a", ""},
    {"'?' at the very end: empty parameter", "GET /a?", HTTPD_REQUEST_OK, "/a", ""},
    {"\"/??\" gives the parameter \"?\"", "GET /?? HTTP/1.1", HTTPD_REQUEST_OK, "/", "?"},
    {"digits and letters in the parameter", "GET /interval.html?10abc HTTP/1.1\r\n", HTTPD_REQUEST_OK,
     "/interval.html", "10abc"},
    {"no version: CR LF stay in the URL", "GET /x\r\n", HTTPD_REQUEST_OK, "/x\r\n", nullptr},
    {"no version: CR LF stay in the parameter", "GET /interval.html?10\r\n", HTTPD_REQUEST_OK, "/interval.html",
     "10\r\n"},
    {"empty request", "", HTTPD_NOT_GET}, {"blanks only", "  \t ", HTTPD_NOT_GET},
    {"HEAD", "HEAD / HTTP/1.1\r\n", HTTPD_NOT_GET}, {"POST", "POST / HTTP/1.1\r\n", HTTPD_NOT_GET},
    {"GET followed by a tab", "GET\t/ HTTP/1.1\r\n", HTTPD_NOT_GET}, {"method cut short", "GE", HTTPD_NOT_GET},
    {"GET without anything", "GET", HTTPD_NOT_GET}, {"a longer method", "GETX / HTTP/1.1\r\n", HTTPD_NOT_GET},
    {"GET followed by a blank and nothing", "GET ", HTTPD_MISSING_URL},
    {"GET followed by blanks only", "GET  \t  ", HTTPD_MISSING_URL},
    {"path without the leading slash", "GET index.html HTTP/1.1\r\n", HTTPD_MISSING_URL},
    {"absolute URI", "GET http://host/ HTTP/1.1\r\n", HTTPD_MISSING_URL},
};

TEST(ParseRequest, SplitsUrlAndParameterInPlace) {
    for (const parse_case& c : CASES) {
        SCOPED_TRACE(c.desc);
        char buffer[2000];
        std::snprintf(buffer, sizeof buffer, "%s", c.request);
        char* url = reinterpret_cast<char*>(1);
        char* param = reinterpret_cast<char*>(1);
        ASSERT_EQ(httpd_parse_request(buffer, &url, &param), c.result);
        if (c.result != HTTPD_REQUEST_OK) {
            EXPECT_EQ(url, nullptr);
            EXPECT_EQ(param, nullptr);
            continue;
        }
        ASSERT_NE(url, nullptr);
        EXPECT_STREQ(url, c.url);
        EXPECT_TRUE(url >= buffer && url < buffer + sizeof buffer) << "the URL is not a copy";
        if (!c.param) {
            EXPECT_EQ(param, nullptr);
        } else {
            ASSERT_NE(param, nullptr);
            EXPECT_STREQ(param, c.param);
            EXPECT_TRUE(param > url && param < buffer + sizeof buffer);
        }
    }
}

// The read limit leaves the terminator inside the buffer; parsing a request
// that fills the limit stops at it and writes nothing behind it.
TEST(ParseRequest, RequestOfTheFullReadLimitStaysInsideItsBuffer) {
    threadstruct slot{};
    std::string request = "GET /" + std::string(HTTPD_REQUEST_LIMIT - 9, 'a') + "?b?c";
    ASSERT_EQ(request.size(), static_cast<size_t>(HTTPD_REQUEST_LIMIT));
    std::memset(slot.request, 'Z', sizeof slot.request);
    std::memcpy(slot.request, request.data(), request.size());
    slot.request[HTTPD_REQUEST_LIMIT] = '\0';

    ASSERT_EQ(httpd_parse_request(slot.request, &slot.url, &slot.param), HTTPD_REQUEST_OK);
    EXPECT_EQ(std::strlen(slot.url), static_cast<size_t>(HTTPD_REQUEST_LIMIT - 8));
    EXPECT_STREQ(slot.param, "c");
    for (size_t i = HTTPD_REQUEST_LIMIT + 1; i < sizeof slot.request; ++i)
        ASSERT_EQ(slot.request[i], 'Z') << "byte " << i << " behind the request was written";
}

TEST(HttpdPort, LowSixteenBitsOfTheNumberAsWritten) {
    const struct {
        const char* desc;
        const char* value;
        unsigned short port;
    } cases[] = {
        {"absent", nullptr, 9001},
        {"empty", "", 9001},
        {"zero", "0", 9001},
        {"a word", "abc", 9001},
        {"in range", "81", 81},
        {"the largest", "65535", 65535},
        {"leading digits only", "8080x", 8080},
        {"above 16 bits", "65617", 81},
        {"beyond an int: 4294986851 = 2^32 + 19555", "4294986851", 19555},
        {"far beyond 64 bits: 2^100 + 19555", "1267650600228229401496703224931", 19555},
        {"negative wraps", "-1", 65535},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desc);
        EXPECT_EQ(httpd_port_of(c.value), c.port);
    }
}

}  // namespace
