// Inputs the /proc fuzz target found that the parsers once took wrongly.
#include <gtest/gtest.h>

#include <string>

#include "stat/stat_linux.h"

namespace {

const char HEADER[] =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls "
    "carrier compressed\n";

// A NUL inside an interface name was copied into the record, leaving a name
// cut short, or an empty one, which marks an unused slot, counted as used.
TEST(NetdevFindings, NameHoldingNulIsMalformed) {
    const std::string counters = ": 29000 1 0 0 0 0 0 0 2233 2 0 0 0 0 0 0\n";
    const struct {
        const char* desc;
        std::string name;
    } cases[] = {
        {"NUL first", std::string("\0eth1", 5)},
        {"NUL after a tab", std::string("\t\0eth1", 6)},
        {"NUL inside", std::string("eth\0" "1", 5)},
        {"NUL last", std::string("eth1\0", 5)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desc);
        const std::string text = HEADER + std::string("  eth0: 1 0 0 0 0 0 0 0 2 0 0 0 0 0 0 0\n") + c.name + counters;
        stat_struct s;
        stat_cleanup(&s);
        EXPECT_EQ(stat_linux_parse_netdev(text.data(), text.size(), &s), -1);
    }
    // The same line with a plain name is fine, so the NUL alone decides.
    const std::string good = HEADER + std::string("eth1") + counters;
    stat_struct s;
    stat_cleanup(&s);
    ASSERT_EQ(stat_linux_parse_netdev(good.data(), good.size(), &s), 1);
    EXPECT_STREQ(s.netif[0].name, "eth1");
    EXPECT_EQ(s.netif[0].received_bytes, 29000u);
}

}  // namespace
