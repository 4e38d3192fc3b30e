// getpagesize and getloadavg over the simulated kernel of either platform.
#include "fake_system.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>

// The sanitizer runtimes call getpagesize as well, ThreadSanitizer before it
// is set up: this stand-in must not be instrumented itself.
__attribute__((no_sanitize("thread"))) int getpagesize() noexcept { return fake_platform.pagesize; }

int getloadavg(double loadavg[], int nelem) noexcept {
    if (fake_platform.loadavg_fails) return -1;
    int n = std::min(nelem, 3);
    for (int k = 0; k < n; ++k) loadavg[k] = fake_platform.load[k];
    return n;
}
