#include "config/config.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/fatal.h"
namespace {

constexpr int NAME_BUFFER = 200;   // file name, terminator included
constexpr int LINE_BUFFER = 2000;
constexpr int LINE_MAX_CHARS = 1989;
constexpr const char DYN_PREFIX[] = "module.netif.interface.";
constexpr size_t DYN_PREFIX_LEN = sizeof DYN_PREFIX - 1;  // 23

// A key added beside the eleven Kelp has always listed: -pdc prints it only
// once a file has set it, so that the listing of a configuration that does
// not use it stays as it always was.
constexpr unsigned ROW_ADDITION = 1u << 0;
// A list of words: the value runs to the end of the line or to "#", less the
// blanks before them, where any other value ends at its first blank.
constexpr unsigned ROW_LIST = 1u << 1;

// Table values start as literals and are replaced by heap copies; owned marks
// the copies (and so a value set by a file) so that a second assignment frees
// the first, and builtin keeps the literal so that config_init can put it back.
struct table_row {
    propertiestruct p;
    unsigned flags = 0;
    bool owned = false;
    const char* builtin = nullptr;
};

table_row properties[] = {
    {{"Kelp.version", KELP_VERSION_TEXT, "Default Configuration for Kelp Version " KELP_VERSION_TEXT}},
    {{"httpd.host", "ANY", "Listen on host <IP|Hostname|ANY>"}},
    {{"httpd.port", "9001", "Listen on port [0-9]+"}},
    {{"module.load.enable", "1", "Systemload enable/disable {0|1}"}},
    {{"module.netif.enable", "1", "Networktraffic enable/disable {0|1}"}},
    {{"module.netif.interface.enable", "1",
      "Fallback value if module.netif.interface.<interface>.enable not specified {0|1}"}},
    {{"module.netif.interface.lo0.enable", "0", "Do not monitor loopback {0|1}"}},
    {{"module.netif.interface.lo.enable", "0", "Do not monitor loopback {0|1}"}},
    {{"module.memswap.enable", "1", "Memory/Swap enable/disable {0|1}"}},
    {{"module.memswap.swap.rescalemax", "0", "Scale always to max swap {0|1}"}},
    {{"module.memswap.mem.rescalemax", "0", "Scale always to max mem {0|1}"}},
    {{"httpd.allow", nullptr, "Serve only clients of these networks <address/length ...>"},
     ROW_ADDITION | ROW_LIST},
    {{"module.cpu.enable", nullptr, "CPU time enable/disable {0|1}"}, ROW_ADDITION},
    {{nullptr, nullptr, nullptr}},
};

dynpropertiestruct* dynproperty = nullptr;
dynpropertiestruct** dynproperty_tail = &dynproperty;

[[noreturn]] void out_of_memory() { fatal_error("Can not alloc memory ... fatal error\r\n", nullptr); }

char* copy_text(const char* s, size_t len) {
    char* c = static_cast<char*>(std::malloc(len + 1));
    if (!c) out_of_memory();
    std::memcpy(c, s, len);
    c[len] = '\0';
    return c;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool ends_word(char c) { return c == '\0' || c == ' ' || c == '\t' || c == '#' || c == '\n' || c == '\r'; }
bool ends_line(char c) { return c == '\0' || c == '\n' || c == '\r' || c == '#'; }

// A directory or a device would be read as an endless or failing stream of
// lines; only files and pipes hold a configuration.
FILE* open_config(const char* name) {
    int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode))) {
        ::close(fd);
        return nullptr;
    }
    FILE* f = fdopen(fd, "r");
    if (!f) ::close(fd);
    return f;
}

table_row* find_row(const char* key, size_t keylen) {
    for (table_row* row = properties; row->p.property; ++row)
        if (std::strlen(row->p.property) == keylen && std::memcmp(row->p.property, key, keylen) == 0) return row;
    return nullptr;
}

const char* value_end(const char* value, bool list) {
    const char* p = value;
    if (!list) {
        while (!ends_word(*p)) ++p;
        return p;
    }
    while (!ends_line(*p)) ++p;
    while (is_blank(p[-1])) --p;  // the value's first character is no blank
    return p;
}

void set_row(table_row& row, const char* value, size_t valuelen) {
    char* copy = copy_text(value, valuelen);
    if (row.owned)
        std::free(const_cast<char*>(row.p.value));
    else
        row.builtin = row.p.value;
    row.p.value = copy;
    row.owned = true;
}

