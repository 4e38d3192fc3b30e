// Who a client is: its address as the access log shows it, whether
// httpd.allow lets it in, and the report of the clients it keeps out.
//
// The list is set on the main thread before the listener starts and only read
// afterwards. The report belongs to the listener thread. access_peer_text
// touches nothing shared; any thread may call it.
#pragma once

#include <arpa/inet.h>
#include <cstdio>
#include <ctime>
#include <sys/socket.h>

constexpr int ACCESS_MAX_NETWORKS = 256;
constexpr int ACCESS_REPORT_SECONDS = 10;  // at most one report line per this time

// The value of httpd.allow: networks as address/length (a bare address stands
// for itself alone), separated by blanks or commas. Ends the process with
// status 1, naming the entry, when one is malformed.
void access_init();
// Sets the list from its text; null or empty means no list, and so every
// client. On a malformed entry returns false and leaves *bad pointing at the
// entry (its length in *bad_len) and *why saying what is wrong; the list is
// then empty.
bool access_set_list(const char* list, const char** bad, size_t* bad_len, const char** why);
// No list and nothing to report, as at start-up.
void access_reset();

// IPv4 peers, also those an IPv6 socket shows as IPv4-mapped, in dotted form;
// IPv6 peers in the usual text form.
void access_peer_text(const sockaddr_storage& peer, char (&text)[INET6_ADDRSTRLEN]);
// Whether the list lets peer in; an IPv4-mapped peer is matched against the
// IPv4 networks. Every peer is let in while there is no list.
bool access_allows(const sockaddr_storage& peer);

// Counts a refused peer and reports on out when the time has come: the first
// refusal at once, then no more than one line per ACCESS_REPORT_SECONDS,
// naming the last peer and how many were refused since the previous line.
// now is read from a monotonic clock.
void access_refused(const sockaddr_storage& peer, const timespec& now, FILE* out);
// Reports refusals held back so far if their time has come.
void access_report_pending(const timespec& now, FILE* out);
// Milliseconds until held-back refusals are to be reported, -1 with none.
int access_report_wait_ms(const timespec& now);
