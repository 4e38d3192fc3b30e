// The memory and swap module: size and use of physical memory and swap.
#include <cstring>

#include "config/config.h"
#include "core/history.h"
#include "graph/grafutil.h"
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

constexpr char PREFIX[] = "/MOD_MEMSWAP";

void linkintervalgraf(FILE* out, int interval) { modules_graph_link(out, PREFIX, interval); }

void overview(FILE* out) {
    modules_overview(out, PREFIX, "Memory and Swap Load", "Memory and Swap Statistics Overview");
}

// One hundredth of the top of the scale. Read at every request so that the
// graph follows the configuration in force: "1" (or no value) scales use to
// the largest size, anything else to the largest use.
double scale(const char* rescale_key, uint64_t total_max, uint64_t used_max) {
    const char* rescalevalue = config_getproperty(rescale_key);
    bool to_total = !rescalevalue || !*rescalevalue || config_atoi(rescalevalue) == 1;
    return static_cast<double>(to_total ? total_max : used_max) / 100.0;
}

// Swap bars and memory line on scales of their own. The walk starts at the
// slot before the newest; the newest shows only in the "current" texts. Slots
// are read one figure at a time: the sampling thread may be storing meanwhile.
void grafinterval(FILE* out, int ring) {
    const history_ring_struct* travler = history_get_travler(ring);
    const uint64_t swap_current = travler->field(&stat_struct::swap).used;
    const uint64_t mem_current = travler->field(&stat_struct::mem).used;

    uint64_t swap_used[GRAPH_SLOTS], mem_used[GRAPH_SLOTS];
    uint64_t swap_total_max = 0, swap_used_max = 0, mem_total_max = 0, mem_used_max = 0;
    const history_ring_struct* slot = travler->prev;
    for (int x = 0; x < GRAPH_SLOTS; ++x, slot = slot->prev) {
        const stat_swap swap = slot->field(&stat_struct::swap), mem = slot->field(&stat_struct::mem);
        swap_used[x] = swap.used;
        mem_used[x] = mem.used;
        if (swap.total > swap_total_max) swap_total_max = swap.total;
        if (swap.used > swap_used_max) swap_used_max = swap.used;
        if (mem.total > mem_total_max) mem_total_max = mem.total;
        if (mem.used > mem_used_max) mem_used_max = mem.used;
    }
    const double swap_multi = scale("module.memswap.swap.rescalemax", swap_total_max, swap_used_max);
    const double mem_multi = scale("module.memswap.mem.rescalemax", mem_total_max, mem_used_max);
    const grafutil_corner_text corners[6] = {{"swap", swap_total_max, 0, 255, 0}, {"max use", swap_used_max, 0, 255, 0},
                                             {"current", swap_current, 0, 255, 0}, {"memory", mem_total_max, 0, 0, 200},
                                             {"max use", mem_used_max, 0, 0, 200}, {"current", mem_current, 0, 0, 200}};

    html_content_type(out, PNG_GRAPH);
    void* image = grafutil_createimage();
    int y_prev = 0;
    for (int x = 0; x < GRAPH_SLOTS; ++x) {
        grafutil_drawbar(image, x, grafutil_height(static_cast<double>(swap_used[x]), swap_multi), 0, 255, 0);
        int y = grafutil_height(static_cast<double>(mem_used[x]), mem_multi);
        if (x > 0) grafutil_drawsegmentline(image, x, y, x - 1, y_prev, 0, 0, 200);
        y_prev = y;
    }
    grafutil_complete(image, out, "Swap / Memory Load", ring, nullptr, grafutil_byte_labels(corners).labels);
}

int urlhandler(FILE* out, const char* url, const char* param) {
    return modules_answer(out, url, param, PREFIX, grafinterval, overview);
}

void mainindexhtml(FILE* out) {
    modules_paragraph(out, "MOD_MEMSWAP", "Modul zeigt die Speicherauslastung des Rechners an. Swap und Phy. Memory");
}

}  // namespace

void mod_memswap_register(modulestruct* mod) {
    modules_describe(mod, "MOD_MEMSWAP", "module.memswap.enable",
                     {.init = init, .interval = interval, .avg = avg, .urlhandler = urlhandler,
                      .mainindexhtml = mainindexhtml, .linkintervalgraf = linkintervalgraf});
}
