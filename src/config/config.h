// Configuration: the table of known properties, the dynamic per-interface
// properties, the file reader and the printer of the configuration.
//
// Written only on the main thread during start-up; read-only (and so safe for
// any thread) afterwards.
#pragma once

#include <cstdio>

struct propertiestruct {
    const char* property;
    const char* value;
    const char* description;  // null for dynamic properties
};

struct dynpropertiestruct {
    dynpropertiestruct* next;
    propertiestruct property;
};

#ifndef KELP_VERSION_TEXT
#error "KELP_VERSION_TEXT comes from the build (CMakeLists.txt)"
#endif
constexpr const char* KELP_VERSION = KELP_VERSION_TEXT;
constexpr const char* CONFIG_DEFAULT_FILE = "/etc/orn/Kelp.conf";

// Back to the built-in values and no dynamic property, as at start-up.
void config_init();
void config_read(const char* rfilename);
const char* config_getproperty(const char* q);
void config_printdefaultconfig(FILE* out);
void add_dynproperty(char* property, char* value);

// The one decimal conversion every reader of a setting uses: optional blanks,
// an optional sign, leading digits; 0 when there are none. Values beyond the
// range of int saturate instead of overflowing.
int config_atoi(const char* s);
