#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <string>
#include <utility>

#include "config/config.h"
#include "restart.h"
#include "scratch.h"
#include "xorshift.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

class Config : public ::testing::Test {
protected:
    scratch_dir scratch;
    const std::string dir = scratch.path;
    void SetUp() override { config_init(); }
    std::string file(const std::string& content) { return scratch.write("k.conf", content); }
    // Reads content as a file and returns what was written to standard error
    // beyond the announcement line.
    std::string read(const std::string& content) {
        std::string path = file(content);
        CaptureStderr();
        config_read(path.c_str());
        std::string err = GetCapturedStderr();
        std::string announce = "Try to read configfile " + path + "\r\n";
        EXPECT_EQ(err.rfind(announce, 0), 0u) << err;
        return err.substr(announce.size() <= err.size() ? announce.size() : err.size());
    }
    std::string port() const { return config_getproperty("httpd.port"); }
};

// The built-in values are the -pdc listing's to show (kelp_cli_test).
TEST_F(Config, NoValueForKeysNotSetAndNotBuiltIn) {
    EXPECT_STREQ(config_getproperty("httpd.port"), "9001");
    for (const char* key : {static_cast<const char*>(nullptr), "", "httpd.Port", "module.netif.interface.em0.enable",
                            "httpd.allow"})
        EXPECT_EQ(config_getproperty(key), nullptr) << (key ? key : "(null)");
}

