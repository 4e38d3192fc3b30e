// What the simulated FreeBSD and Solaris kernels answer alike: the page size
// and the load average, through the C library calls both systems have.
#pragma once

struct fake_system {
    int pagesize = 4096;
    double load[3] = {0.0, 0.0, 0.0};
    bool loadavg_fails = false;
};

// The simulated kernel of the platform the program is built for.
extern fake_system& fake_platform;
