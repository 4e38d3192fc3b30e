// The load module: the one-minute load average, its overview page and graphs.
#include <cstring>

#include "core/history.h"
#include "graph/grafutil.h"
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

// Starts at the newest slot, which is also the bar at x 0 and "cur". Slots
// are read one figure at a time: the sampling thread may be storing meanwhile.
void grafinterval(FILE* out, int ring) {
    const history_ring_struct* travler = history_get_travler(ring);
    std::fputs("Content-type: image/png\r\n\r\n", out);
    void* image = grafutil_createimage();

    double load[GRAPH_SLOTS];
    double max = 0.0, sum = 0.0;
    const history_ring_struct* slot = travler;
    for (int x = 0; x < GRAPH_SLOTS; ++x, slot = slot->prev) {
        load[x] = slot->field(&stat_struct::load);
        if (load[x] > max) max = load[x];
        sum += load[x];
    }
    const double avg = sum / GRAPH_SLOTS;
    const double multi = max / 100.0;

    for (int x = 0; x < GRAPH_SLOTS; ++x) grafutil_drawbar(image, x, grafutil_height(load[x], multi), 0, 255, 0);
    grafutil_drawhline(image, grafutil_height(avg, multi), 255, 128, 0);
    grafutil_gitter(image);

    grafutil_span_title(image, "System Load", ring);
    char text[3000];
    std::snprintf(text, sizeof text, "%5.2f", max);
    grafutil_textlefttop(image, "max", text, 0, 255, 0);
    std::snprintf(text, sizeof text, "%5.2f", avg);
    grafutil_textleftcenter(image, "avg", text, 255, 128, 0);
    grafutil_textleftbottom(image, "0.00", "min", 0, 255, 0);
    std::snprintf(text, sizeof text, "%5.2f", load[0]);
    grafutil_textrightcenter(image, "cur", text, 0, 128, 0);
    grafutil_dateonrightbottom(image);
    grafutil_finish(image, out);
}

int urlhandler(FILE* out, const char* url, const char* param) {
    if (!modules_has_prefix(url, "/MOD_LOAD")) return 0;
    if (!param) return 0;
    if (modules_has_prefix(param, "overview")) {
        overview(out);
        return 1;
    }
    // Longest first: each shorter name is a prefix of the longer ones.
    int ring = modules_has_prefix(param, "grafinterval_100") ? 2
               : modules_has_prefix(param, "grafinterval_10") ? 1
               : modules_has_prefix(param, "grafinterval_1") ? 0
                                                              : -1;
    if (ring < 0) return 0;
    grafinterval(out, ring);
    return 1;
}

void mainindexhtml(FILE* out) {
    modules_paragraph(out, "MOD_LOAD", "Modul zeigt die CPU Last auf Basis der Load grafisch an");
}

void linkintervalgraf(FILE* out, int interval) {
    std::fprintf(out, "<img src=\"/MOD_LOAD?grafinterval_%d\"><hr>\r\n", interval);
}

}  // namespace

void mod_load_register(modulestruct* mod) {
    modules_describe(mod, "MOD_LOAD", "module.load.enable",
                     {.init = init, .interval = interval, .avg = avg, .urlhandler = urlhandler,
                      .mainindexhtml = mainindexhtml, .linkintervalgraf = linkintervalgraf});
}
