#include <gtest/gtest.h>

#include <fstream>
#include <string>

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

// The built-in values as -pdc lists them: the lines of the example
// configuration that are not comments.
const std::string DEFAULTS = [] {
    std::string path = __FILE__, line, listing;
    std::ifstream example(path.erase(path.rfind('/') + 1) + "../../packaging/Kelp.conf.example");
    while (std::getline(example, line))
        if (!line.empty() && line[0] != '#') listing += line + "\r\n";
    return listing;
}();

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

// The file's values in the listing: the eleven's in their place, a key they
// do not include once it is set (httpd.allow) after them, and interface keys
// last, as dynamic properties in file order, a repeated one twice.
TEST(CommandLine, PdcOutputReadsBackToTheSameConfiguration) {
    blackbox::scratch_dir d;
    std::string conf = d.write("k.conf", "httpd.port 81\nmodule.netif.interface.em0.enable 1\n"
                                         "module.netif.interface.lo0.enable 1\nmodule.netif.interface.em0.enable 0\n"
                                         "httpd.allow  127.0.0.1/32 , fd00::/8  # trusted\n");
    std::string listing = DEFAULTS;
    listing.replace(listing.find("httpd.port\t9001"), 15, "httpd.port\t81");
    listing.replace(listing.find("lo0.enable\t0"), 12, "lo0.enable\t1");
    listing += "httpd.allow\t127.0.0.1/32 , fd00::/8\t# Serve only clients of these networks <address/length ...>\r\n"
               "module.netif.interface.em0.enable\t1\t# dynamic property\r\n"
               "module.netif.interface.em0.enable\t0\t# dynamic property\r\n";
    auto first = run({"-f", conf, "-pdc"});
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.out, listing);
    std::string again = d.write("again.conf", first.out);
    auto second = run({"-f", again, "-pdc"});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.out, listing);
    EXPECT_EQ(second.err, "Try to read configfile " + again + "\r\n");
}

TEST(CommandLine, EmptyFilenameReadsTheDefaultPath) {
    auto r = run({"-f", "", "-pdc"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind("Try to read configfile /etc/orn/Kelp.conf\r\n", 0), 0u) << r.err;
}

}  // namespace
