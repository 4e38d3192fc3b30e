// Linux statistics backend: getloadavg(3), /proc/net/dev, /proc/meminfo and
// /proc/stat.
//
// Sampling thread only (stat_OS_init runs before it starts): the read buffer
// and the file root are static, so that a sample allocates nothing. The one
// exception is stat_get_cpu_seconds, which runs on connection threads: it
// opens and reads /proc/stat with a descriptor and a buffer of its own.
#include "stat/stat_linux.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <mutex>
#include <unistd.h>

#include "core/fatal.h"

namespace {

constexpr const char NETDEV[] = "/proc/net/dev";
constexpr const char MEMINFO[] = "/proc/meminfo";
constexpr const char STAT[] = "/proc/stat";

// The kernel writes all of /proc/stat for every read, but a sample needs only
// its first line, "cpu" and at most ten numbers; the rest grows with the
// processors and interrupts of the machine and is left in the kernel.
constexpr size_t FIRST_LINE_MOST = 4096;

char root[256] = "";
char file_buffer[64 * 1024];

void full_path(char* out, size_t size, const char* file) { std::snprintf(out, size, "%s%s", root, file); }

// The kernel makes /proc/net/dev, /proc/meminfo and /proc/stat anew for every
// read from offset 0, so each is opened once and then read with pread: opening
// and closing them was a third of the cost of a tick.
int netdev_fd = -1;
int meminfo_fd = -1;
int stat_fd = -1;

// /proc/stat for the scrapes of the connection threads, kept open as well:
// every open of it makes the kernel allocate a buffer the size of the whole
// file, whose freeing at the close flushes every processor's TLB. One scrape
// reads it at a time, so that none is stitched from two makings of the file.
std::mutex scrape_lock;
int scrape_fd = -1;  // under scrape_lock

void close_kept() {
    for (int* fd : {&netdev_fd, &meminfo_fd, &stat_fd}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    const std::lock_guard<std::mutex> hold(scrape_lock);
    if (scrape_fd >= 0) ::close(scrape_fd);
    scrape_fd = -1;
}

int open_file(const char* file) {
    char path[sizeof root + 32];
    full_path(path, sizeof path, file);
    return ::open(path, O_RDONLY | O_CLOEXEC);
}

// Reads a whole (small) kernel file into file_buffer through its kept
// descriptor, or only its first line (up to FIRST_LINE_MOST bytes, and what
// came with it); -1 when it cannot be opened or read. A file larger than the
// buffer is cut at the buffer's end. A descriptor that fails is dropped, and
// the file opened afresh at the next read.
ssize_t read_file(const char* file, int& fd, bool first_line = false) {
    if (fd < 0) fd = open_file(file);
    if (fd < 0) return -1;
    const size_t most = first_line ? FIRST_LINE_MOST : sizeof file_buffer - 1;
    size_t len = 0;
    while (len < most) {
        ssize_t n = ::pread(fd, file_buffer + len, most - len, static_cast<off_t>(len));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int saved = errno;
            ::close(fd);
            fd = -1;
            errno = saved;
            return -1;
        }
        if (n == 0) break;
        len += static_cast<size_t>(n);
        if (first_line && std::memchr(file_buffer, '\n', len)) break;
    }
    file_buffer[len] = '\0';
    return static_cast<ssize_t>(len);
}

bool is_space(char c) { return c == ' ' || c == '\t'; }

// An unsigned decimal number at *p, up to 2^64 - 1; false on anything else.
bool read_u64(const char*& p, const char* end, uint64_t* v) {
    while (p < end && is_space(*p)) ++p;
    if (p == end || *p < '0' || *p > '9') return false;
    uint64_t n = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        auto d = static_cast<uint64_t>(*p - '0');
        if (n > (UINT64_MAX - d) / 10) return false;
        n = n * 10 + d;
    }
    *v = n;
    return p == end || is_space(*p);
}

// The columns of /proc/net/dev that hold the five counters, in the order of
// STAT_NETIF_COUNTERS: receive bytes, transmit bytes, colls, receive errs,
// transmit errs.
constexpr size_t COUNTER_COLUMNS[] = {0, 8, 13, 2, 10};

