// httpd.allow's networks against clients of both families, and the pace of
// the report of refused clients on a clock the test sets.
#include <gtest/gtest.h>

#include <string>

#include "blackbox.h"
#include "restart.h"
#include "web/access.h"

namespace {

sockaddr_storage peer(const char* address) {
    sockaddr_storage a;
    socklen_t len;
    EXPECT_TRUE(blackbox::endpoint(address, 4711, a, len)) << address;
    return a;
}

struct Access : ::testing::Test {
    void SetUp() override { access_reset(); }
};

TEST_F(Access, ListedNetworksOfEitherFamilyAreLetIn) {
    const char *bad, *why = nullptr, *list = "10.0.0.0/8, 192.168.1.7\t172.16.0.0/12,,fd00::/8 2001:db8::/127";
    size_t bad_len;
    ASSERT_TRUE(access_set_list(list, &bad, &bad_len, &why)) << why;
    struct { const char* peer; bool allowed; } cases[] = {
        {"10.255.0.1", true}, {"11.0.0.1", false}, {"9.255.255.255", false},
        {"192.168.1.7", true}, {"192.168.1.8", false},         // a bare address is one host
        {"172.31.255.255", true}, {"172.32.0.0", false},       // a prefix that ends inside a byte
        {"::ffff:10.1.2.3", true}, {"::ffff:11.1.2.3", false}, // IPv4-mapped: matched as IPv4
        {"::a00:1", false},                                    // ::10.0.0.1 is IPv6
        {"fdff::1", true}, {"fe00::1", false}, {"2001:db8::1", true}, {"2001:db8::2", false}, {"::1", false},
    };
    for (const auto& c : cases) EXPECT_EQ(access_allows(peer(c.peer)), c.allowed) << c.peer;
    ASSERT_TRUE(access_set_list(nullptr, &bad, &bad_len, &why));
    EXPECT_TRUE(access_allows(peer("11.0.0.1"))) << "without a list every client is served";
}

std::string report(int n, const char* last) {
    return "Refused connections from outside httpd.allow: " + std::to_string(n) + ", the last from " + last + "\r\n";
}

TEST_F(Access, RefusalsAreReportedAtMostOncePerTenSeconds) {
    // peer null: the listener's wait ran out; wait_ms: until held-back refusals are due
    struct { long at_ms; const char* peer; std::string line; int wait_ms; } steps[] = {
        {100000, "192.0.2.1", report(1, "192.0.2.1"), -1},
        {101000, "::ffff:192.0.2.2", "", 9000},
        {105500, "2001:db8::1", "", 4500},
        {109999, nullptr, "", 1},
        {110000, nullptr, report(2, "2001:db8::1"), -1},
        {115000, "192.0.2.3", "", 5000},
        {125000, "192.0.2.4", report(2, "192.0.2.4"), -1},
        {135000, "::ffff:192.0.2.5", report(1, "192.0.2.5"), -1},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.at_ms);
        const timespec now{s.at_ms / 1000, s.at_ms % 1000 * 1000000};
        auto step = [&](FILE* out) { s.peer ? access_refused(peer(s.peer), now, out) : access_report_pending(now, out); };
        EXPECT_EQ(capture(step), s.line);
        EXPECT_EQ(access_report_wait_ms(now), s.wait_ms);
    }
}

}  // namespace
