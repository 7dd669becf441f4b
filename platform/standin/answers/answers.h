// Live answers of the stand-in's kernel parameters: each turns host data
// into a FreeBSD answer.
//
// A handler builds its answer in the answer object it is handed and returns
// 0, or returns the errno of the failure. calls/libc_sysctl.cpp routes each
// name to its handler and delivers the answer with FreeBSD's semantics.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "standin/freebsd.h"

namespace standin {

// One answer being built, for one call.
struct answer {
    // The answer's bytes; when measuring, at least the right number of them.
    std::string out;
    // Only the size is asked for.
    bool measure = false;
    // The bytes the caller's buffer holds (SIZE_MAX when measuring): a table
    // may stop building once it holds more than that.
    std::size_t room = SIZE_MAX;
    // The caller's buffer of room bytes for a read (null otherwise). A table
    // that fills it itself calls wrote; the large table is then never copied,
    // nor held twice.
    char *buffer = nullptr;
    // A measure may report its size instead of building that many bytes.
    std::size_t measured = SIZE_MAX;
    std::size_t written = SIZE_MAX;
    bool overflowed = false;

    void measured_as(std::size_t size) { measured = size; }
    // The bytes written into buffer, and whether more of the answer did not
    // fit (the read then fails with ENOMEM).
    void wrote(std::size_t len, bool more) {
        written = len;
        overflowed = more;
    }
};

using mib_handler = int (*)(const int *mib, unsigned n, answer &a);
using name_handler = int (*)(const char *name, answer &a);

// Process records (answers/proc.cpp).
int live_kern_proc(const int *mib, unsigned n, answer &a);
int live_argmax(const int *mib, unsigned n, answer &a);

// kern.proc's executable path, arguments and resource limits
// (answers/proc_args.cpp). Only the resource limits take a new value: the
// write handler returns 0 or the errno.
int live_proc_pathname(const int *mib, unsigned n, answer &a);
int live_proc_args(const int *mib, unsigned n, answer &a);
int live_proc_rlimit(const int *mib, unsigned n, answer &a);
int live_rlimit_write(const int *mib, unsigned n, const void *value, std::size_t len);

// CPU and memory figures (answers/cpu.cpp, answers/cpu_topology.cpp).
int live_boottime(const int *mib, unsigned n, answer &a);
int live_ncpu(const int *mib, unsigned n, answer &a);
int live_vmtotal(const int *mib, unsigned n, answer &a);
int live_cp_time(const char *name, answer &a);
int live_vm_stats(const char *name, answer &a);
int live_cpu_dev(const char *name, answer &a);
int live_topology_spec(const char *name, answer &a);
int live_mem_size(const char *name, answer &a);

// The interface list of the routing sysctl (answers/if_list.cpp).
int live_net_route(const int *mib, unsigned n, answer &a);

// The open-file table and the PCB lists (answers/pcb.cpp).
int live_kern_file(const char *name, answer &a);
int live_pcblist(const char *name, answer &a);

// One swap device of the host, sizes in pages, for kvm_getswapinfo.
struct swap_device {
    std::string name;
    std::uint64_t total;
    std::uint64_t used;
};
// False when the host's swap table cannot be read.
bool live_swap_devices(std::vector<swap_device> &out);

// Disks (calls/libdevstat.cpp).
// The FreeBSD name of a host block device, as the device statistics key it:
// a disk by driver and unit (vda as vd0), a partition by its disk's name, p
// and its number (vda1 as vd0p1); empty for a name that is no block device.
std::string freebsd_disk_name(std::string_view name);

// Sensors (answers/sensors.cpp).
int live_acpi(const char *name, answer &a);
int live_cpu_temperature(const char *name, answer &a);

}  // namespace standin
