#include "proc_probe.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>

namespace proc_probe {

long status_kb(pid_t pid, const char* field) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    FILE* f = std::fopen(path, "r");
    if (!f) return -1;
    char line[256];
    size_t n = std::strlen(field);
    long kb = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
            kb = std::strtol(line + n + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return kb;
}

int open_fds(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/fd", static_cast<int>(pid));
    DIR* d = opendir(path);
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n;  // counting in-process includes the descriptor of d itself
}

}  // namespace proc_probe
