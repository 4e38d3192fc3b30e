// The network-interface module: bytes, errors and collisions per interface,
// the interface list, a page per interface and its graphs.
#include <cstring>

#include "core/history.h"
#include "graph/grafutil.h"
#include "modules/modules.h"
#include "web/html.h"
#include "web/httpd.h"

namespace {

constexpr size_t MAX_NAME = sizeof(stat_netif::name) - 1;  // 31

void init() {}

void interval(stat_struct* put_in_this) { stat_get_netif(put_in_this); }

// Per-name means; an interface missing from some records still divides by all
// of them. Names beyond the 25 the record holds are left out.
void avg(stat_struct* put_in_this, stat_struct** list_of_stats, int elements) {
    if (elements <= 0) return;
    put_in_this->netif_count = 0;
    for (stat_netif& n : put_in_this->netif) n.name[0] = '\0';

    for (int e = 0; e < elements; ++e) {
        const stat_struct* rec = list_of_stats[e];
        int used = rec->netif_count < 0 ? 0 : (rec->netif_count > MAX_NETIF ? MAX_NETIF : rec->netif_count);
        for (int i = 0; i < used; ++i) {
            const stat_netif& from = rec->netif[i];
            if (!from.name[0]) continue;
            stat_netif* to = stat_get_netif_byname(from.name, put_in_this);
            if (!to) {
                if (put_in_this->netif_count >= MAX_NETIF) continue;
                to = &put_in_this->netif[put_in_this->netif_count++];
                std::memcpy(to->name, from.name, sizeof to->name);
                for (auto c : STAT_NETIF_COUNTERS) to->*c = 0;
            }
            for (auto c : STAT_NETIF_COUNTERS) to->*c += from.*c;
        }
    }
    for (int i = 0; i < put_in_this->netif_count; ++i)
        for (auto c : STAT_NETIF_COUNTERS) put_in_this->netif[i].*c /= static_cast<uint64_t>(elements);
}

// A name from a request that no interface could have (none is longer than 31
// characters) names no interface.
bool named(const char* param) { return param && *param && std::strlen(param) <= MAX_NAME; }

void text_answer(FILE* out, const char* text) {
    html_content_type(out, HTML_PAGE);
    std::fputs(text, out);
}

// The interfaces of the newest one-second sample that configuration shows.
template <typename Each>
void for_shown_interfaces(Each each) {
    stat_struct newest;
    history_copy_slot(0, history_get_travler(0), &newest);
    for (int i = 0; i < newest.netif_count && i < MAX_NETIF; ++i) {
        const char* name = newest.netif[i].name;
        if (name[0] && !modules_skipinterface(name)) each(name);
    }
}

void overview(FILE* out) {
    html_content_type(out, HTML_PAGE);
    html_head(out, "System Network Load", nullptr, nullptr);
    std::fputs("<body>\r\n"
               "<h1>System Network Load Statistics Overview</h1>\r\n"
               "<p>\r\n",
               out);
    for_shown_interfaces([out](const char* name) {
        char name_html[6 * MAX_NAME + 1], name_url[3 * MAX_NAME + 1];
        html_escape(name_html, sizeof name_html, name);
        html_urlencode(name_url, sizeof name_url, name);
        std::fprintf(out, "<a href=\"/MOD_NETIF/overview?%s\">%s</a><br>\r\n", name_url, name_html);
    });
    html_footer(out);
}

// The name comes from the request and is reflected into the page: escaped in
// text and attributes, percent-encoded inside addresses. Real interface names
// contain none of the affected characters and come out unchanged.
void overview_netif(FILE* out, const char* param) {
    if (!named(param)) return text_answer(out, "Unknown interface\r\n");
    if (modules_skipinterface(param)) return text_answer(out, "Skip interface by configuration\r\n");

    html_content_type(out, HTML_PAGE);
    char name_html[6 * MAX_NAME + 1], name_url[3 * MAX_NAME + 1];
    html_escape(name_html, sizeof name_html, param);
    html_urlencode(name_url, sizeof name_url, param);
    char title[2500], refreshurl[2500];
    std::snprintf(title, sizeof title, "Network Load (%s)", name_html);
    std::snprintf(refreshurl, sizeof refreshurl, "/MOD_NETIF/overview?%s", name_url);
    html_head(out, title, "10", refreshurl);
    std::fprintf(out,
                 "<body>\r\n"
                 "<h1>Network Load Statistics Overview (%s)</h1>\r\n",
                 name_html);
    for (int ring = 0; ring < HISTORY_RINGS; ++ring) {
        char graph[MODULES_GRAPH_NAME_SIZE];
        modules_graph_name(graph, history_interval(ring));
        std::fprintf(out, "<hr>\r\n<img src=\"/MOD_NETIF/%s?%s\">\r\n", graph, name_url);
    }
    std::fputs("<hr>\r\n", out);
    html_footer(out);
}

// Both series share one scale, on which the larger maximum reaches the top.
// The walk starts at the slot before the newest; the newest only tells
// whether the interface exists. Slots are copied one at a time: the sampling
// thread may be storing meanwhile.
void grafinterval(FILE* out, const char* param, int ring) {
    if (!named(param)) return text_answer(out, "Unknown interface\r\n");
    if (modules_skipinterface(param)) return text_answer(out, "Skip interface by configuration\r\n");

    const history_ring_struct* travler = history_get_travler(ring);
    stat_struct copy;
    history_copy_slot(ring, travler, &copy);
    if (!stat_get_netif_byname(param, &copy)) return text_answer(out, "please wait .......\r\n");

    uint64_t read_array[GRAPH_SLOTS], send_array[GRAPH_SLOTS];
    uint64_t read_max = 0, send_max = 0, read_sum = 0, send_sum = 0;
    const history_ring_struct* slot = travler->prev;
    for (int x = 0; x < GRAPH_SLOTS; ++x, slot = slot->prev) {
        history_copy_slot(ring, slot, &copy);
        const stat_netif* n = stat_get_netif_byname(param, &copy);
        read_array[x] = n ? n->received_bytes : 0;
        send_array[x] = n ? n->send_bytes : 0;
        if (read_array[x] > read_max) read_max = read_array[x];
        if (send_array[x] > send_max) send_max = send_array[x];
        read_sum += read_array[x];
        send_sum += send_array[x];
    }
    // The bar at x 0 and the "current" texts show the same slot.
    const uint64_t read_current = read_array[0], send_current = send_array[0];
    const double read_multi = static_cast<double>(read_max) / 100.0;
    const double send_multi = static_cast<double>(send_max) / 100.0;
    const auto read_avg = static_cast<uint64_t>(static_cast<double>(read_sum) / GRAPH_SLOTS);
    const auto send_avg = static_cast<uint64_t>(static_cast<double>(send_sum) / GRAPH_SLOTS);
    const grafutil_corner_text corners[6] = {
        {"max in", read_max, 0, 255, 0}, {"avg in", read_avg, 255, 128, 0}, {"current", read_current, 0, 255, 0},
        {"max out", send_max, 0, 0, 200}, {"avg out", send_avg, 0, 0, 128}, {"current", send_current, 0, 0, 200}};

    html_content_type(out, PNG_GRAPH);
    void* image = grafutil_createimage();
    const double multi = send_multi > read_multi ? send_multi : read_multi;
    auto height = [multi](uint64_t v) { return grafutil_height(static_cast<double>(v), multi); };

    for (int x = 0; x < GRAPH_SLOTS; ++x) {
        grafutil_drawbar(image, x, height(read_array[x]), 0, 255, 0);
        if (x > 0)
            grafutil_drawsegmentline(image, x, height(send_array[x]), x - 1, height(send_array[x - 1]), 0, 0, 200);
    }
    grafutil_drawhline(image, height(read_avg), 0, 128, 0);
    grafutil_drawhline(image, height(send_avg), 0, 0, 128);
    grafutil_complete(image, out, "Network Load", ring, param, grafutil_byte_labels(corners).labels);
}

int urlhandler(FILE* out, const char* url, const char* param) {
    const module_route route = modules_route(url, param, "/MOD_NETIF");
    if (route.kind == module_route::NOT_MINE) return 0;
    if (route.kind == module_route::OVERVIEW) {
        overview(out);
        return 1;
    }
    // The list and the pages percent-encode the names they link to; a name
    // such as "we#1" comes back as "we%231".
    char name[HTTPD_REQUEST_LIMIT + 1];
    const char* iface = nullptr;
    if (param) {
        html_urldecode(name, sizeof name, param);
        iface = name;
    }
    if (route.kind == module_route::PAGE)
        overview_netif(out, iface);
    else
        grafinterval(out, iface, route.ring);
    return 1;
}

void mainindexhtml(FILE* out) {
    modules_paragraph(out, "MOD_NETIF",
                      "Modul zeigt die Netzwerkauslastung von Netzwerkkarten an. Inbound und Outbound Traffic");
}

void linkintervalgraf(FILE* out, int interval) {
    for_shown_interfaces([out, interval](const char* name) {
        char name_url[3 * MAX_NAME + 1];
        html_urlencode(name_url, sizeof name_url, name);
        char graph[MODULES_GRAPH_NAME_SIZE];
        modules_graph_name(graph, interval);
        std::fprintf(out, "<img src=\"/MOD_NETIF/%s?%s\"><hr>\r\n", graph, name_url);
    });
}

}  // namespace

void mod_netif_register(modulestruct* mod) {
    modules_describe(mod, "MOD_NETIF", "module.netif.enable",
                     {.init = init, .interval = interval, .avg = avg, .urlhandler = urlhandler,
                      .mainindexhtml = mainindexhtml, .linkintervalgraf = linkintervalgraf});
}
