// FreeBSD 4 only: the interface name is the driver name, read from kernel
// memory, joined with the unit number.
#include "stat_freebsd_test.h"

namespace {

class FreeBSD4Names : public FreeBSDBackend {};

fake_ifnet driver(const std::string& name, int unit) {
    fake_ifnet f;
    f.driver = name;
    f.unit = unit;
    return f;
}

TEST_F(FreeBSD4Names, DriverNameAndUnitMakeTheName) {
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyz0123456789ABCD";  // 40 bytes, none a terminator
    struct row {
        const char* desc;
        std::string driver;
        int unit;
        std::string name;
    } const rows[] = {
        {"loopback", "lo", 0, "lo0"},
        {"unit above 9", "vlan", 123, "vlan123"},
        {"driver name of exactly 30 bytes", alphabet.substr(0, 30), 5, alphabet.substr(0, 30) + "5"},
        {"driver name unterminated within 30 bytes", alphabet, 7, alphabet.substr(0, 30) + "7"},
        {"name cut to the 31 characters there is room for", alphabet, 12, alphabet.substr(0, 30) + "1"},
    };
    for (const row& r : rows) fake_freebsd.interfaces.push_back(driver(r.driver, r.unit));

    std::string err;
    stat_struct s = take_netif(&err);
    EXPECT_EQ(err, "");
    ASSERT_EQ(s.netif_count, 5);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(rows[i].desc);
        EXPECT_EQ(std::string(s.netif[i].name), rows[i].name);
    }
}

TEST_F(FreeBSD4Names, UnreadableDriverNameIsReportedAndLeavesNoRawCounters) {
    fake_freebsd.interfaces = {driver("lo", 0), driver("ed", 1), driver("ed", 2)};
    fake_freebsd.interfaces[0].ibytes = 12345;
    fake_freebsd.unreadable_driver_name = 1;
    std::string err;
    expect_no_interfaces(take_netif(&err));
    EXPECT_EQ(err, "kvm_read-if_name: Bad address\n");
}

}  // namespace
