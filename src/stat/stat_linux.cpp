// Linux statistics backend: getloadavg(3), /proc/net/dev and /proc/meminfo.
//
// Sampling thread only (stat_OS_init runs before it starts): the read buffer
// and the file root are static, so that a sample allocates nothing.
#include "stat/stat_linux.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <iterator>
#include <unistd.h>

#include "core/fatal.h"

namespace {

constexpr const char NETDEV[] = "/proc/net/dev";
constexpr const char MEMINFO[] = "/proc/meminfo";

char root[256] = "";
char file_buffer[64 * 1024];

void full_path(char* out, size_t size, const char* file) { std::snprintf(out, size, "%s%s", root, file); }

// The kernel makes /proc/net/dev and /proc/meminfo anew for every read from
// offset 0, so each is opened once and then read with pread: opening and
// closing them was a third of the cost of a tick.
int netdev_fd = -1;
int meminfo_fd = -1;

void close_kept() {
    for (int* fd : {&netdev_fd, &meminfo_fd}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

int open_file(const char* file) {
    char path[sizeof root + 32];
    full_path(path, sizeof path, file);
    return ::open(path, O_RDONLY | O_CLOEXEC);
}

// Reads a whole (small) kernel file into file_buffer through its kept
// descriptor; -1 when it cannot be opened or read. A file larger than the
// buffer is cut at the buffer's end. A descriptor that fails is dropped, and
// the file opened afresh at the next read.
ssize_t read_file(const char* file, int& fd) {
    if (fd < 0) fd = open_file(file);
    if (fd < 0) return -1;
    size_t len = 0;
    while (len < sizeof file_buffer - 1) {
        ssize_t n = ::pread(fd, file_buffer + len, sizeof file_buffer - 1 - len, static_cast<off_t>(len));
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
