// What the configuration fuzz target found.
#include <gtest/gtest.h>

#include <string>

#include "config/config.h"
#include "restart.h"

namespace {

std::string listing() { return capture(config_printdefaultconfig); }

// config_init dropped the list of dynamic properties without freeing it; the
// leak shows in the sanitizer build, the emptying everywhere.
TEST(ConfigFindings, InitEmptiesAndFreesTheDynamicProperties) {
    config_init();
    const std::string built_in = listing();
    const char lines[] = "module.netif.interface.em0.enable 1\nmodule.netif.interface.em1.enable 0\n";
    read_config(lines);
    ASSERT_STREQ(config_getproperty("module.netif.interface.em0.enable"), "1");

    config_init();
    EXPECT_EQ(config_getproperty("module.netif.interface.em0.enable"), nullptr);
    EXPECT_EQ(config_getproperty("module.netif.interface.em1.enable"), nullptr);
    EXPECT_EQ(listing(), built_in);

    // And the list grows again from empty.
    read_config(lines);
    EXPECT_STREQ(config_getproperty("module.netif.interface.em1.enable"), "0");
    EXPECT_EQ(listing().size(), built_in.size() + 2 * std::string("module.netif.interface.em0.enable\t1\t# dynamic property\r\n").size());
}

}  // namespace
