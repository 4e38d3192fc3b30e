// The network-interface module's pages over scripted interfaces, and the
// interval page that gathers every module's links.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../web/page_text.h"
#include "config/config.h"
#include "core/history.h"
#include "modules/modules.h"
#include "restart.h"
#include "web/httpd.h"

namespace {

using namespace page_text;

// Makes the newest one-second sample hold these interfaces, in this order.
void newest_sample(const std::vector<const char*>& names) {
    stat_struct s{};
    for (const char* name : names) std::snprintf(s.netif[s.netif_count++].name, sizeof s.netif[0].name, "%s", name);
    history_put_data(0, &s);
}

std::string answer(const char* url, const char* param) {
    return capture([&](FILE* f) {
        if (modules_urlhandler(f, url, param) != 1) std::fputs("(not answered)", f);
    });
}

std::string row(const std::string& as_url, const std::string& as_html) {
    return "<a href=\"/MOD_NETIF/overview?" + as_url + "\">" + as_html + "</a><br>\r\n";
}

std::string links(int interval, const std::vector<const char*>& names) {
    std::string s;
    for (const char* name : names)
        s += "<img src=\"/MOD_NETIF/grafinterval_" + std::to_string(interval) + "?" + name + "\"><hr>\r\n";
    return s;
}

TEST(NetifPages, DefaultConfigurationHidesOnlyLoopback) {
    restart("");
    newest_sample({"em0", "lo0", "fxp1", "lo", "eth0.100"});
    std::string shown = row("em0", "em0") + row("fxp1", "fxp1") + row("eth0.100", "eth0.100");
    EXPECT_EQ(answer("/MOD_NETIF", "overview"), netif_list(shown));
    EXPECT_EQ(answer("/MOD_NETIF/anything", "overviewXYZ"), netif_list(shown));
}

TEST(NetifPages, ListAndLinksFollowTheNewestSampleOnly) {
    restart("");
    newest_sample({"em0", "fxp1"});
    newest_sample({"fxp1", "wlan0"});
    EXPECT_EQ(answer("/MOD_NETIF", "overview"), netif_list(row("fxp1", "fxp1") + row("wlan0", "wlan0")));
    newest_sample({});
    EXPECT_EQ(answer("/MOD_NETIF", "overview"), netif_list(""));
}

TEST(NetifPages, FallbackKeyAndOwnKeysDecideWhatIsShown) {
    restart("module.netif.interface.enable 0\n"
              "module.netif.interface.fxp1.enable 1\n"
              "module.netif.interface.em1.enable 2\n"
              "module.netif.interface.em2.enable abc\n"
              "module.netif.interface.lo.enable -1\n");
    newest_sample({"em0", "fxp1", "em1", "em2", "lo"});
    EXPECT_EQ(answer("/MOD_NETIF", "overview"),
              netif_list(row("fxp1", "fxp1") + row("em1", "em1") + row("lo", "lo")));
    EXPECT_EQ(capture([](FILE* f) { modules_linkintervalgraf(f, 1); }),
              "<img src=\"/MOD_LOAD?grafinterval_1\"><hr>\r\n" + links(1, {"fxp1", "em1", "lo"}) +
                  "<img src=\"/MOD_MEMSWAP/grafinterval_1\"><hr>\r\n");

    const std::string skipped = HTML + "Skip interface by configuration\r\n";
    EXPECT_EQ(answer("/MOD_NETIF/overview", "em0"), skipped);
    EXPECT_EQ(answer("/MOD_NETIF/overview", "em2"), skipped);
    EXPECT_EQ(answer("/MOD_NETIF/overview", "fxp1"), netif_page("fxp1", "fxp1"));
}

// Every module's paths, with URL and parameter as the parser splits them.
TEST(ModulePages, EachModuleAnswersItsOwnPathsOnly) {
    restart("module.cpu.enable 1\n");
    const std::string no = "(not answered)", unknown = HTML + "Unknown interface\r\n";
    const std::string skipped = HTML + "Skip interface by configuration\r\n", longest(31, 'n');
    const struct {
        const char *url, *param;
        std::string expected;
    } cases[] = {
        {"/MOD_LOAD", "overview", LOAD_OVERVIEW},
        {"/MOD_LOAD", "overviewXYZ", LOAD_OVERVIEW},
        {"/MOD_LOADER", "overview", LOAD_OVERVIEW},  // nine characters are compared
        {"/MOD_LOAD/whatever", "overview", LOAD_OVERVIEW},
        {"/MOD_LOAD", nullptr, no},
        {"/MOD_LOAD", "", no},
        {"/MOD_LOAD", "grafinterval_2", no},
        {"/MOD_LOAD", "Overview", no},
        {"/MOD_MEMSWAP/overview", nullptr, MEMSWAP_OVERVIEW},
        {"/MOD_MEMSWAP", "overview", MEMSWAP_OVERVIEW},
        {"/MOD_MEMSWAP/anything", "overview", MEMSWAP_OVERVIEW},
        {"/MOD_MEMSWAP/overviewX", nullptr, no},  // full paths are compared in full
        {"/MOD_MEMSWAP/grafinterval_1000", nullptr, no},
        {"/MOD_MEMSWAP", nullptr, no},
        {"/MOD_MEMSWA", "overview", no},
        {"/MOD_CPU/overview", nullptr, CPU_OVERVIEW},
        {"/MOD_CPU", "overview", CPU_OVERVIEW},
        {"/MOD_NETIFX", "overview", netif_list("")},
        {"/MOD_NETIF/overview", nullptr, unknown},
        {"/MOD_NETIF/overview", "", unknown},
        {"/MOD_NETIF/overview", "lo", skipped},  // loopback hidden by default
        {"/MOD_NETIF/overview", "lo0", skipped},
        {"/MOD_NETIF/overview", "em9", netif_page("em9", "em9")},  // no sample needs to have it
        {"/MOD_NETIF/overview", "eth0.100", netif_page("eth0.100", "eth0.100")},
        {"/MOD_NETIF/overview", longest.c_str(), netif_page(longest, longest)},  // 31 characters fit a record
        {"/MOD_NETIF/overview", "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnX", unknown},
        {"/MOD_NETIF/overview", "x&<>\"'/()", netif_page("x&amp;&lt;&gt;&quot;&#39;/()", "x%26%3C%3E%22%27/()")},
        {"/MOD_NETIF/overviewX", "em0", no},
        {"/MOD_NETIF", nullptr, no},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.url) + "?" + (c.param ? c.param : "(none)"));
        EXPECT_EQ(answer(c.url, c.param), c.expected);
    }
}

