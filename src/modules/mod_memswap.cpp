// The memory and swap module: size and use of physical memory and swap.
#include <cstring>

#include "config/config.h"
#include "core/history.h"
#include "graph/bytetext.h"
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

constexpr const char* GRAPH_URL[HISTORY_RINGS] = {"/MOD_MEMSWAP/grafinterval_1", "/MOD_MEMSWAP/grafinterval_10",
                                                  "/MOD_MEMSWAP/grafinterval_100"};

// One hundredth of the top of the scale. Read at every request so that the
// graph follows the configuration in force: "1" (or no value) scales use to
// the largest size, anything else to the largest use.
double scale(const char* rescale_key, uint64_t total_max, uint64_t used_max) {
    const char* rescalevalue = config_getproperty(rescale_key);
    bool to_total = !rescalevalue || !*rescalevalue || config_atoi(rescalevalue) == 1;
    return static_cast<double>(to_total ? total_max : used_max) / 100.0;
}

void corner_texts(void* image, void (*corner)(void*, const char*, const char*, int, int, int), const char* label,
                  uint64_t value, bool value_first, int r, int g, int b) {
    char bytes[BYTETEXT_SIZE];
    bytetext_format(bytes, sizeof bytes, value);
    if (value_first)
        corner(image, bytes, label, r, g, b);
    else
        corner(image, label, bytes, r, g, b);
}

// Swap bars and memory line on scales of their own. The walk starts at the
// slot before the newest; the newest shows only in the "current" texts. Slots
// are copied one at a time: the sampling thread may be storing meanwhile.
void grafinterval(FILE* out, int ring) {
    const history_ring_struct* travler = history_get_travler(ring);
    stat_struct copy;
    history_copy_slot(ring, travler, &copy);
    const uint64_t swap_current = copy.swap.used, mem_current = copy.mem.used;

    uint64_t swap_used[GRAPH_SLOTS], mem_used[GRAPH_SLOTS];
    uint64_t swap_total_max = 0, swap_used_max = 0, mem_total_max = 0, mem_used_max = 0;
    const history_ring_struct* slot = travler->prev;
    for (int x = 0; x < GRAPH_SLOTS; ++x, slot = slot->prev) {
        history_copy_slot(ring, slot, &copy);
        swap_used[x] = copy.swap.used;
        mem_used[x] = copy.mem.used;
        if (copy.swap.total > swap_total_max) swap_total_max = copy.swap.total;
        if (copy.swap.used > swap_used_max) swap_used_max = copy.swap.used;
        if (copy.mem.total > mem_total_max) mem_total_max = copy.mem.total;
        if (copy.mem.used > mem_used_max) mem_used_max = copy.mem.used;
    }
    const double swap_multi = scale("module.memswap.swap.rescalemax", swap_total_max, swap_used_max);
    const double mem_multi = scale("module.memswap.mem.rescalemax", mem_total_max, mem_used_max);

    std::fputs("Content-type: image/png\r\n\r\n", out);
    void* image = grafutil_createimage();
    int y_prev = 0;
    for (int x = 0; x < GRAPH_SLOTS; ++x) {
        grafutil_drawbar(image, x, grafutil_height(static_cast<double>(swap_used[x]), swap_multi), 0, 255, 0);
        int y = grafutil_height(static_cast<double>(mem_used[x]), mem_multi);
        if (x > 0) grafutil_drawsegmentline(image, x, y, x - 1, y_prev, 0, 0, 200);
        y_prev = y;
    }
    grafutil_gitter(image);

    char text[80];
    std::snprintf(text, sizeof text, "Swap / Memory Load last %d seconds", grafutil_span_seconds(ring));
    grafutil_title(image, text);
    corner_texts(image, grafutil_textlefttop, "swap", swap_total_max, false, 0, 255, 0);
    corner_texts(image, grafutil_textleftcenter, "max use", swap_used_max, false, 0, 255, 0);
    corner_texts(image, grafutil_textleftbottom, "current", swap_current, true, 0, 255, 0);
    corner_texts(image, grafutil_textrighttop, "memory", mem_total_max, false, 0, 0, 200);
    corner_texts(image, grafutil_textrightcenter, "max use", mem_used_max, false, 0, 0, 200);
    corner_texts(image, grafutil_textrightbottom, "current", mem_current, true, 0, 0, 200);
    grafutil_dateonrightbottom(image);
    grafutil_finish(image, out);
}

int urlhandler(FILE* out, const char* url, const char* param) {
    if (!modules_has_prefix(url, "/MOD_MEMSWAP")) return 0;
    if (std::strcmp(url, "/MOD_MEMSWAP/overview") == 0) {
        overview(out);
        return 1;
    }
    for (int ring = 0; ring < HISTORY_RINGS; ++ring) {
        if (std::strcmp(url, GRAPH_URL[ring]) == 0) {
            grafinterval(out, ring);
            return 1;
        }
    }
    if (modules_has_prefix(param, "overview")) {
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
    modules_describe(mod, "MOD_MEMSWAP", "module.memswap.enable",
                     {.init = init, .interval = interval, .avg = avg, .urlhandler = urlhandler,
                      .mainindexhtml = mainindexhtml, .linkintervalgraf = linkintervalgraf});
}
