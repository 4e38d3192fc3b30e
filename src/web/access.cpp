#include "web/access.h"

#include <algorithm>
#include <cstring>
#include <netinet/in.h>

#include "config/config.h"
#include "core/fatal.h"

namespace {

struct network {
    int family;               // AF_INET or AF_INET6
    unsigned char bytes[16];  // the address with the bits beyond the prefix clear; IPv4 in the first four
    int length;               // of the prefix, in bits
};

network networks[ACCESS_MAX_NETWORKS];
int network_count = 0;  // 0: no list, every client is served

// The report, on the listener thread only.
unsigned long refused_count = 0;  // since the last line
char refused_last[INET6_ADDRSTRLEN] = "";
timespec quiet_until{};  // no line before this

constexpr size_t ENTRY_MAX = INET6_ADDRSTRLEN + 4;  // the longest address and "/128"
constexpr int MESSAGE_ENTRY_MAX = 200;              // of an entry quoted in a message

bool is_separator(char c) { return c == ' ' || c == '\t' || c == ','; }

void clear_beyond(unsigned char (&a)[16], int length) {
    for (int i = 0; i < 16; ++i) a[i] &= static_cast<unsigned char>(0xFF00u >> std::clamp(length - 8 * i, 0, 8));
}

// One entry into n; null when it is sound, else what is wrong with it.
const char* parse_network(const char* entry, size_t len, network& n) {
    char text[ENTRY_MAX + 1];
    if (len > ENTRY_MAX) return "not an IPv4 or IPv6 address";
    std::memcpy(text, entry, len);
    text[len] = '\0';
    char* slash = std::strchr(text, '/');
    if (slash) *slash = '\0';

    n = {};
    if (inet_pton(AF_INET, text, n.bytes) == 1)
        n.family = AF_INET;
    else if (inet_pton(AF_INET6, text, n.bytes) == 1)
        n.family = AF_INET6;
    else
        return "not an IPv4 or IPv6 address";
    const int bits = n.family == AF_INET ? 32 : 128;
    n.length = bits;
    if (slash) {
        const char* d = slash + 1;
        int length = 0, digits = 0;
        for (; *d >= '0' && *d <= '9' && digits < 3; ++d, ++digits) length = length * 10 + (*d - '0');
        if (digits == 0 || *d || length > bits)
            return bits == 32 ? "the prefix length is not a number from 0 to 32"
                              : "the prefix length is not a number from 0 to 128";
        n.length = length;
    }
    // 10.1.2.3/8 is more likely a mistyped host than a way to write 10/8.
    unsigned char network_part[16];
    std::memcpy(network_part, n.bytes, sizeof network_part);
    clear_beyond(network_part, n.length);
    if (std::memcmp(network_part, n.bytes, sizeof network_part) != 0)
        return "the address has bits set beyond the prefix length";
    return nullptr;
}

// The family and bytes a peer is matched with: an IPv4-mapped IPv6 peer is
// the IPv4 client it stands for.
int peer_address(const sockaddr_storage& peer, unsigned char (&a)[16]) {
    std::memset(a, 0, sizeof a);
    if (peer.ss_family == AF_INET) {
        sockaddr_in v4;
        std::memcpy(&v4, &peer, sizeof v4);
        std::memcpy(a, &v4.sin_addr, 4);
        return AF_INET;
    }
    if (peer.ss_family == AF_INET6) {
        sockaddr_in6 v6;
        std::memcpy(&v6, &peer, sizeof v6);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
            std::memcpy(a, v6.sin6_addr.s6_addr + 12, 4);
            return AF_INET;
        }
        std::memcpy(a, v6.sin6_addr.s6_addr, 16);
        return AF_INET6;
    }
    return AF_UNSPEC;
}

bool before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

}  // namespace

bool access_set_list(const char* list, const char** bad, size_t* bad_len, const char** why) {
    network_count = 0;
    if (!list || !*list) return true;
    int count = 0;
    const char* p = list;
    for (;;) {
        while (is_separator(*p)) ++p;
        if (!*p) break;
        const char* entry = p;
        while (*p && !is_separator(*p)) ++p;
        *bad = entry;
        *bad_len = static_cast<size_t>(p - entry);
        static_assert(ACCESS_MAX_NETWORKS == 256, "the message below names the limit");
        *why = count == ACCESS_MAX_NETWORKS ? "more than 256 networks in the list"
                                            : parse_network(entry, *bad_len, networks[count]);
        if (*why) return false;
        ++count;
    }
    if (count == 0) {
        *bad = list;
        *bad_len = std::strlen(list);
        *why = "no network in the list";
        return false;
    }
    network_count = count;
    return true;
}

void access_init() {
    const char* bad = nullptr;
    size_t bad_len = 0;
    const char* why = nullptr;
    if (access_set_list(config_getproperty("httpd.allow"), &bad, &bad_len, &why)) return;
    char what[MESSAGE_ENTRY_MAX + 64];
    std::snprintf(what, sizeof what, "Invalid httpd.allow entry \"%.*s\"",
                  static_cast<int>(std::min<size_t>(bad_len, MESSAGE_ENTRY_MAX)), bad);
    fatal_error(what, why);
}

void access_reset() {
    network_count = 0;
    refused_count = 0;
    refused_last[0] = '\0';
    quiet_until = {};
}

void access_peer_text(const sockaddr_storage& peer, char (&text)[INET6_ADDRSTRLEN]) {
    unsigned char a[16];
    int family = peer_address(peer, a);
    if (family == AF_UNSPEC || !inet_ntop(family, a, text, sizeof text)) std::snprintf(text, sizeof text, "?");
}

bool access_allows(const sockaddr_storage& peer) {
    if (network_count == 0) return true;
    unsigned char a[16];
    int family = peer_address(peer, a);
    for (int i = 0; i < network_count; ++i) {
        const network& n = networks[i];
        if (n.family != family) continue;
        unsigned char part[16];
        std::memcpy(part, a, sizeof part);
        clear_beyond(part, n.length);
        if (std::memcmp(part, n.bytes, sizeof part) == 0) return true;
    }
    return false;
}

void access_refused(const sockaddr_storage& peer, const timespec& now, FILE* out) {
    ++refused_count;
    access_peer_text(peer, refused_last);
    access_report_pending(now, out);
}

void access_report_pending(const timespec& now, FILE* out) {
    if (refused_count == 0 || before(now, quiet_until)) return;
    std::fprintf(out, "Refused connections from outside httpd.allow: %lu, the last from %s\r\n", refused_count,
                 refused_last);
    std::fflush(out);
    refused_count = 0;
    quiet_until = now;
    quiet_until.tv_sec += ACCESS_REPORT_SECONDS;
}

int access_report_wait_ms(const timespec& now) {
    if (refused_count == 0) return -1;
    if (!before(now, quiet_until)) return 0;
    long long ns = static_cast<long long>(quiet_until.tv_sec - now.tv_sec) * 1000000000LL +
                   (quiet_until.tv_nsec - now.tv_nsec);
    return static_cast<int>((ns + 999999) / 1000000);  // rounded up: a wait that ends early reports nothing
}
