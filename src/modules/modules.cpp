#include "modules/modules.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "config/config.h"
#include "core/history.h"
#include "core/fatal.h"
#include "web/html.h"

namespace {

// Built by the main thread before any other thread exists and never changed
// afterwards, so every thread may walk it without a lock. The descriptors live
// as long as the process.
modulestruct* root = nullptr;

modulestruct* createstruct() {
    auto* m = new (std::nothrow) modulestruct{};
    if (!m) fatal_perror("Error creating new modulestruct");
    return m;
}

}  // namespace

int modules_enabled(const char* key) {
    const char* v = config_getproperty(key);
    if (!v || !*v) return 0;
    return config_atoi(v);
}

bool modules_active(const char* name) {
    for (const modulestruct* m = root; m; m = m->next)
        if (std::strcmp(m->name, name) == 0) return m->active != 0;
    return false;
}

// The fallback key decides for an interface without a key of its own; with no
// fallback every interface is hidden. No interface name is long enough to
// overflow prop, so such a name is hidden too.
int modules_skipinterface(const char* name) {
    const char* fallback = config_getproperty("module.netif.interface.enable");
    if (!fallback || !*fallback) return 1;
    int enable = config_atoi(fallback);
    char prop[200];
    int n = std::snprintf(prop, sizeof prop, "module.netif.interface.%s.enable", name);
    if (n < 0 || static_cast<size_t>(n) >= sizeof prop) return 1;
    const char* own = config_getproperty(prop);
    if (own && *own) enable = config_atoi(own);
    return enable == 0;
}

void modules_describe(modulestruct* mod, const char* name, const char* enable_key, const module_callbacks& callbacks) {
    mod->active = modules_enabled(enable_key);
    mod->init = callbacks.init;
    mod->interval = callbacks.interval;
    mod->avg = callbacks.avg;
    mod->urlhandler = callbacks.urlhandler;
    mod->mainindexhtml = callbacks.mainindexhtml;
    mod->linkintervalgraf = callbacks.linkintervalgraf;
    std::snprintf(mod->name, sizeof mod->name, "%s", name);
}

void modules_graph_name(char (&name)[MODULES_GRAPH_NAME_SIZE], int interval) {
    std::snprintf(name, sizeof name, "grafinterval_%d", interval);
}

module_route modules_route(const char* url, const char* param, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (!url || std::strncmp(url, prefix, n) != 0) return {module_route::NOT_MINE, 0};
    const char* path = url + n;
    if (std::strcmp(path, "/overview") == 0) return {module_route::PAGE, 0};
    for (int ring = 0; ring < HISTORY_RINGS; ++ring) {
        char graph[MODULES_GRAPH_NAME_SIZE];
        modules_graph_name(graph, history_interval(ring));
        if (path[0] == '/' && std::strcmp(path + 1, graph) == 0) return {module_route::GRAPH, ring};
    }
    if (modules_has_prefix(param, "overview")) return {module_route::OVERVIEW, 0};
    return {module_route::NOT_MINE, 0};
}

void modules_graph_link(FILE* out, const char* prefix, int interval) {
    char graph[MODULES_GRAPH_NAME_SIZE];
    modules_graph_name(graph, interval);
    std::fprintf(out, "<img src=\"%s/%s\"><hr>\r\n", prefix, graph);
}

void modules_overview(FILE* out, const char* prefix, const char* title, const char* heading) {
    char refresh[64];
    std::snprintf(refresh, sizeof refresh, "%s?overview", prefix);
    html_content_type(out, HTML_PAGE);
    html_head(out, title, "10", refresh);
    std::fprintf(out, "<body>\r\n<h1>%s</h1>\r\n<p>\r\n", heading);
    for (int ring = 0; ring < HISTORY_RINGS; ++ring) modules_graph_link(out, prefix, history_interval(ring));
    html_footer(out);
}

int modules_answer(FILE* out, const char* url, const char* param, const char* prefix, void (*graph)(FILE*, int),
                   void (*overview)(FILE*)) {
    const module_route route = modules_route(url, param, prefix);
    if (route.kind == module_route::GRAPH)
        graph(out, route.ring);
    else if (route.kind != module_route::NOT_MINE)
        overview(out);
    return route.kind != module_route::NOT_MINE;
}

void modules_paragraph(FILE* out, const char* name, const char* text) {
    std::fprintf(out, "Das <a href=\"/%s?overview\">%s</a> \r\n%s\r\n<p>\r\n", name, name, text);
}

void modules_register() {
    // Registering again (tests do, once per configuration) replaces the list.
    while (root) {
        std::unique_ptr<modulestruct> gone(root);
        root = gone->next;
    }
    root = createstruct();
    mod_load_register(root);
    root->next = createstruct();
    mod_netif_register(root->next);
    root->next->next = createstruct();
    mod_memswap_register(root->next->next);
    // Last, so that the three modules before it keep their order on every page.
    root->next->next->next = createstruct();
    mod_cpu_register(root->next->next->next);
}

void modules_init() {
    for (modulestruct* m = root; m; m = m->next)
        if (m->active && m->init) m->init();
}

void modules_interval(stat_struct* put_in_this) {
    for (modulestruct* m = root; m; m = m->next)
        if (m->active && m->interval) m->interval(put_in_this);
}

void modules_avg(stat_struct* put_in_this, stat_struct** list, int elements) {
    for (modulestruct* m = root; m; m = m->next)
        if (m->active && m->avg) m->avg(put_in_this, list, elements);
}

int modules_urlhandler(FILE* out, const char* url, const char* param) {
    for (modulestruct* m = root; m; m = m->next)
        if (m->active && m->urlhandler && m->urlhandler(out, url, param) == 1) return 1;
    return 0;
}

void modules_mainindexhtml(FILE* out) {
    for (modulestruct* m = root; m; m = m->next)
        if (m->active && m->mainindexhtml) m->mainindexhtml(out);
}

void modules_linkintervalgraf(FILE* out, int interval) {
    for (modulestruct* m = root; m; m = m->next)
        if (m->active && m->linkintervalgraf) m->linkintervalgraf(out, interval);
}
