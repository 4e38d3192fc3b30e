#include "web/metrics.h"

#include <cinttypes>
#include <cstring>

#include "config/config.h"
#include "core/history.h"
#include "core/totals.h"
#include "modules/modules.h"
#include "web/html.h"

namespace {

// The HELP texts of the peaks name their window.
static_assert(TOTALS_PEAK_SECONDS == 60);

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
    uint64_t (*value)(const totals_struct& totals, int i);
};
constexpr netif_series NETIF_SERIES[] = {
    {"node_network_receive_bytes_total", "counter", "Bytes received since Kelp started.",
     [](const totals_struct& t, int i) { return t.netif[i].received_bytes; }},
    {"node_network_transmit_bytes_total", "counter", "Bytes sent since Kelp started.",
     [](const totals_struct& t, int i) { return t.netif[i].send_bytes; }},
    {"node_network_receive_errs_total", "counter", "Receive errors since Kelp started.",
     [](const totals_struct& t, int i) { return t.netif[i].input_errors; }},
    {"node_network_transmit_errs_total", "counter", "Transmit errors since Kelp started.",
     [](const totals_struct& t, int i) { return t.netif[i].output_errors; }},
    {"node_network_transmit_colls_total", "counter", "Collisions since Kelp started.",
     [](const totals_struct& t, int i) { return t.netif[i].collisions; }},
    {"kelp_network_receive_peak_bytes_per_second", "gauge",
     "Largest one-second increase of received bytes over the last 60 seconds.",
     [](const totals_struct& t, int i) { return t.received_peak[i]; }},
    {"kelp_network_transmit_peak_bytes_per_second", "gauge",
     "Largest one-second increase of sent bytes over the last 60 seconds.",
     [](const totals_struct& t, int i) { return t.send_peak[i]; }},
};

void write_netif(FILE* out, const totals_struct& totals) {
    bool shown[MAX_NETIF];
    for (int i = 0; i < MAX_NETIF; ++i)
        shown[i] = totals.netif[i].name[0] && totals.in_newest[i] && !modules_skipinterface(totals.netif[i].name);
    for (const netif_series& f : NETIF_SERIES) {
        family(out, f.name, f.type, f.help);
        for (int i = 0; i < MAX_NETIF; ++i)
            if (shown[i]) device_sample(out, f.name, totals.netif[i].name, f.value(totals, i));
    }
}

// Processor and mode as the node exporter labels them. Fifteen digits give
// back the decimal figure the kernel's ticks make (1234.56, not
// 1234.5599999999999).
void cpu_seconds_sample(void* context, int cpu, const char* mode, double seconds) {
    FILE* out = static_cast<FILE*>(context);
    std::fprintf(out, "node_cpu_seconds_total{cpu=\"%d\",mode=\"", cpu);
    label_value(out, mode);
    std::fprintf(out, "\"} %.15g\n", seconds);
}

// The seconds are read from the kernel now, not from the rings: they are the
// node exporter's counters, which dashboards already take rates of. Without
// a figure in the window, or from the kernel, a family has no sample.
void write_cpu(FILE* out, const totals_struct& totals) {
    family(out, "node_cpu_seconds_total", "counter", "Seconds the CPUs spent in each mode.");
    stat_get_cpu_seconds(cpu_seconds_sample, out);
    family(out, "kelp_cpu_busy_peak_ratio", "gauge",
           "Largest one-second share of CPU time not idle over the last 60 seconds.");
    if (totals.cpu_busy_peak > 0)
        std::fprintf(out, "kelp_cpu_busy_peak_ratio %.4f\n",
                     static_cast<double>(totals.cpu_busy_peak - 1) / STAT_CPU_WHOLE);
}

}  // namespace

void metrics_write(FILE* out) {
    stat_struct newest;
    history_copy_slot(0, history_get_travler(0), &newest);
    totals_struct totals;
    totals_read(&totals);

    family(out, "kelp_build_info", "gauge", "Kelp's version.");
    std::fprintf(out, "kelp_build_info{version=\"%s\"} 1\n", KELP_VERSION);
    family(out, "kelp_samples_total", "counter", "Samples taken since Kelp started.");
    std::fprintf(out, "kelp_samples_total %" PRIu64 "\n", totals.samples);

    if (modules_active("MOD_LOAD")) {
        family(out, "node_load1", "gauge", "One-minute load average.");
        std::fprintf(out, "node_load1 %.17g\n", newest.load);
    }
    if (modules_active("MOD_MEMSWAP")) {
        const struct {
            const char* name;
            const char* help;
            uint64_t value;
        } gauges[] = {
            {"node_memory_MemTotal_bytes", "Size of physical memory.", newest.mem.total},
            {"node_memory_MemAvailable_bytes", "Physical memory not in use.", minus(newest.mem.total, newest.mem.used)},
            {"node_memory_SwapTotal_bytes", "Size of swap space.", newest.swap.total},
            {"node_memory_SwapFree_bytes", "Swap space not in use.", minus(newest.swap.total, newest.swap.used)},
            {"kelp_memory_used_peak_bytes", "Largest MemTotal - MemAvailable over the last 60 seconds.",
             totals.mem_used_peak},
        };
        for (const auto& g : gauges) {
            family(out, g.name, "gauge", g.help);
            std::fprintf(out, "%s %" PRIu64 "\n", g.name, g.value);
        }
    }
    if (modules_active("MOD_NETIF")) write_netif(out, totals);
    if (modules_active("MOD_CPU")) write_cpu(out, totals);
}

void metrics_answer(FILE* out) {
    html_content_type(out, "text/plain; version=0.0.4; charset=utf-8");
    metrics_write(out);
}
