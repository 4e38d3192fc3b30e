// The module URL dispatch: a URL and a parameter through modules_urlhandler
// into a memory stream, over rings that a few hundred ticks of the scriptable
// backend have filled once.
//
// The input is the request path as the server splits it: the URL up to the
// first '?', the parameter after it (none without a '?').
#include <cstring>
#include <string>

#include "core/sampling.h"
#include "fake_backend.h"
#include "fuzz_check.h"
#include "modules/modules.h"
#include "restart.h"
#include "xorshift.h"

namespace {

constexpr int TICKS = 450;  // ring 0 wraps once; rings 1 and 2 hold 45 and 4 records

// Interfaces the pages must cope with: hidden ones (lo by the built-in table,
// wlan0 by the file), names that need escaping, the longest name a record
// holds, and one that exists only for a while.
void fill_rings() {
    const char* names[] = {"lo", "eth0", "wlan0", "a<b>&\"'%c", "abcdefghijklmnopqrstuvwxyz01234", "eth0:1"};
    xorshift rng;
    uint64_t rx[7] = {}, tx[7] = {};
    for (int tick = 0; tick < TICKS; ++tick) {
        fake_backend.netif_count = 0;
        int n = 0;
        for (const char* name : names) {
            rx[n] += rng.next() % 100000;
            tx[n] += rng.next() % 5000000;
            fake_set_netif(n, name, rx[n], tx[n], rng.next() % 3, rng.next() % 2, 0);
            ++n;
        }
        if (tick >= 200 && tick < 350) {  // appears, then vanishes
            rx[n] += rng.next() % 1000;
            fake_set_netif(n, "ppp0", rx[n], tick, 0, 0, 0);
        }
        if (tick == 300) rx[1] = 0;  // a counter that starts again
        fake_backend.load = static_cast<double>(rng.next() % 4000) / 100.0;
        fake_backend.mem = {uint64_t{1} << 34, (rng.next() % (uint64_t{1} << 34))};
        fake_backend.swap = tick < 100 ? stat_swap{0, 0} : stat_swap{uint64_t{1} << 31, rng.next() % (uint64_t{1} << 31)};
        // No CPU figure at first.
        const auto busy = static_cast<uint16_t>(rng.next() % (STAT_CPU_WHOLE + 1));
        fake_backend.cpu = tick < 10 ? stat_cpu{} : stat_cpu{{busy, 0, 0, 0, uint16_t(STAT_CPU_WHOLE - busy)}};
        signal_interval_1(0);
    }
}

void prepare() {
    restart("module.netif.interface.wlan0.enable 0\nmodule.memswap.mem.rescalemax 1\nmodule.cpu.enable 1\n");
    fill_rings();
}

// Large enough for any page or graph; a stream that runs full only drops bytes.
char answer[1 << 20];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (prepare(), true);
    (void)ready;

    const char* text = reinterpret_cast<const char*>(data);
    const size_t length = strnlen(text, size);  // the server's text ends at the first NUL
    std::string path = length > 0 && text[0] == '/' ? std::string() : std::string("/");
    path.append(text, length);
    const size_t q = path.find('?');
    std::string url = path.substr(0, q);
    std::string param = q == std::string::npos ? "" : path.substr(q + 1);

    FILE* out = fmemopen(answer, sizeof answer, "w");
    if (!out) fuzz_fail(__FILE__, __LINE__, "fmemopen");
    const int answered = modules_urlhandler(out, url.c_str(), q == std::string::npos ? nullptr : param.c_str());
    std::fflush(out);
    const long written = std::ftell(out);
    std::fclose(out);

    FUZZ_CHECK(answered == 0 || answered == 1);
    if (!answered) {
        FUZZ_CHECK(written == 0);  // a module that declines writes nothing
        return 0;
    }
    const std::string head(answer, static_cast<size_t>(written) < 4096 ? static_cast<size_t>(written) : 4096);
    FUZZ_CHECK(head.starts_with("Content-type: "));
    const size_t end_of_header = head.find("\r\n\r\n");
    FUZZ_CHECK(end_of_header != std::string::npos);
    if (head.starts_with("Content-type: image/png\r\n\r\n")) {
        static const char PNG_SIGNATURE[] = "\x89PNG\r\n\x1a\n";
        FUZZ_CHECK(head.compare(end_of_header + 4, 8, PNG_SIGNATURE) == 0);
    }
    return 0;
}