// A value ends at its first blank; a list (httpd.allow) runs to the end of
// the line or to "#", less the blanks before them. Blank and comment lines
// change nothing.
TEST_F(Config, ValueFormsAreReadSilently) {
    struct { const char* desc; const char* text; const char* key; const char* value; } cases[] = {
        {"space", "httpd.port 81\n", "httpd.port", "81"},
        {"tab", "httpd.port\t81\n", "httpd.port", "81"},
        {"indented, blanks, trailing comment", "   httpd.port    81   # the port\n", "httpd.port", "81"},
        {"second word ignored", "httpd.port 81 82\n", "httpd.port", "81"},
        {"comment glued to the value", "httpd.port 81#x\n", "httpd.port", "81"},
        {"CR LF line end", "httpd.port 81\r\n", "httpd.port", "81"},
        {"no final line feed", "# c\n\nhttpd.port 81", "httpd.port", "81"},
        {"last assignment wins", "httpd.port 80\nhttpd.port 81\n", "httpd.port", "81"},
        {"list of words", "httpd.allow 127.0.0.1/32 10.0.0.0/8 fd00::/8\n", "httpd.allow",
         "127.0.0.1/32 10.0.0.0/8 fd00::/8"},
        {"list, blanks and comment", "httpd.allow\t10.0.0.0/8,\tfd00::/8 \t# office\r\n", "httpd.allow",
         "10.0.0.0/8,\tfd00::/8"},
        {"empty file", "", "httpd.port", "1"},
        {"blank and comment lines", "\n   \n\t\n# httpd.port 81\n  # x\r\n\r\n", "httpd.port", "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desc);
        config_read(file(std::string(c.key) + " 1\n").c_str());  // a different value first
        EXPECT_EQ(read(c.text), "");
        EXPECT_STREQ(config_getproperty(c.key), c.value);
    }
}

// Lines that cannot be used are named by their number and skipped.
TEST_F(Config, LinesThatCannotBeUsedAreNamed) {
    const std::string at = " in File " + dir + "/k.conf has ", no_value = "Line 3" + at + "a property without a value\r\n";
    struct { const char* desc; const char* text; std::string err; const char* port; } cases[] = {
        {"key alone", "# one\n\nhttpd.port\n", no_value, "9001"},
        {"key and blank", "# one\n\nhttpd.port \n", no_value, "9001"},
        {"key, blank and comment", "# one\n\nhttpd.port  # no value\n", no_value, "9001"},
        {"key directly followed by #", "# one\n\nhttpd.port#81\n", no_value, "9001"},
        {"key at end of file", "# one\n\nhttpd.port", no_value, "9001"},
        {"key and CR", "# one\r\n\r\nhttpd.port\r\n", no_value, "9001"},
        {"unknown keys, case-sensitively", "httpd.port 81\nHttpd.Port 82\nfoo.bar 1\n",
         "Line 2" + at + "an unkown property Httpd.Port.\r\nLine 3" + at + "an unkown property foo.bar.\r\n", "81"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desc);
        EXPECT_EQ(read(c.text), c.err);
        EXPECT_EQ(port(), c.port);
    }
}

// How -pdc lists them is kelp_cli_test's to check. Found by fuzzing:
// config_init dropped the list of dynamic properties without freeing it (the
// sanitizer build shows the leak).
TEST_F(Config, InterfaceKeysBecomeDynamicPropertiesInFileOrderUntilTheNextInit) {
    const std::string built_in = capture(config_printdefaultconfig);
    EXPECT_EQ(read("module.netif.interface.em0.enable 0\n"
                   "module.netif.interface.lo0.enable 1\n"
                   "module.netif.interface.em0.enable 1\n"
                   "module.netif.interface.em1.enabel 1\n"),
              "");
    EXPECT_STREQ(config_getproperty("module.netif.interface.em0.enable"), "0") << "the first stored wins";
    EXPECT_STREQ(config_getproperty("module.netif.interface.lo0.enable"), "1");
    EXPECT_STREQ(config_getproperty("module.netif.interface.em1.enabel"), "1");

    config_init();
    EXPECT_EQ(config_getproperty("module.netif.interface.em0.enable"), nullptr);
    EXPECT_EQ(capture(config_printdefaultconfig), built_in);
    read("module.netif.interface.em1.enable 0\n");
    EXPECT_EQ(capture(config_printdefaultconfig), built_in + "module.netif.interface.em1.enable\t0\t# dynamic property\r\n");
}

// A file that is not read leaves the values as they were: one that cannot
// be opened, a directory, and a name too long for its buffer, which is
// refused rather than cut to the name of another file.
TEST_F(Config, FilesThatAreNotReadKeepEarlierValues) {
    config_read(file("httpd.port 81\n").c_str());
    const std::string longname = dir + "/" + std::string(200, 'a'), failed = "\r\nOpen failed. Using Build-In Defaults\r\n";
    std::ofstream(longname.substr(0, 199)) << "httpd.port 82\n";
    const std::pair<std::string, std::string> cases[] = {
        {dir + "/missing.conf", "Try to read configfile " + dir + "/missing.conf" + failed},
        {dir, "Try to read configfile " + dir + failed},
        {longname, "Configfile name longer than 199 characters. Ignored\r\n"},
    };
    for (const auto& [name, err] : cases) {
        SCOPED_TRACE(name);
        CaptureStderr();
        config_read(name.c_str());
        EXPECT_EQ(GetCapturedStderr(), err);
        EXPECT_EQ(port(), "81");
    }
}

// Lines too long for a read, and binary garbage with NULs among it, leave
// the lines after them to be read as usual and the other values sound.
TEST_F(Config, LongLinesAreSplitAt1989Characters) {
    // The tail after 1989 characters is read as a line of its own.
    std::string line(1989, 'x');
    std::string err = read(line + "httpd.port 81\n" + "httpd.port\n");
    EXPECT_NE(err.find("Line 1 in File"), std::string::npos);
    EXPECT_EQ(err.find("Line 2 in File"), std::string::npos) << "the tail is a good line of its own";
    EXPECT_NE(err.find("Line 3 in File"), std::string::npos) << err;
    EXPECT_EQ(port(), "81");

    std::string garbage;
    xorshift rng;
    for (int i = 0; i < 20000; ++i) garbage.push_back(static_cast<char>(rng.next() >> 56));
    for (const std::string& junk : {std::string(5000, 'k') + " 1", garbage}) {
        config_read(file("httpd.port 1\n").c_str());
        read(junk + "\nhttpd.port 83\n");
        EXPECT_EQ(port(), "83");
        EXPECT_STREQ(config_getproperty("module.load.enable"), "1");
    }
}

TEST(ConfigAtoi, LeadingDigitsElseZeroWithoutOverflow) {
    struct { const char* text; int value; } cases[] = {
        {"0", 0}, {"81", 81}, {"", 0}, {"abc", 0}, {"12abc", 12}, {"-1", -1}, {"+5", 5},
        {" 42", 42}, {"2", 2}, {"65537", 65537}, {"- 1", 0},
        {"2147483647", INT_MAX}, {"99999999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN}, {"-99999999999999999999", INT_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(config_atoi(c.text), c.value);
    }
    EXPECT_EQ(config_atoi(nullptr), 0);
}

}  // namespace
