// What every fuzz target shares: the entry point libFuzzer calls, and a check
// that stops the run loudly, so that a broken rule counts as a crash both
// under libFuzzer and in the replay tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Present when a sanitizer runtime is linked in; it writes where the
// sanitizer reports go, which stays open when libFuzzer silences stderr.
extern "C" void __sanitizer_report_error_summary(const char* summary) __attribute__((weak));

[[noreturn]] inline void fuzz_fail(const char* file, int line, const char* what) {
    char message[512];
    std::snprintf(message, sizeof message, "%s:%d: broken: %s", file, line, what);
    if (__sanitizer_report_error_summary)
        __sanitizer_report_error_summary(message);
    else
        std::fprintf(stderr, "%s\n", message);
    std::abort();
}

#define FUZZ_CHECK(cond) \
    do { \
        if (!(cond)) fuzz_fail(__FILE__, __LINE__, #cond); \
    } while (0)