// One interface line: "name: 16 counters". The name is split off at the
// line's last colon, since an alias name may hold a colon itself.
bool parse_netdev_line(const char* line, const char* end, stat_netif* slot) {
    const char* colon = nullptr;
    for (const char* p = line; p < end; ++p)
        if (*p == ':') colon = p;
    if (!colon) return false;
    const char* name = line;
    const char* name_end = colon;
    while (name < name_end && is_space(*name)) ++name;
    while (name_end > name && is_space(name_end[-1])) --name_end;
    auto name_len = static_cast<size_t>(name_end - name);
    if (name_len == 0 || name_len >= sizeof slot->name) return false;
    // A NUL would cut the stored name short, or leave it empty: an unused slot.
    if (std::memchr(name, '\0', name_len)) return false;

    uint64_t f[16];
    const char* p = colon + 1;
    for (uint64_t& v : f)
        if (!read_u64(p, end, &v)) return false;
    while (p < end && (is_space(*p) || *p == '\r')) ++p;
    if (p != end) return false;

    if (slot) {
        std::memcpy(slot->name, name, name_len);
        slot->name[name_len] = '\0';
        for (size_t k = 0; k < std::size(COUNTER_COLUMNS); ++k) slot->*STAT_NETIF_COUNTERS[k] = f[COUNTER_COLUMNS[k]];
    }
    return true;
}

// The fields of a line of /proc/stat's processors, in the kernel's order. Older
// kernels write fewer: 2.4 the first four, 2.6.0 to 2.6.10 no steal. Later
// ones add guest and guest_nice, which are inside user and nice already.
constexpr const char* CPU_FIELDS[] = {"user", "nice", "system", "idle", "iowait", "irq", "softirq", "steal"};
constexpr stat_cpu_mode CPU_FIELD_MODES[] = {STAT_CPU_USER,   STAT_CPU_NICE,      STAT_CPU_SYSTEM,    STAT_CPU_IDLE,
                                             STAT_CPU_IOWAIT, STAT_CPU_INTERRUPT, STAT_CPU_INTERRUPT, STAT_CPU_STEAL};
constexpr int CPU_FIELD_COUNT = static_cast<int>(std::size(CPU_FIELDS));
constexpr int CPU_FIELDS_OLDEST = 4;
static_assert(std::size(CPU_FIELD_MODES) == std::size(CPU_FIELDS));

struct cpu_line {
    int cpu;  // -1 on the line of all processors
    int fields;  // of CPU_FIELDS, the rest 0
    uint64_t field[CPU_FIELD_COUNT];
};

// A line "cpu" or "cpuN" with at least four numbers; false on anything else.
bool parse_cpu_line(const char* p, const char* end, cpu_line* out) {
    if (end - p < 3 || std::memcmp(p, "cpu", 3) != 0) return false;
    p += 3;
    out->cpu = -1;
    if (p < end && *p >= '0' && *p <= '9') {
        uint64_t n;
        if (!read_u64(p, end, &n) || n > INT32_MAX) return false;
        out->cpu = static_cast<int>(n);
    }
    if (p == end || !is_space(*p)) return false;
    out->fields = 0;
    for (uint64_t& f : out->field) f = 0;
    for (;;) {
        while (p < end && is_space(*p)) ++p;
        if (p == end) break;
        uint64_t v;
        if (!read_u64(p, end, &v)) return false;
        if (out->fields < CPU_FIELD_COUNT) out->field[out->fields] = v;
        ++out->fields;
    }
    if (out->fields < CPU_FIELDS_OLDEST) return false;
    if (out->fields > CPU_FIELD_COUNT) out->fields = CPU_FIELD_COUNT;
    return true;
}

// An empty text may come without a buffer, which memchr must not be given.
const char* line_end(const char* p, const char* end) {
    if (p == end) return end;
    const char* eol = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    return eol ? eol : end;
}

bool is_cpu_line(const char* p, const char* end) { return end - p >= 3 && std::memcmp(p, "cpu", 3) == 0; }

struct free_deleter {
    void operator()(char* p) const { std::free(p); }
};
using malloc_text = std::unique_ptr<char, free_deleter>;

