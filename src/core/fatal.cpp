#include "core/fatal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void fatal_error(const char* what, const char* why) {
    if (why)
        std::fprintf(stderr, "%s: %s\n", what, why);
    else
        std::fputs(what, stderr);
    std::exit(1);
}

void fatal_perror(const char* what) { fatal_error(what, std::strerror(errno)); }
