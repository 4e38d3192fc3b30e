// What the configuration fuzz target found.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "config/config.h"

namespace {

std::string listing() {
    char* text = nullptr;
    size_t len = 0;
    FILE* out = open_memstream(&text, &len);
    config_printdefaultconfig(out);
    std::fclose(out);
    std::string s(text, len);
    std::free(text);
    return s;
}

// config_init dropped the list of dynamic properties without freeing it; the
// leak shows in the sanitizer build, the emptying everywhere.
TEST(ConfigFindings, InitEmptiesAndFreesTheDynamicProperties) {
    char path[] = "/tmp/kelp-config-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const char lines[] = "module.netif.interface.em0.enable 1\nmodule.netif.interface.em1.enable 0\n";
    ASSERT_EQ(write(fd, lines, sizeof lines - 1), static_cast<ssize_t>(sizeof lines - 1));
    close(fd);

    config_init();
    const std::string built_in = listing();
    testing::internal::CaptureStderr();
    config_read(path);
    testing::internal::GetCapturedStderr();
    ASSERT_STREQ(config_getproperty("module.netif.interface.em0.enable"), "1");

    config_init();
    EXPECT_EQ(config_getproperty("module.netif.interface.em0.enable"), nullptr);
    EXPECT_EQ(config_getproperty("module.netif.interface.em1.enable"), nullptr);
    EXPECT_EQ(listing(), built_in);

    // And the list grows again from empty.
    testing::internal::CaptureStderr();
    config_read(path);
    testing::internal::GetCapturedStderr();
    EXPECT_STREQ(config_getproperty("module.netif.interface.em1.enable"), "0");
    EXPECT_EQ(listing().size(), built_in.size() + 2 * std::string("module.netif.interface.em0.enable\t1\t# dynamic property\r\n").size());
    std::remove(path);
}

}  // namespace