// The processors' lines at the start of /proc/stat, read into text through
// the scrapes' descriptor; their length, or -1. The reading ends at the first
// complete line that is no processor's, so that the interrupt counts after
// them stay in the kernel. A descriptor that fails is dropped and opened
// afresh by the next scrape.
ssize_t read_cpu_lines(malloc_text& text) {
    constexpr size_t FIRST = 16 * 1024, MOST = size_t{16} << 20;
    const std::lock_guard<std::mutex> hold(scrape_lock);
    if (scrape_fd < 0) scrape_fd = open_file(STAT);
    if (scrape_fd < 0) return -1;
    size_t size = 0, len = 0, checked = 0;
    for (;;) {
        if (len == size) {
            size = size ? size * 2 : FIRST;
            if (size > MOST) return -1;
            char* grown = static_cast<char*>(std::realloc(text.get(), size));
            if (!grown) return -1;
            static_cast<void>(text.release());
            text.reset(grown);
        }
        ssize_t n = ::pread(scrape_fd, text.get() + len, size - len, static_cast<off_t>(len));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(scrape_fd);
            scrape_fd = -1;
            return -1;
        }
        if (n == 0) return static_cast<ssize_t>(len);
        len += static_cast<size_t>(n);
        const char* start = text.get();
        while (const char* eol = static_cast<const char*>(std::memchr(start + checked, '\n', len - checked))) {
            if (!is_cpu_line(start + checked, eol)) return static_cast<ssize_t>(checked);
            checked = static_cast<size_t>(eol - start) + 1;
        }
    }
}

}  // namespace

// Descriptors opened under the old root go with it.
void stat_linux_set_root(const char* r) {
    close_kept();
    std::snprintf(root, sizeof root, "%s", r ? r : "");
}

int stat_linux_parse_netdev(const char* text, size_t len, stat_struct* target) {
    const char* p = text;
    const char* end = text + len;
    int lineno = 0;
    int count = 0;
    stat_netif spare;
    while (p < end) {
        const char* eol = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        const char* line_end = eol ? eol : end;
        ++lineno;
        if (lineno > 2 && line_end > p) {  // two header lines
            stat_netif* slot = count < MAX_NETIF ? &target->netif[count] : &spare;
            if (!parse_netdev_line(p, line_end, slot)) return -1;
            ++count;
        } else if (lineno <= 2 && std::memchr(p, '|', static_cast<size_t>(line_end - p)) == nullptr) {
            return -1;
        }
        p = eol ? eol + 1 : end;
    }
    if (lineno < 2) return -1;
    return count;
}

int stat_linux_parse_meminfo(const char* text, size_t len, stat_swap* mem, stat_swap* swap) {
    struct field {
        const char* key;
        uint64_t value;
        bool seen;
    } fields[] = {{"MemTotal", 0, false}, {"MemFree", 0, false},   {"MemAvailable", 0, false},
                  {"Inactive", 0, false}, {"SwapTotal", 0, false}, {"SwapFree", 0, false}};
    *mem = {0, 0};
    *swap = {0, 0};

    const char* p = text;
    const char* end = text + len;
    while (p < end) {
        const char* eol = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        const char* line_end = eol ? eol : end;
        const char* colon = static_cast<const char*>(std::memchr(p, ':', static_cast<size_t>(line_end - p)));
        if (colon) {
            auto key_len = static_cast<size_t>(colon - p);
            for (field& f : fields) {
                if (f.seen || std::strlen(f.key) != key_len || std::memcmp(f.key, p, key_len) != 0) continue;
                const char* q = colon + 1;
                uint64_t kb;
                // Values are in kB; a figure beyond 2^54 kB would not fit in bytes.
                if (!read_u64(q, line_end, &kb) || kb > (UINT64_MAX >> 10)) return -1;
                f.value = kb << 10;
                f.seen = true;
            }
        }
        p = eol ? eol + 1 : end;
    }
    auto [mem_total, mem_free, mem_available, inactive, swap_total, swap_free] = fields;
    if (!mem_total.seen || !swap_total.seen || !swap_free.seen) return -1;
    uint64_t available;
    if (mem_available.seen) {
        available = mem_available.value;
    } else {
        // Kernels before 3.14 have no MemAvailable: count inactive pages as free.
        if (!mem_free.seen || !inactive.seen) return -1;
        // Saturates like the figures it adds: a bogus file must not wrap to little.
        available = inactive.value > UINT64_MAX - mem_free.value ? UINT64_MAX : mem_free.value + inactive.value;
    }
    auto minus = [](uint64_t a, uint64_t b) { return a > b ? a - b : 0; };
    *mem = {mem_total.value, minus(mem_total.value, available)};
    *swap = {swap_total.value, minus(swap_total.value, swap_free.value)};
    return 0;
}