void parse_line(const char* line, int lineno, const char* file) {
    const char* p = line;
    while (is_blank(*p)) ++p;
    if (ends_line(*p)) return;  // blank or comment

    const char* key = p;
    while (!ends_word(*p)) ++p;
    size_t keylen = static_cast<size_t>(p - key);
    bool blank_after_key = is_blank(*p);
    while (is_blank(*p)) ++p;
    if (!blank_after_key || ends_line(*p)) {
        std::fprintf(stderr, "Line %d in File %s has a property without a value\r\n", lineno, file);
        return;
    }
    const char* value = p;
    table_row* row = find_row(key, keylen);
    size_t valuelen = static_cast<size_t>(value_end(value, row && (row->flags & ROW_LIST)) - value);
    if (row) {
        set_row(*row, value, valuelen);
    } else if (keylen >= DYN_PREFIX_LEN && std::memcmp(key, DYN_PREFIX, DYN_PREFIX_LEN) == 0) {
        add_dynproperty(copy_text(key, keylen), copy_text(value, valuelen));
    } else {
        std::fprintf(stderr, "Line %d in File %s has an unkown property %.*s.\r\n", lineno, file,
                     static_cast<int>(keylen), key);
    }
}

}  // namespace

void config_init() {
    for (table_row* row = properties; row->p.property; ++row) {
        if (!row->owned) continue;
        std::free(const_cast<char*>(row->p.value));
        row->p.value = row->builtin;
        row->owned = false;
    }
    // The list owns its nodes and texts; emptying it frees them.
    while (dynproperty) {
        dynpropertiestruct* next = dynproperty->next;
        std::free(const_cast<char*>(dynproperty->property.property));
        std::free(const_cast<char*>(dynproperty->property.value));
        std::free(dynproperty);
        dynproperty = next;
    }
    dynproperty_tail = &dynproperty;
}

void add_dynproperty(char* property, char* value) {
    auto* node = static_cast<dynpropertiestruct*>(std::malloc(sizeof(dynpropertiestruct)));
    if (!node) out_of_memory();
    node->next = nullptr;
    node->property = {property, value, nullptr};
    *dynproperty_tail = node;
    dynproperty_tail = &node->next;
}

void config_read(const char* rfilename) {
    if (!rfilename || !*rfilename) rfilename = CONFIG_DEFAULT_FILE;
    if (std::strlen(rfilename) >= NAME_BUFFER) {
        // Cutting the name would read some other file; refuse it instead.
        std::fprintf(stderr, "Configfile name longer than %d characters. Ignored\r\n", NAME_BUFFER - 1);
        return;
    }
    char filename[NAME_BUFFER];
    std::snprintf(filename, sizeof filename, "%s", rfilename);

    std::fprintf(stderr, "Try to read configfile %s\r\n", filename);
    FILE* f = open_config(filename);
    if (!f) {
        std::fputs("Open failed. Using Build-In Defaults\r\n", stderr);
        return;
    }
    char line[LINE_BUFFER];
    int lineno = 0;
    while (std::fgets(line, LINE_MAX_CHARS + 1, f)) {
        if (lineno < INT_MAX) ++lineno;
        parse_line(line, lineno, filename);
    }
    std::fclose(f);
}

const char* config_getproperty(const char* q) {
    if (!q || !*q) return nullptr;
    for (const table_row* row = properties; row->p.property; ++row)
        if (std::strcmp(row->p.property, q) == 0) return row->p.value;
    for (const dynpropertiestruct* d = dynproperty; d; d = d->next)
        if (std::strcmp(d->property.property, q) == 0) return d->property.value;
    return nullptr;
}

void config_printdefaultconfig(FILE* out) {
    for (const table_row* row = properties; row->p.property; ++row)
        if (row->owned || !(row->flags & ROW_ADDITION))
            std::fprintf(out, "%s\t%s\t# %s\r\n", row->p.property, row->p.value, row->p.description);
    for (const dynpropertiestruct* d = dynproperty; d; d = d->next)
        std::fprintf(out, "%s\t%s\t# %s\r\n", d->property.property, d->property.value, "dynamic property");
}

int config_atoi(const char* s) {
    if (!s) return 0;
    while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = (*s++ == '-');
    long long v = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; *s >= '0' && *s <= '9'; ++s) {
        v = v * 10 + (*s - '0');
        if (v > limit) {
            v = limit;
            break;
        }
    }
    return static_cast<int>(negative ? -v : v);
}
