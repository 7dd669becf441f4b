// Live answers of the stand-in: each turns host data into a FreeBSD answer.
//
// A handler fills out with the answer (when measuring, at least with the
// right number of bytes) and returns 0, or returns the errno of the failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "standin/freebsd.h"

namespace standin {

using mib_handler = int (*)(const int *mib, unsigned n, std::string &out, bool measure);
using name_handler = int (*)(const char *name, std::string &out, bool measure);

// The bytes the caller's buffer holds for the answer being built (SIZE_MAX
// when measuring): a table may stop building once it holds more than that.
std::size_t answer_room();
// A measure may report its size here instead of building that many bytes.
void answer_measured(std::size_t size);
// The caller's buffer of answer_room() bytes for a read (null otherwise). A
// handler that fills it itself reports the bytes written, and whether more
// of the answer did not fit (the read then fails with ENOMEM).
char *answer_buffer();
void answer_written(std::size_t len, bool more);

int live_kern_proc(const int *mib, unsigned n, std::string &out, bool measure);
int live_argmax(const int *mib, unsigned n, std::string &out, bool measure);

// kern.proc's executable path, arguments and resource limits
// (live_proc_path.cpp). A write handler takes the new value and returns 0
// or the errno; only the resource limits take one.
int live_proc_path(const int *mib, unsigned n, std::string &out, bool measure);
int live_mib_write(const int *mib, unsigned n, const void *value, std::size_t len);

// CPU and memory figures (live_sys.cpp).
int live_boottime(const int *mib, unsigned n, std::string &out, bool measure);
int live_ncpu(const int *mib, unsigned n, std::string &out, bool measure);
int live_vmtotal(const int *mib, unsigned n, std::string &out, bool measure);
int live_cp_time(const char *name, std::string &out, bool measure);
int live_vm_stats(const char *name, std::string &out, bool measure);
int live_cpu_dev(const char *name, std::string &out, bool measure);
int live_topology_spec(const char *name, std::string &out, bool measure);
int live_mem_size(const char *name, std::string &out, bool measure);

// The interface list of the routing sysctl (if_route.cpp).
int live_net_route(const int *mib, unsigned n, std::string &out, bool measure);

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
// The FreeBSD name of a host block device, as the device statistics key it:
// a disk by driver and unit (vda as vd0), a partition by its disk's name, p
// and its number (vda1 as vd0p1); empty for a name that is no block device.
std::string freebsd_disk_name(std::string_view name);
int live_acpi(const char *name, std::string &out, bool measure);
int live_cpu_temperature(const char *name, std::string &out, bool measure);

}  // namespace standin
