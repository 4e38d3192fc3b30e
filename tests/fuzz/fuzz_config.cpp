// The configuration reader over a file's bytes, through config_read itself.
//
// After each file: every known key still has a value a reader can use (never
// empty, never holding a blank, '#' or a line end), and the printed
// configuration reads back to the same configuration, as -pdc promises.
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "config/config.h"
#include "fuzz_check.h"

namespace {

constexpr size_t READ_LINE_CHARS = 1989;  // longer lines are read in pieces

const char* const KNOWN_KEYS[] = {
    "Kelp.version", "httpd.host", "httpd.port", "module.load.enable", "module.netif.enable",
    "module.netif.interface.enable", "module.netif.interface.lo0.enable", "module.netif.interface.lo.enable",
    "module.memswap.enable", "module.memswap.swap.rescalemax", "module.memswap.mem.rescalemax",
};

struct scratch_file {
    char path[64];
    scratch_file() {
        const char* dir = std::getenv("TMPDIR");
        std::snprintf(path, sizeof path, "%s/kelp-fuzz-XXXXXX", dir && std::strlen(dir) < 40 ? dir : "/tmp");
        int fd = mkstemp(path);
        if (fd < 0) fuzz_fail(__FILE__, __LINE__, "no scratch file");
        close(fd);
    }
    ~scratch_file() { unlink(path); }
};

void write_file(const char* path, const void* data, size_t size) {
    FILE* f = std::fopen(path, "wb");
    if (!f) fuzz_fail(__FILE__, __LINE__, "cannot write the scratch file");
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

std::string printed() {
    char* text = nullptr;
    size_t len = 0;
    FILE* out = open_memstream(&text, &len);
    if (!out) fuzz_fail(__FILE__, __LINE__, "open_memstream");
    config_printdefaultconfig(out);
    std::fclose(out);
    std::string s(text, len);
    std::free(text);
    return s;
}

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
    static scratch_file input, listing;

    write_file(input.path, data, size);
    config_init();
    config_read(input.path);

    for (const char* key : KNOWN_KEYS) FUZZ_CHECK(usable_value(config_getproperty(key)));
    FUZZ_CHECK(config_getproperty("") == nullptr);

    const std::string first = printed();
    if (!lines_fit(first)) return 0;
    write_file(listing.path, first.data(), first.size());
    config_init();
    config_read(listing.path);
    FUZZ_CHECK(printed() == first);
    return 0;
}
