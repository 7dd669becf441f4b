// Live answers of the stand-in: each turns host data into a FreeBSD answer.
//
// A handler fills out with the answer (when measuring, at least with the
// right number of bytes) and returns 0, or returns the errno of the failure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "freebsd.h"

namespace standin {

using mib_handler = int (*)(const int *mib, unsigned n, std::string &out, bool measure);
using name_handler = int (*)(const char *name, std::string &out, bool measure);

int live_kern_proc(const int *mib, unsigned n, std::string &out, bool measure);
int live_argmax(const int *mib, unsigned n, std::string &out, bool measure);

// CPU and memory figures (live_sys.cpp).
int live_boottime(const int *mib, unsigned n, std::string &out, bool measure);
int live_ncpu(const int *mib, unsigned n, std::string &out, bool measure);
int live_vmtotal(const int *mib, unsigned n, std::string &out, bool measure);
int live_cp_time(const char *name, std::string &out, bool measure);
int live_vm_stats(const char *name, std::string &out, bool measure);
int live_cpu_dev(const char *name, std::string &out, bool measure);
int live_topology_spec(const char *name, std::string &out, bool measure);
int live_mem_size(const char *name, std::string &out, bool measure);

// One swap device of the host, sizes in pages, for kvm_getswapinfo.
struct swap_device {
    std::string name;
    std::uint64_t total;
    std::uint64_t used;
};
// False when the host's swap table cannot be read.
bool live_swap_devices(std::vector<swap_device> &out);

// Fills the socket fields of a kinfo_getfile entry (domain, type, protocol,
// local and peer address) for the host socket with this inode
// (live_sock.cpp). Leaves them zero when the host lists no such socket.
void socket_file_fields(std::uint64_t inode, bsd::kinfo_file &kf);

// A host path under the root that standin_host_root sets (live_sys.cpp).
std::string host_root_path(const char *path);
// The host CPU behind each FreeBSD CPU number; -1 where the host has none.
std::vector<int> host_cpu_map();

// Disks and sensors (devstat.cpp, live_sensors.cpp).
int live_acpi(const char *name, std::string &out, bool measure);
int live_cpu_temperature(const char *name, std::string &out, bool measure);

}  // namespace standin
