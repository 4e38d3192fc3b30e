// The module interface and the registry of the statistics modules.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "stat/stat_wrapper.h"

struct modulestruct {
    int active;  // nonzero: takes part in every dispatch
    char name[32];
    void (*init)();                              // once, main thread, before any other thread starts
    void (*interval)(stat_struct* put_in_this);  // every tick, sampling thread: fills its fields of the sample
    void (*avg)(stat_struct* put_in_this, stat_struct** list, int elements);  // sampling thread, on a cascade
    int (*urlhandler)(FILE* out, const char* url, const char* param);  // connection thread: 1 answered, 0 not its
    void (*mainindexhtml)(FILE* out);              // connection thread, for the index page
    void (*linkintervalgraf)(FILE* out, int interval);  // connection thread, for an interval page
    modulestruct* next;
};

void modules_register();
void modules_init();
void modules_interval(stat_struct* put_in_this);
void modules_avg(stat_struct* put_in_this, stat_struct** list, int elements);
int modules_urlhandler(FILE* out, const char* url, const char* param);
void modules_mainindexhtml(FILE* out);
void modules_linkintervalgraf(FILE* out, int interval);

void mod_load_register(modulestruct* mod);
void mod_netif_register(modulestruct* mod);
void mod_memswap_register(modulestruct* mod);
void mod_cpu_register(modulestruct* mod);
// The enable rule every module applies to its key: set and not empty, then the
// decimal value decides; absent or empty disables.
int modules_enabled(const char* key);
// Whether the module registered under name ("MOD_LOAD", ...) takes part in
// the dispatches, as its registration decided.
bool modules_active(const char* name);
// Nonzero when the configuration hides the interface from every page, graph,
// link and figure.
int modules_skipinterface(const char* name);

// The six callbacks of one module, as its registration function hands them over.
struct module_callbacks {
    void (*init)();
    void (*interval)(stat_struct* put_in_this);
    void (*avg)(stat_struct* put_in_this, stat_struct** list, int elements);
    int (*urlhandler)(FILE* out, const char* url, const char* param);
    void (*mainindexhtml)(FILE* out);
    void (*linkintervalgraf)(FILE* out, int interval);
};

// What every registration function does: the enable flag from its key, the
// six callbacks and the name. next is left to the registry.
void modules_describe(modulestruct* mod, const char* name, const char* enable_key, const module_callbacks& callbacks);

// Whether text begins with the literal prefix; the length comes from the
// literal, so it cannot be miscounted.
template <std::size_t N>
bool modules_has_prefix(const char* text, const char (&prefix)[N]) {
    return text && std::strncmp(text, prefix, N - 1) == 0;
}

// The name of a module's graph of the ring whose records lie interval seconds
// apart: "grafinterval_1", "grafinterval_10" or "grafinterval_100".
constexpr size_t MODULES_GRAPH_NAME_SIZE = 32;
void modules_graph_name(char (&name)[MODULES_GRAPH_NAME_SIZE], int interval);

// What a request asks of a module that names its pages by path: its own page
// "<prefix>/overview", a graph "<prefix>/grafinterval_1", "_10" or "_100"
// (paths compared in full), or else, on any path under the prefix, the
// overview when the parameter begins with "overview".
struct module_route {
    enum kind_type { NOT_MINE, PAGE, GRAPH, OVERVIEW } kind;
    int ring;  // of a GRAPH
};
module_route modules_route(const char* url, const char* param, const char* prefix);

// For a module that names its graphs by path (modules_route): the image of
// its graph of an interval, as an interval page shows it, and its overview
// page, which reloads itself and shows the graphs of the three rings.
void modules_graph_link(FILE* out, const char* prefix, int interval);
void modules_overview(FILE* out, const char* prefix, const char* title, const char* heading);
// The URL handler of such a module: its graph of a ring drawn by graph, its
// own page and the overview by overview; 1 when the URL was its.
int modules_answer(FILE* out, const char* url, const char* param, const char* prefix, void (*graph)(FILE*, int),
                   void (*overview)(FILE*));

// A module's paragraph on the main index page: a link to its overview, then text.
void modules_paragraph(FILE* out, const char* name, const char* text);
