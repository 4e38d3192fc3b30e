// FreeBSD 11 and later: the interfaces are the AF_LINK entries of
// getifaddrs, whose list goes back on every path.
#include "stat_freebsd_test.h"

#include <vector>

namespace {

class FreeBSD14Interfaces : public FreeBSDBackend {};

TEST_F(FreeBSD14Interfaces, TheLinkEntriesWithDataAreTheInterfaces) {
    const std::string long_name(40, 'v');
    fake_ifnet no_data = interface("em0", 500);
    no_data.no_link_data = true;
    struct row {
        const char* desc;
        std::vector<fake_ifnet> interfaces;
        std::vector<std::string> names;
    } const rows[] = {
        {"an interface without data is skipped", {interface("lo0", 10), no_data, interface("em1", 10)}, {"lo0", "em1"}},
        {"a name cut to the 31 characters there is room for", {interface(long_name, 10)}, {long_name.substr(0, 31)}},
        {"no interfaces at all", {}, {}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        fake_freebsd.interfaces = r.interfaces;
        take_netif();
        for (fake_ifnet& f : fake_freebsd.interfaces) f.obytes += 70;
        std::string err;
        stat_struct s = take_netif(&err);
        EXPECT_EQ(err, "");
        ASSERT_EQ(s.netif_count, static_cast<int>(r.names.size()));
        for (size_t i = 0; i < r.names.size(); ++i) {
            EXPECT_EQ(s.netif[i].name, r.names[i]);
            EXPECT_EQ(s.netif[i].send_bytes, 70u);
        }
        EXPECT_EQ(fake_freebsd.ifaddrs_lists_held, 0);
    }
}

}  // namespace
