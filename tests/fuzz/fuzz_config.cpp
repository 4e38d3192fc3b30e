// The configuration reader over a file's bytes, through config_read itself
// (read_config writes them to a file).
//
// After each file: every known key still has a value a reader can use (never
// empty, never holding a blank, '#' or a line end), and the printed
// configuration reads back to the same configuration, as -pdc promises.
#include <string>

#include "config/config.h"
#include "fuzz_check.h"
#include "restart.h"

namespace {

constexpr size_t READ_LINE_CHARS = 1989;  // longer lines are read in pieces

const char* const KNOWN_KEYS[] = {
    "Kelp.version", "httpd.host", "httpd.port", "module.load.enable", "module.netif.enable",
    "module.netif.interface.enable", "module.netif.interface.lo0.enable", "module.netif.interface.lo.enable",
    "module.memswap.enable", "module.memswap.swap.rescalemax", "module.memswap.mem.rescalemax",
};

bool usable_value(const char* v) {
    if (!v || !*v) return false;
    for (; *v; ++v)
        if (*v == ' ' || *v == '\t' || *v == '#' || *v == '\r' || *v == '\n') return false;
    return true;
}

bool lines_fit(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        size_t len = (nl == std::string::npos ? text.size() : nl + 1) - start;
        if (len > READ_LINE_CHARS) return false;
        start += len;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    config_init();
    read_config(std::string(reinterpret_cast<const char*>(data), size));

    for (const char* key : KNOWN_KEYS) FUZZ_CHECK(usable_value(config_getproperty(key)));
    FUZZ_CHECK(config_getproperty("") == nullptr);

    const std::string first = capture(config_printdefaultconfig);
    FUZZ_CHECK(first.starts_with("Kelp.version\t"));  // a listing, not a failed capture
    if (!lines_fit(first)) return 0;
    config_init();
    read_config(first);
    FUZZ_CHECK(capture(config_printdefaultconfig) == first);
    return 0;
}
