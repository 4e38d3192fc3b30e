// The /proc/net/dev, /proc/meminfo and /proc/stat parsers over the same
// bytes: each input is offered to all, as the text of a file read whole.
#include <cmath>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "stat/stat_linux.h"

namespace {

constexpr uint64_t UNTOUCHED = 0x5a5a5a5a5a5a5a5aull;

void netdev(const char* text, size_t len) {
    stat_struct s;
    std::memset(&s, 0x5a, sizeof s);
    const int count = stat_linux_parse_netdev(text, len, &s);
    FUZZ_CHECK(count >= -1);
    FUZZ_CHECK(s.netif_count == static_cast<int>(UNTOUCHED & 0xffffffffu));  // not the parser's to set
    if (count < 0) return;

    const int stored = count < MAX_NETIF ? count : MAX_NETIF;
    for (int i = 0; i < stored; ++i) {
        const char* name = s.netif[i].name;
        const size_t len_name = strnlen(name, sizeof s.netif[i].name);
        FUZZ_CHECK(len_name > 0 && len_name < sizeof s.netif[i].name);
        FUZZ_CHECK(name[0] != ' ' && name[0] != '\t' && name[len_name - 1] != ' ' && name[len_name - 1] != '\t');
    }
    for (int i = stored; i < MAX_NETIF; ++i) FUZZ_CHECK(s.netif[i].received_bytes == UNTOUCHED);
}

void meminfo(const char* text, size_t len) {
    stat_swap mem{UNTOUCHED, UNTOUCHED}, swap{UNTOUCHED, UNTOUCHED};
    const int rc = stat_linux_parse_meminfo(text, len, &mem, &swap);
    FUZZ_CHECK(rc == 0 || rc == -1);
    if (rc < 0) {
        FUZZ_CHECK(mem.total == 0 && mem.used == 0 && swap.total == 0 && swap.used == 0);
        return;
    }
    FUZZ_CHECK(mem.used <= mem.total && swap.used <= swap.total);
    FUZZ_CHECK(mem.total % 1024 == 0 && swap.total % 1024 == 0);  // the file counts in kB
}

// The line of all processors decides for both /proc/stat parsers: the one for
// each processor reads nothing the sample's parser refuses.
void proc_stat(const char* text, size_t len) {
    uint64_t total[STAT_CPU_MODES];
    std::memset(total, 0x5a, sizeof total);
    const int rc = stat_linux_parse_stat(text, len, total);
    FUZZ_CHECK(rc == 0 || rc == -1);
    if (rc < 0)
        for (uint64_t t : total) FUZZ_CHECK(t == 0);

    int calls = 0;
    auto each = [](void* context, int cpu, const char* mode, double seconds) {
        ++*static_cast<int*>(context);
        FUZZ_CHECK(cpu >= 0 && mode && mode[0]);
        FUZZ_CHECK(std::isfinite(seconds) && seconds >= 0);
    };
    const bool read = stat_linux_parse_cpus(text, len, 100, each, &calls);
    FUZZ_CHECK(read || calls == 0);
    FUZZ_CHECK(!read || rc == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly the input's bytes, no terminator: the parsers take a length.
    std::vector<char> text(data, data + size);
    netdev(text.data(), text.size());
    meminfo(text.data(), text.size());
    proc_stat(text.data(), text.size());
    return 0;
}
