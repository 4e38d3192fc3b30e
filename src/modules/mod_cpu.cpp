// The CPU module: the machine's CPU time by mode, its overview page and graphs
// of stacked shares.
#include <cstring>

#include "core/history.h"
#include "graph/grafutil.h"
#include "modules/modules.h"
#include "web/html.h"

namespace {

// The groups of modes a bar stacks from the baseline up, each in its colour;
// idle stays the white of the plot above them.
struct mode_group {
    stat_cpu_mode modes[2];
    int r, g, b;
};
constexpr mode_group GROUPS[] = {
    {{STAT_CPU_USER, STAT_CPU_NICE}, 0, 255, 0},          // green: the load graph's bars
    {{STAT_CPU_SYSTEM, STAT_CPU_INTERRUPT}, 0, 0, 200},   // blue: the memory line
    {{STAT_CPU_IOWAIT, STAT_CPU_STEAL}, 255, 128, 0},     // orange: time the processors wanted but did not get
};
constexpr int GROUP_COUNT = sizeof GROUPS / sizeof GROUPS[0];
// The busy share's labels.
constexpr int LABEL_R = 0, LABEL_G = 128, LABEL_B = 0;

void init() {}

void interval(stat_struct* put_in_this) { stat_get_cpu(put_in_this); }

// The mean over the records that have a figure; a record without one (the
// first second, a failed read) would otherwise pull every share down. Each
// record's shares add up to the whole, so the mean share of a mode is its
// share of the sums, rounded as a sample's shares are.
void avg(stat_struct* put_in_this, stat_struct** list_of_stats, int elements) {
    uint64_t sum[STAT_CPU_MODES] = {};
    bool any = false;
    for (int i = 0; i < elements; ++i) {
        const stat_cpu& c = list_of_stats[i]->cpu;
        if (stat_cpu_busy(c) < 0) continue;
        any = true;
        for (int m = 0; m < STAT_CPU_MODES; ++m) sum[m] += c.share[m];
    }
    put_in_this->cpu = stat_cpu{};
    if (any) stat_cpu_shares(sum, put_in_this->cpu.share);
}

constexpr char PREFIX[] = "/MOD_CPU";

void linkintervalgraf(FILE* out, int interval) { modules_graph_link(out, PREFIX, interval); }

void overview(FILE* out) { modules_overview(out, PREFIX, "CPU Load", "CPU Statistics Overview"); }

// A busy share (in 1/STAT_CPU_WHOLE) as a label: "%5.1f%%" of the per cent, at
// most "100.0%", which the left margin's seven characters hold; "-" in the
// same width when there is no figure (a negative share).
void busy_text(char (&text)[16], double busy) {
    if (busy < 0)
        std::snprintf(text, sizeof text, "%6s", "-");
    else
        std::snprintf(text, sizeof text, "%5.1f%%", busy / (STAT_CPU_WHOLE / 100.0));
}

// One bar: the groups stacked from the baseline, drawn tallest first so that
// each lower one covers the part of the bar below its own top. A group with no
// time draws nothing, so a pixel of a colour always means time in its modes.
void stacked_bar(void* image, int x, const stat_cpu& c) {
    int top[GROUP_COUNT], own[GROUP_COUNT];
    int below = 0;
    for (int k = 0; k < GROUP_COUNT; ++k) {
        own[k] = c.share[GROUPS[k].modes[0]] + c.share[GROUPS[k].modes[1]];
        top[k] = below + own[k];
        below = top[k];
    }
    for (int k = GROUP_COUNT - 1; k >= 0; --k)
        if (own[k] > 0)
            grafutil_drawbar(image, x, top[k] / (STAT_CPU_WHOLE / 100), GROUPS[k].r, GROUPS[k].g, GROUPS[k].b);
}

// Starts at the newest slot, which is also the bar at x 0 and "cur". Slots
// are read one figure at a time: the sampling thread may be storing meanwhile.
void grafinterval(FILE* out, int ring) {
    stat_cpu cpu[GRAPH_SLOTS];
    int max = -1, counted = 0;
    double sum = 0.0;
    const history_ring_struct* slot = history_get_travler(ring);
    for (int x = 0; x < GRAPH_SLOTS; ++x, slot = slot->prev) {
        cpu[x] = slot->field(&stat_struct::cpu);
        const int busy = stat_cpu_busy(cpu[x]);
        if (busy < 0) continue;
        if (busy > max) max = busy;
        sum += busy;
        ++counted;
    }

    html_content_type(out, PNG_GRAPH);
    void* image = grafutil_createimage();
    for (int x = 0; x < GRAPH_SLOTS; ++x) stacked_bar(image, x, cpu[x]);

    char max_text[16], avg_text[16], cur_text[16];
    busy_text(max_text, max);
    busy_text(avg_text, counted ? sum / counted : -1.0);
    busy_text(cur_text, stat_cpu_busy(cpu[0]));
    const grafutil_label labels[6] = {{"max", max_text, LABEL_R, LABEL_G, LABEL_B},
                                      {"avg", avg_text, LABEL_R, LABEL_G, LABEL_B},
                                      {"0.0%", "min", LABEL_R, LABEL_G, LABEL_B},
                                      {},
                                      {"cur", cur_text, LABEL_R, LABEL_G, LABEL_B},
                                      {}};
    grafutil_complete(image, out, "CPU", ring, nullptr, labels);
}

int urlhandler(FILE* out, const char* url, const char* param) {
    return modules_answer(out, url, param, PREFIX, grafinterval, overview);
}

void mainindexhtml(FILE* out) {
    modules_paragraph(out, "MOD_CPU",
                      "Modul zeigt die CPU Auslastung nach Art (User, System, Wait, Steal) grafisch an");
}

}  // namespace

void mod_cpu_register(modulestruct* mod) {
    modules_describe(mod, "MOD_CPU", "module.cpu.enable",
                     {.init = init, .interval = interval, .avg = avg, .urlhandler = urlhandler,
                      .mainindexhtml = mainindexhtml, .linkintervalgraf = linkintervalgraf});
}
