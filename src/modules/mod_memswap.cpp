// The memory and swap module: size and use of physical memory and swap.
#include <cstring>

#include "modules/modules.h"
#include "web/html.h"

namespace {

void init() {}

void interval(stat_struct* put_in_this) { stat_get_swap(put_in_this); }

// The sum is divided as a double and truncated back to a count.
uint64_t mean(uint64_t sum, int elements) {
    return static_cast<uint64_t>(static_cast<double>(sum) / static_cast<double>(elements));
}

void avg(stat_struct* put_in_this, stat_struct** list_of_stats, int elements) {
    if (elements <= 0) return;
    stat_swap swap{0, 0}, mem{0, 0};
    for (int i = 0; i < elements; ++i) {
        swap.total += list_of_stats[i]->swap.total;
        swap.used += list_of_stats[i]->swap.used;
        mem.total += list_of_stats[i]->mem.total;
        mem.used += list_of_stats[i]->mem.used;
    }
    put_in_this->swap = {mean(swap.total, elements), mean(swap.used, elements)};
    put_in_this->mem = {mean(mem.total, elements), mean(mem.used, elements)};
}

void overview(FILE* out) {
    std::fputs("Content-type: text/html\r\n\r\n", out);
    html_head(out, "Memory and Swap Load", "10", "/MOD_MEMSWAP?overview");
    std::fputs("<body>\r\n"
               "<h1>Memory and Swap Statistics Overview</h1>\r\n"
               "<p>\r\n"
               "<img src=\"/MOD_MEMSWAP/grafinterval_1\"><hr>\r\n"
               "<img src=\"/MOD_MEMSWAP/grafinterval_10\"><hr>\r\n"
               "<img src=\"/MOD_MEMSWAP/grafinterval_100\"><hr>\r\n",
               out);
    html_footer(out);
}

int urlhandler(FILE* out, const char* url, const char* param) {
    if (!url || std::strncmp(url, "/MOD_MEMSWAP", 12) != 0) return 0;
    if (std::strcmp(url, "/MOD_MEMSWAP/overview") == 0) {
        overview(out);
        return 1;
    }
    if (param && std::strncmp(param, "overview", 8) == 0) {
        overview(out);
        return 1;
    }
    return 0;
}

void mainindexhtml(FILE* out) {
    std::fputs("Das <a href=\"/MOD_MEMSWAP?overview\">MOD_MEMSWAP</a> \r\n"
               "Modul zeigt die Speicherauslastung des Rechners "
               "an. Swap und Phy. Memory\r\n"
               "<p>\r\n",
               out);
}

void linkintervalgraf(FILE* out, int interval) {
    std::fprintf(out, "<img src=\"/MOD_MEMSWAP/grafinterval_%d\"><hr>\r\n", interval);
}

}  // namespace

void mod_memswap_register(modulestruct* mod) {
    mod->active = modules_enabled("module.memswap.enable");
    mod->init = init;
    mod->interval = interval;
    mod->avg = avg;
    mod->urlhandler = urlhandler;
    mod->mainindexhtml = mainindexhtml;
    mod->linkintervalgraf = linkintervalgraf;
    std::snprintf(mod->name, sizeof mod->name, "%s", "MOD_MEMSWAP");
}