int stat_linux_parse_stat(const char* text, size_t len, uint64_t (&total)[STAT_CPU_MODES]) {
    for (uint64_t& t : total) t = 0;
    const char* end = text + len;
    cpu_line all;
    if (!parse_cpu_line(text, line_end(text, end), &all) || all.cpu != -1) return -1;
    for (int k = 0; k < CPU_FIELD_COUNT; ++k) {
        uint64_t& t = total[CPU_FIELD_MODES[k]];
        if (all.field[k] > UINT64_MAX - t) {
            for (uint64_t& each : total) each = 0;
            return -1;
        }
        t += all.field[k];
    }
    return 0;
}

bool stat_linux_parse_cpus(const char* text, size_t len, long ticks_per_second, stat_cpu_seconds_fn each,
                           void* context) {
    const char* end = text + len;
    const char* eol = line_end(text, end);
    // The line of all processors is checked as a sample checks it.
    uint64_t total[STAT_CPU_MODES];
    if (ticks_per_second <= 0 || stat_linux_parse_stat(text, len, total) != 0) return false;
    cpu_line line;
    const char* first = eol == end ? end : eol + 1;
    // All lines are checked before the first is reported.
    for (int pass = 0; pass < 2; ++pass) {
        for (const char* p = first; p < end; p = eol == end ? end : eol + 1) {
            eol = line_end(p, end);
            if (!is_cpu_line(p, eol)) break;
            if (!parse_cpu_line(p, eol, &line) || line.cpu < 0) return false;
            for (int k = 0; pass == 1 && k < line.fields; ++k)
                each(context, line.cpu, CPU_FIELDS[k],
                     static_cast<double>(line.field[k]) / static_cast<double>(ticks_per_second));
        }
    }
    return true;
}

void stat_OS_init() {
    const struct {
        const char* file;
        int* fd;
    } files[] = {{NETDEV, &netdev_fd}, {MEMINFO, &meminfo_fd}};
    close_kept();
    for (const auto& f : files) {
        *f.fd = open_file(f.file);
        if (*f.fd < 0) {
            char message[64];
            std::snprintf(message, sizeof message, "Could not open %s", f.file);
            fatal_perror(message);
        }
    }
}

void stat_get_load(stat_struct* target) {
    double loads[3];
    if (getloadavg(loads, 3) >= 1) target->load = loads[0];
}

void stat_get_netif(stat_struct* target) {
    ssize_t len = read_file(NETDEV, netdev_fd);
    if (len < 0) {
        std::perror("Could not read /proc/net/dev");
        stat_empty_netif(target, MAX_NETIF);
        return;
    }
    int count = stat_linux_parse_netdev(file_buffer, static_cast<size_t>(len), target);
    if (count < 0) {
        // Half-parsed raw counters must never reach the rings as increases.
        std::fputs("Could not parse /proc/net/dev\r\n", stderr);
        stat_empty_netif(target, MAX_NETIF);
        return;
    }
    for (int surplus = MAX_NETIF; surplus < count; ++surplus) std::perror("Not enouth MAX_NETIF. Increase Value");
    target->netif_count = count < MAX_NETIF ? count : MAX_NETIF;
    stat_netif_diff(target);
}

void stat_get_swap(stat_struct* target) {
    ssize_t len = read_file(MEMINFO, meminfo_fd);
    if (len < 0) {
        std::perror("Could not read /proc/meminfo");
        target->mem = {0, 0};
        target->swap = {0, 0};
        return;
    }
    if (stat_linux_parse_meminfo(file_buffer, static_cast<size_t>(len), &target->mem, &target->swap) != 0)
        std::fputs("Could not parse /proc/meminfo\r\n", stderr);
}

void stat_get_cpu(stat_struct* target) {
    target->cpu = stat_cpu{};
    ssize_t len = read_file(STAT, stat_fd, true);
    if (len < 0) {
        std::perror("Could not read /proc/stat");
        return;
    }
    uint64_t total[STAT_CPU_MODES];
    if (stat_linux_parse_stat(file_buffer, static_cast<size_t>(len), total) != 0) {
        std::fputs("Could not parse /proc/stat\r\n", stderr);
        return;
    }
    stat_cpu_diff(total, target);
}

bool stat_get_cpu_seconds(stat_cpu_seconds_fn each, void* context) {
    malloc_text text;
    const ssize_t len = read_cpu_lines(text);
    return len >= 0 && stat_linux_parse_cpus(text.get(), static_cast<size_t>(len), sysconf(_SC_CLK_TCK), each, context);
}
