// The load module: the one-minute load average, its overview page and graphs.
#include <cstring>

#include "modules/modules.h"
#include "web/html.h"

namespace {

void init() {}

void interval(stat_struct* put_in_this) { stat_get_load(put_in_this); }

void avg(stat_struct* put_in_this, stat_struct** list_of_stats, int elements) {
    if (elements <= 0) return;
    double sum = 0.0;
    for (int i = 0; i < elements; ++i) sum += list_of_stats[i]->load;
    put_in_this->load = sum / static_cast<double>(elements);
}

void overview(FILE* out) {
    // This page alone ends its header with two line ends.
    std::fputs("Content-type: text/html\r\n\r\n\r\n", out);
    html_head(out, "System Load", "10", "/MOD_LOAD?overview");
    std::fputs("<body>\r\n"
               "<h1>System Load Statistics Overview</h1>\r\n"
               "<hr><img src=\"/MOD_LOAD?grafinterval_1\">\r\n"
               "<hr><img src=\"/MOD_LOAD?grafinterval_10\">\r\n"
               "<hr>\r\n<img src=\"/MOD_LOAD?grafinterval_100\">\r\n"
               "<hr>\r\n",
               out);
    html_footer(out);
}

int urlhandler(FILE* out, const char* url, const char* param) {
    if (!url || std::strncmp(url, "/MOD_LOAD", 9) != 0) return 0;
    if (!param) return 0;
    if (std::strncmp(param, "overview", 8) == 0) {
        overview(out);
        return 1;
    }
    return 0;
}

void mainindexhtml(FILE* out) {
    std::fputs("Das <a href=\"/MOD_LOAD?overview\">MOD_LOAD</a> \r\n"
               "Modul zeigt die CPU Last auf Basis der Load grafisch an\r\n"
               "<p>\r\n",
               out);
}

void linkintervalgraf(FILE* out, int interval) {
    std::fprintf(out, "<img src=\"/MOD_LOAD?grafinterval_%d\"><hr>\r\n", interval);
}

}  // namespace

void mod_load_register(modulestruct* mod) {
    mod->active = modules_enabled("module.load.enable");
    mod->init = init;
    mod->interval = interval;
    mod->avg = avg;
    mod->urlhandler = urlhandler;
    mod->mainindexhtml = mainindexhtml;
    mod->linkintervalgraf = linkintervalgraf;
    std::snprintf(mod->name, sizeof mod->name, "%s", "MOD_LOAD");
}
