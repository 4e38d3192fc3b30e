#include "graph/bytetext.h"

#include <cstdio>

namespace {

constexpr uint64_t BYTETEXT_BOUND = 99998;

}  // namespace

void bytetext_format(char* dst, size_t size, uint64_t v) {
    if (!dst || size == 0) return;
    const char* unit = " B";
    if (v > BYTETEXT_BOUND) {
        if ((v >> 10) <= BYTETEXT_BOUND) {
            v >>= 10;
            unit = "kB";
        } else if ((v >> 20) <= BYTETEXT_BOUND) {
            v >>= 20;
            unit = "MB";
        } else {
            v >>= 30;
            unit = "GB";
        }
    }
    std::snprintf(dst, size, "%5llu%s", static_cast<unsigned long long>(v), unit);
}
