// The HTTP server: the listening socket, the listener and its 25 connection
// slots, and the two pages of the server's own.
#pragma once

#include <cstdio>

void httpd_init();
