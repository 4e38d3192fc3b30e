#include <gtest/gtest.h>

#include <cstdint>

#include "graph/bytetext.h"

namespace {

TEST(ByteText, UnitChangesPastTheBound) {
    struct row {
        const char* desc;
        uint64_t v;
        const char* text;
    } rows[] = {
        {"zero", 0, "    0 B"},
        {"bound stays in bytes", 99998, "99998 B"},
        {"one past the bound is kB, truncated", 99999, "   97kB"},
        {"largest kB", 99998ull * 1024 + 1023, "99998kB"},
        {"first MB", 99999ull * 1024, "   97MB"},
        {"2^30", 1ull << 30, " 1024MB"},
        {"largest MB", 99998ull * 1024 * 1024 + (1ull << 20) - 1, "99998MB"},
        {"100 * 2^30", 100ull << 30, "  100GB"},
        {"largest count, wider than five places", UINT64_MAX, "17179869183GB"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.desc);
        char text[BYTETEXT_SIZE];
        bytetext_format(text, sizeof text, r.v);
        EXPECT_STREQ(text, r.text);
    }
}

TEST(ByteText, SmallBufferIsCutAndTerminated) {
    char text[5] = {'x', 'x', 'x', 'x', 'x'};
    bytetext_format(text, sizeof text, 12345);
    EXPECT_STREQ(text, "1234");
    bytetext_format(text, 0, 1);
    EXPECT_STREQ(text, "1234") << "size 0 writes nothing";
}

}  // namespace
