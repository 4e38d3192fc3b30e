#include <gtest/gtest.h>

#include "blackbox.h"

namespace {

using blackbox::run;

const char* const USAGE =
    " Usage of Kelp Version 0.0.9\r\n"
    "--------------------------------------\r\n"
    " -h              This Help Screen\r\n"
    " -f <name>       Configurationfilename\r\n"
    " -pdc            Print Default Config\r\n"
    "--------------------------------------\r\n";

const char* const DEFAULTS =
    "Kelp.version\t0.0.9\t# Default Configuration for Kelp Version 0.0.9\r\n"
    "httpd.host\tANY\t# Listen on host <IP|Hostname|ANY>\r\n"
    "httpd.port\t9001\t# Listen on port [0-9]+\r\n"
    "module.load.enable\t1\t# Systemload enable/disable {0|1}\r\n"
    "module.netif.enable\t1\t# Networktraffic enable/disable {0|1}\r\n"
    "module.netif.interface.enable\t1\t# Fallback value if module.netif.interface.<interface>.enable not "
    "specified {0|1}\r\n"
    "module.netif.interface.lo0.enable\t0\t# Do not monitor loopback {0|1}\r\n"
    "module.netif.interface.lo.enable\t0\t# Do not monitor loopback {0|1}\r\n"
    "module.memswap.enable\t1\t# Memory/Swap enable/disable {0|1}\r\n"
    "module.memswap.swap.rescalemax\t0\t# Scale always to max swap {0|1}\r\n"
    "module.memswap.mem.rescalemax\t0\t# Scale always to max mem {0|1}\r\n";

// The arguments are taken in their order: -h and -pdc end the run where they
// stand, -f takes the next argument as its file name, whatever it looks like.
TEST(CommandLine, EachCommandLineGivesItsWholeOutputAndStatusZero) {
    blackbox::scratch_dir d;
    const std::string conf = d.write("k.conf", "httpd.port 81\n");
    const struct {
        const char* desc;
        std::vector<std::string> args;
        std::string out, err;
    } cases[] = {
        {"help stops", {"-h", "-pdc"}, "", USAGE},
        {"the eleven defaults", {"-pdc"}, DEFAULTS, ""},
        {"-pdc before -f ignores the file", {"-pdc", "-f", conf}, DEFAULTS, ""},
        {"-f without a name", {"-f"}, "", "Missing Filename for -f\r\n"},
        {"unknown arguments by position", {"-H", "--help", "-pdcx", "-h"}, "",
         std::string("Argument 1 (-H) ignored\r\nArgument 2 (--help) ignored\r\nArgument 3 (-pdcx) ignored\r\n") +
             USAGE},
        {"-f takes -h as the name", {"-f", "-h", "-pdc"}, DEFAULTS,
         "Try to read configfile -h\r\nOpen failed. Using Build-In Defaults\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desc);
        auto r = run(c.args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

// A key the eleven do not include is listed once it is set (and only then:
// the defaults above), after them.
TEST(CommandLine, PdcOutputReadsBackToTheSameConfiguration) {
    blackbox::scratch_dir d;
    std::string conf = d.write("k.conf", "httpd.port 81\nmodule.netif.interface.em0.enable 1\n"
                                         "httpd.allow  127.0.0.1/32 , fd00::/8  # trusted\n");
    auto first = run({"-f", conf, "-pdc"});
    ASSERT_EQ(first.status, 0);
    EXPECT_NE(first.out.find("httpd.port\t81\t# Listen on port [0-9]+\r\n"), std::string::npos);
    EXPECT_NE(first.out.find("module.memswap.mem.rescalemax\t0\t# Scale always to max mem {0|1}\r\n"
                             "httpd.allow\t127.0.0.1/32 , fd00::/8\t# Serve only clients of these networks "
                             "<address/length ...>\r\n"
                             "module.netif.interface.em0.enable\t1\t# dynamic property\r\n"),
              std::string::npos)
        << first.out;
    std::string again = d.write("again.conf", first.out);
    auto second = run({"-f", again, "-pdc"});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.out, first.out);
    EXPECT_EQ(second.err, "Try to read configfile " + again + "\r\n");
}

TEST(CommandLine, EmptyFilenameReadsTheDefaultPath) {
    auto r = run({"-f", "", "-pdc"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind("Try to read configfile /etc/orn/Kelp.conf\r\n", 0), 0u) << r.err;
}

}  // namespace
