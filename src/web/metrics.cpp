#include "web/metrics.h"

#include <cinttypes>
#include <cstring>

#include "config/config.h"
#include "core/history.h"
#include "core/totals.h"
#include "modules/modules.h"
#include "web/html.h"

namespace {

// Prometheus only sees one sample per scrape; the peak looks at the ten newest seconds.
constexpr int PEAK_SECONDS = 10;

// Every body line ends in a line feed alone: the format wants it so, and a
// carriage return would become part of the value before it.
void family(FILE* out, const char* name, const char* type, const char* help) {
    std::fprintf(out, "# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
}

// Label values escape backslash, double quote and line feed.
void label_value(FILE* out, const char* v) {
    for (; *v; ++v) {
        if (*v == '\\') std::fputs("\\\\", out);
        else if (*v == '"') std::fputs("\\\"", out);
        else if (*v == '\n') std::fputs("\\n", out);
        else std::fputc(*v, out);
    }
}

void device_sample(FILE* out, const char* name, const char* device, uint64_t value) {
    std::fprintf(out, "%s{device=\"", name);
    label_value(out, device);
    std::fprintf(out, "\"} %" PRIu64 "\n", value);
}

uint64_t minus(uint64_t a, uint64_t b) { return a > b ? a - b : 0; }

struct netif_series {
    const char* name;
    const char* type;
    const char* help;
    uint64_t totals_netif::*total;  // null for the peaks
    int peak;                       // 0 received, 1 sent; for the peaks
};
constexpr netif_series NETIF_SERIES[] = {
    {"node_network_receive_bytes_total", "counter", "Bytes received since Kelp started.",
     &totals_netif::received_bytes, 0},
    {"node_network_transmit_bytes_total", "counter", "Bytes sent since Kelp started.", &totals_netif::send_bytes, 0},
    {"node_network_receive_errs_total", "counter", "Receive errors since Kelp started.",
     &totals_netif::input_errors, 0},
    {"node_network_transmit_errs_total", "counter", "Transmit errors since Kelp started.",
     &totals_netif::output_errors, 0},
    {"node_network_transmit_colls_total", "counter", "Collisions since Kelp started.", &totals_netif::collisions, 0},
    {"kelp_network_receive_peak_bytes_per_second", "gauge",
     "Largest one-second increase of received bytes among the ten newest seconds.", nullptr, 0},
    {"kelp_network_transmit_peak_bytes_per_second", "gauge",
     "Largest one-second increase of sent bytes among the ten newest seconds.", nullptr, 1},
};

void write_netif(FILE* out) {
    totals_struct totals;
    totals_read(&totals);
    bool shown[MAX_NETIF];
    for (int i = 0; i < MAX_NETIF; ++i)
        shown[i] = totals.netif[i].name[0] && totals.netif[i].in_newest &&
                   !mod_netif_skipinterface(totals.netif[i].name);

    // One slot copy at a time, each taken as safely as a graph takes it.
    uint64_t peak[MAX_NETIF][2] = {};
    const history_ring_struct* slot = history_get_travler(0);
    stat_struct copy;
    for (int s = 0; s < PEAK_SECONDS; ++s, slot = slot->prev) {
        history_copy_slot(0, slot, &copy);
        for (int i = 0; i < MAX_NETIF; ++i) {
            if (!shown[i]) continue;
            const stat_netif* n = stat_get_netif_byname(totals.netif[i].name, &copy);
            if (!n) continue;
            if (n->received_bytes > peak[i][0]) peak[i][0] = n->received_bytes;
            if (n->send_bytes > peak[i][1]) peak[i][1] = n->send_bytes;
        }
    }

    for (const netif_series& f : NETIF_SERIES) {
        family(out, f.name, f.type, f.help);
        for (int i = 0; i < MAX_NETIF; ++i)
            if (shown[i])
                device_sample(out, f.name, totals.netif[i].name, f.total ? totals.netif[i].*f.total : peak[i][f.peak]);
    }
}

}  // namespace

void metrics_write(FILE* out) {
    stat_struct newest;
    history_copy_slot(0, history_get_travler(0), &newest);

    family(out, "kelp_build_info", "gauge", "Kelp's version.");
    std::fprintf(out, "kelp_build_info{version=\"%s\"} 1\n", KELP_VERSION);
    totals_struct totals;
    totals_read(&totals);
    family(out, "kelp_samples_total", "counter", "Samples taken since Kelp started.");
    std::fprintf(out, "kelp_samples_total %" PRIu64 "\n", totals.samples);

    if (modules_enabled("module.load.enable")) {
        family(out, "node_load1", "gauge", "One-minute load average.");
        std::fprintf(out, "node_load1 %.17g\n", newest.load);
    }
    if (modules_enabled("module.memswap.enable")) {
        const struct {
            const char* name;
            const char* help;
            uint64_t value;
        } gauges[] = {
            {"node_memory_MemTotal_bytes", "Size of physical memory.", newest.mem.total},
            {"node_memory_MemAvailable_bytes", "Physical memory not in use.", minus(newest.mem.total, newest.mem.used)},
            {"node_memory_SwapTotal_bytes", "Size of swap space.", newest.swap.total},
            {"node_memory_SwapFree_bytes", "Swap space not in use.", minus(newest.swap.total, newest.swap.used)},
        };
        for (const auto& g : gauges) {
            family(out, g.name, "gauge", g.help);
            std::fprintf(out, "%s %" PRIu64 "\n", g.name, g.value);
        }
    }
    if (modules_enabled("module.netif.enable")) write_netif(out);
}

void metrics_answer(FILE* out) {
    html_content_type(out, "text/plain; version=0.0.4; charset=utf-8");
    metrics_write(out);
}
