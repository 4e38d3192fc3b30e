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
    // This page alone ends its header with two line ends, and its rules
    // before the graphs differ.
    static constexpr const char* RULE_BEFORE[HISTORY_RINGS] = {"<hr>", "<hr>", "<hr>\r\n"};
    html_content_type(out, HTML_PAGE);
    std::fputs("\r\n", out);
    html_head(out, "System Load", "10", "/MOD_LOAD?overview");
    std::fputs("<body>\r\n"
               "<h1>System Load Statistics Overview</h1>\r\n",
               out);
    for (int ring = 0; ring < HISTORY_RINGS; ++ring) {
        char graph[MODULES_GRAPH_NAME_SIZE];
        modules_graph_name(graph, history_interval(ring));
        std::fprintf(out, "%s<img src=\"/MOD_LOAD?%s\">\r\n", RULE_BEFORE[ring], graph);
    }
    std::fputs("<hr>\r\n", out);
    html_footer(out);
}

// Starts at the newest slot, which is also the bar at x 0 and "cur". Slots
// are read one figure at a time: the sampling thread may be storing meanwhile.
void grafinterval(FILE* out, int ring) {
    const history_ring_struct* travler = history_get_travler(ring);
    html_content_type(out, PNG_GRAPH);
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

    char max_text[3000], avg_text[3000], cur_text[3000];
    std::snprintf(max_text, sizeof max_text, "%5.2f", max);
    std::snprintf(avg_text, sizeof avg_text, "%5.2f", avg);
    std::snprintf(cur_text, sizeof cur_text, "%5.2f", load[0]);
    const grafutil_label labels[6] = {{"max", max_text, 0, 255, 0}, {"avg", avg_text, 255, 128, 0},
                                      {"0.00", "min", 0, 255, 0},   {},
                                      {"cur", cur_text, 0, 128, 0}, {}};
    grafutil_complete(image, out, "System Load", ring, nullptr, labels);
}

int urlhandler(FILE* out, const char* url, const char* param) {
    if (!modules_has_prefix(url, "/MOD_LOAD")) return 0;
    if (!param) return 0;
    if (modules_has_prefix(param, "overview")) {
        overview(out);
        return 1;
    }
    // Longest first: each shorter name is a prefix of the longer ones.
    for (int ring = HISTORY_RINGS - 1; ring >= 0; --ring) {
        char graph[MODULES_GRAPH_NAME_SIZE];
        modules_graph_name(graph, history_interval(ring));
        if (std::strncmp(param, graph, std::strlen(graph)) == 0) {
            grafinterval(out, ring);
            return 1;
        }
    }
    return 0;
}

void mainindexhtml(FILE* out) {
    modules_paragraph(out, "MOD_LOAD", "Modul zeigt die CPU Last auf Basis der Load grafisch an");
}

void linkintervalgraf(FILE* out, int interval) {
    char graph[MODULES_GRAPH_NAME_SIZE];
    modules_graph_name(graph, interval);
    std::fprintf(out, "<img src=\"/MOD_LOAD?%s\"><hr>\r\n", graph);
}

}  // namespace

void mod_load_register(modulestruct* mod) {
    modules_describe(mod, "MOD_LOAD", "module.load.enable",
                     {.init = init, .interval = interval, .avg = avg, .urlhandler = urlhandler,
                      .mainindexhtml = mainindexhtml, .linkintervalgraf = linkintervalgraf});
}
