// A simulated FreeBSD kernel under the real calls of the FreeBSD backend:
// what kvm_read finds in kernel memory (the "ifnet" list head, the interface
// records and, on release 4, the driver names; from release 11 on the list
// getifaddrs returns instead), the rows kvm_getswapinfo
// returns, the page counts and processor times of sysctlbyname, the page
// size and the load.
// A test fills fake_freebsd before the backend runs; every call can be made to
// fail. The interface is plain C++, so tests see none of the platform headers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "../fake_system.h"

struct fake_ifnet {
    std::string name;    // if_xname; on release 4 split into driver and unit unless driver is set
    std::string driver;  // release 4: the driver name kept in kernel memory, of any length
    int unit = 0;        // release 4, with driver
    bool no_link_data = false;  // release 11 and later: its AF_LINK entry has no if_data
    uint64_t ibytes = 0, obytes = 0, collisions = 0, ierrors = 0, oerrors = 0;
};

struct fake_swapdev {
    std::string devname;
    int total = 0;  // pages
    int used = 0;   // pages
};

// A numeric sysctl, answered as an integer of width bytes. FreeBSD 14.2's
// headers declare the three page counts u_int, 4 bytes (<sys/vmmeter.h>: the
// field v_page_count and vm_free_count(); <vm/vm_extern.h>:
// vm_inactive_count()); every simulated release answers with that width.
struct fake_sysctl {
    uint64_t value = 0;
    size_t width = 4;  // 2, 4, 8 or 16
    bool present = true;
};

struct fake_freebsd_kernel : fake_system {
    // kvm_open, and what it was last asked for.
    bool open_fails = false;  // errno EACCES
    int open_calls = 0;
    bool opened_live_kernel = false;  // executable, memory and swap file and error prefix all null
    bool opened_kernel_memory = false;  // any memory file but /dev/null
    int open_flags = -1;

    // The interface list. Unreadable parts fail kvm_read with EFAULT.
    bool nlist_fails = false;  // errno ENOENT
    bool nlist_looks_up_all = false;  // nlist(3) on a kernel file, not a live kernel's libkvm
    bool ifnet_symbol_absent = false;
    bool head_unreadable = false;
    int unreadable_ifnet = -1;         // index of a record that cannot be read
    int unreadable_driver_name = -1;   // release 4: index of an interface whose driver name cannot be read
    int loop_back_to = -1;             // the last record's successor, making the list a cycle
    std::vector<fake_ifnet> interfaces;
    bool getifaddrs_fails = false;  // release 11 and later; errno ENOMEM
    int ifaddrs_lists_held = 0;     // returned by getifaddrs and not yet freed

    bool swapinfo_fails = false;
    std::vector<fake_swapdev> swap;

    fake_sysctl page_count, free_count, inactive_count;  // ENOENT when not present

    // Each processor's statistics clock ticks by state, in <sys/resource.h>'s
    // order CP_USER, CP_NICE, CP_SYS, CP_INTR, CP_IDLE; a row for every
    // processor number up to kern.smp.maxid, one of 0 for a number no
    // processor has. <sys/pcpu.h> keeps them as long pc_cp_time[CPUSTATES]:
    // kern.cp_times answers every row and kern.cp_time their sum, each number
    // a long of long_width bytes (8 on amd64, 4 on i386). kern.smp.maxid is an
    // int (<sys/smp.h>: u_int mp_maxid), kern.clockrate a struct clockinfo of
    // <sys/time.h>: five ints.
    std::vector<std::array<uint64_t, 5>> cpu_ticks;  // after fake_freebsd_reset: one processor, no time
    size_t long_width = 8;
    int hz = 1000, stathz = 127;
    std::string missing;  // a variable that answers ENOENT
};

extern fake_freebsd_kernel fake_freebsd;
// The release reads interfaces with getifaddrs, not from kernel memory; it
// keeps the driver name apart from the unit, in kernel memory.
extern const bool fake_freebsd_reads_ifaddrs, fake_freebsd_driver_names;

// Back to a kernel with nothing in it and nothing failing.
void fake_freebsd_reset();
