// The HTTP server: the listening socket, the listener and its 25 connection
// slots, and the two pages of the server's own.
#pragma once

#include <atomic>
#include <cstdio>
#include <pthread.h>
#include <sys/socket.h>

constexpr int HTTPD_SLOTS = 25;
constexpr int HTTPD_REQUEST_LIMIT = 1900;  // bytes taken by the one read of a request

enum httpd_slot_status : int { SLOT_FREE = 0, SLOT_IN_USE = 1, SLOT_FINISHED = 2 };

// One connection slot. The listener owns it while status is SLOT_FREE or
// SLOT_FINISHED, the connection thread while it is SLOT_IN_USE; status is the
// only field both of them touch at the same time. The connection's stream is
// not kept here: it belongs to the connection thread, which closes it.
struct threadstruct {
    pthread_t tid;
    sockaddr_storage clientaddr;  // either family
    int client_fd;
    std::atomic<int> status;
    char request[2000];  // NUL-terminated; parsing cuts it up in place
    char* url;           // inside request, always starts with '/'
    char* param;         // inside request after the '?', or null without one
};

enum httpd_parse_result {
    HTTPD_REQUEST_OK,
    HTTPD_NOT_GET,      // empty, or a method other than GET
    HTTPD_MISSING_URL,  // the path does not start with '/'
};

// Splits the NUL-terminated request in place into the URL and the query
// parameter. Touches nothing but the buffer, *url and *param.
httpd_parse_result httpd_parse_request(char* request, char** url, char** param);

// The port an httpd.port value names: the low 16 bits of the number as written,
// digits of any length, read as atoi reads them; 9001 for an absent or empty
// value, a word or a number that is 0.
unsigned short httpd_port_of(const char* value);

// Opens the listening socket; ends the process with status 1 when it cannot.
void httpd_init();
// The listener thread's body; never returns.
void* httpd_thread(void* unused);
// One connection thread's body; c is the slot's threadstruct.
void* httpd_connection(void* c);

void print_index_html(FILE* out);
void print_interval(FILE* out, int interval);
