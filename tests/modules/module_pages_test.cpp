// The network-interface module's pages over scripted interfaces, and the
// interval page that gathers every module's links.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../web/page_text.h"
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

// An interface as the pages name it: in addresses, and in text where that
// differs.
struct shown {
    const char* url;
    const char* html = nullptr;
};

// Each row's newest sample decides the list and the interval page's links;
// a shown interface's page and graph are found through its encoded name, a
// hidden one's page says so.
TEST(NetifPages, ListLinksAndPagesShowTheNewestSamplesInterfacesThatTheKeysShow) {
    const struct {
        const char* desc;
        const char* config;
        std::vector<std::vector<const char*>> samples;  // the oldest first
        std::vector<shown> list;
        std::vector<const char*> hidden;
    } rows[] = {
        {"the default configuration hides only loopback", "", {{"em0", "lo0", "fxp1", "lo", "eth0.100"}},
         {{"em0"}, {"fxp1"}, {"eth0.100"}}, {"lo0", "lo"}},
        {"the newest sample alone counts", "", {{"em0", "fxp1"}, {"fxp1", "wlan0"}}, {{"fxp1"}, {"wlan0"}}, {}},
        {"an empty newest sample shows none", "", {{"em0"}, {}}, {}, {}},
        {"own keys win over the fallback; \"2\" and \"-1\" show, \"abc\" hides",
         "module.netif.interface.enable 0\nmodule.netif.interface.fxp1.enable 1\nmodule.netif.interface.em1.enable 2\n"
         "module.netif.interface.em2.enable abc\nmodule.netif.interface.lo.enable -1\n",
         {{"em0", "fxp1", "em1", "em2", "lo"}}, {{"fxp1"}, {"em1"}, {"lo"}}, {"em0", "em2"}},
        {"names from the kernel are escaped too", "", {{"a<b", "c&d\"e'"}},
         {{"a%3Cb", "a&lt;b"}, {"c%26d%22e%27", "c&amp;d&quot;e&#39;"}}, {}},
        // Linux allows '#' and '%' in a name.
        {"an encoded name leads to its page and graph", "", {{"we#1%x"}}, {{"we%231%25x", "we#1%x"}}, {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.desc);
        restart(r.config);
        for (const auto& names : r.samples) newest_sample(names);
        std::string list, links;
        for (const shown& n : r.list) {
            const std::string url = n.url, html = n.html ? n.html : n.url;
            list += "<a href=\"/MOD_NETIF/overview?" + url + "\">" + html + "</a><br>\r\n";
            links += "<img src=\"/MOD_NETIF/grafinterval_1?" + url + "\"><hr>\r\n";
            EXPECT_EQ(answer("/MOD_NETIF/overview", n.url), netif_page(html, url));
            EXPECT_EQ(answer("/MOD_NETIF/grafinterval_1", n.url).rfind("Content-type: image/png\r\n\r\n\x89PNG", 0), 0u)
                << "a graph";
        }
        EXPECT_EQ(answer("/MOD_NETIF", "overview"), netif_list(list));
        EXPECT_EQ(capture([](FILE* f) { modules_linkintervalgraf(f, 1); }),
                  "<img src=\"/MOD_LOAD?grafinterval_1\"><hr>\r\n" + links +
                      "<img src=\"/MOD_MEMSWAP/grafinterval_1\"><hr>\r\n");
        for (const char* name : r.hidden)
            EXPECT_EQ(answer("/MOD_NETIF/overview", name), HTML + "Skip interface by configuration\r\n") << name;
    }
}

// Every module's paths, with URL and parameter as the parser splits them.
TEST(ModulePages, EachModuleAnswersItsOwnPathsOnly) {
    restart("module.cpu.enable 1\n");
    const std::string no = "(not answered)", unknown = HTML + "Unknown interface\r\n", longest(31, 'n');
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
        {"/MOD_NETIF/anything", "overviewXYZ", netif_list("")},
        {"/MOD_NETIF/overview", nullptr, unknown},
        {"/MOD_NETIF/overview", "", unknown},
        {"/MOD_NETIF/overview", "em9", netif_page("em9", "em9")},  // no sample needs to have it
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

// With nothing to show, the frame alone: the black-box pages test, every
// module off there.
TEST(IntervalPage, GathersEveryModuleInListOrder) {
    restart("module.cpu.enable 1\n");
    newest_sample({"em0", "lo", "fxp1"});
    EXPECT_EQ(capture([](FILE* f) { print_interval(f, 10); }),
              interval_page(10, "<img src=\"/MOD_LOAD?grafinterval_10\"><hr>\r\n"
                                    "<img src=\"/MOD_NETIF/grafinterval_10?em0\"><hr>\r\n"
                                    "<img src=\"/MOD_NETIF/grafinterval_10?fxp1\"><hr>\r\n"
                                    "<img src=\"/MOD_MEMSWAP/grafinterval_10\"><hr>\r\n"
                                    "<img src=\"/MOD_CPU/grafinterval_10\"><hr>\r\n"));
    EXPECT_EQ(capture(print_index_html),
              index_page(LOAD_PARAGRAPH + NETIF_PARAGRAPH + MEMSWAP_PARAGRAPH + CPU_PARAGRAPH));
}

}  // namespace