// Names reach the pages from the kernel as well as from requests.
TEST(NetifPages, NamesFromTheSampleAreEscapedToo) {
    restart("");
    newest_sample({"a<b", "c&d\"e'"});
    EXPECT_EQ(answer("/MOD_NETIF", "overview"),
              netif_list(row("a%3Cb", "a&lt;b") + row("c%26d%22e%27", "c&amp;d&quot;e&#39;")));
}

TEST(IntervalPage, GathersEveryModuleInListOrder) {
    restart("module.cpu.enable 1\n");
    newest_sample({"em0", "lo", "fxp1"});
    EXPECT_EQ(capture([](FILE* f) { print_interval(f, 10); }),
              interval_page(10, "<img src=\"/MOD_LOAD?grafinterval_10\"><hr>\r\n" + links(10, {"em0", "fxp1"}) +
                                    "<img src=\"/MOD_MEMSWAP/grafinterval_10\"><hr>\r\n"
                                    "<img src=\"/MOD_CPU/grafinterval_10\"><hr>\r\n"));
    EXPECT_EQ(capture(print_index_html),
              index_page(LOAD_PARAGRAPH + NETIF_PARAGRAPH + MEMSWAP_PARAGRAPH + CPU_PARAGRAPH));
}

TEST(IntervalPage, NetworkModuleAloneWithNothingShownLeavesTheFrame) {
    restart("module.load.enable 0\nmodule.memswap.enable 0\nmodule.netif.interface.enable 0\n");
    newest_sample({"em0"});
    EXPECT_EQ(capture([](FILE* f) { print_interval(f, 1); }), interval_page(1, ""));
    EXPECT_EQ(capture([](FILE* f) { print_index_html(f); }), index_page(NETIF_PARAGRAPH));
}

// Linux allows '#' and '%' in a name; the list encodes them, and the link, the
// page and its graph must all find the interface again.
TEST(NetifPages, EncodedNameLeadsToItsPageAndGraph) {
    restart();
    newest_sample({"we#1%x"});
    newest_sample({"we#1%x"});
    EXPECT_EQ(answer("/MOD_NETIF", "overview"), netif_list(row("we%231%25x", "we#1%x")));
    EXPECT_EQ(answer("/MOD_NETIF/overview", "we%231%25x"), netif_page("we#1%x", "we%231%25x"));
    EXPECT_EQ(answer("/MOD_NETIF/grafinterval_1", "we%231%25x").rfind("Content-type: image/png\r\n\r\n\x89PNG", 0), 0u);
}

}  // namespace
