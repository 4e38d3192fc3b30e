// What /proc tells about a process: memory figures and open descriptors.
#pragma once

#include <sys/types.h>

namespace proc_probe {

// A "Name:   123 kB" field of /proc/<pid>/status (RssAnon, VmRSS, ...), in
// kB; -1 when the file or the field is missing.
long status_kb(pid_t pid, const char* field);

// The number of entries in /proc/<pid>/fd; -1 when it cannot be read.
int open_fds(pid_t pid);

}  // namespace proc_probe
