// Memory figures of the host, in FreeBSD's terms: page counts of
// vm.stats.vm and vm.vmtotal, the physical memory and buffer sizes, and the
// swap table. See docs/standin-system.md for each mapping.
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/answers/answers.h"
#include "standin/answers/cpus.h"
#include "standin/answers/figures.h"

namespace standin {
namespace {

struct meminfo {
    bool ok = false;
    std::string text;
    // A "Key:   N kB" line in bytes; 0 when absent.
    unsigned long long bytes(std::string_view key) const {
        return to_ull(field(text, key)) * 1024;
    }
};

// The live host's sysinfo(2), errno left alone; false under a made-up root,
// which has only its files.
bool live_sysinfo(struct sysinfo &si) {
    if (!live_root())
        return false;
    int saved = errno;
    bool ok = ::sysinfo(&si) == 0;
    errno = saved;
    return ok;
}

// MemTotal, MemFree and Buffers of /proc/meminfo are the figures sysinfo(2)
// reports too, without the host writing out the whole text; false for other
// keys and under a made-up root, which has only its files.
bool meminfo_quick(std::string_view key, unsigned long long &bytes) {
    bool total = key == "MemTotal", free = key == "MemFree", buffers = key == "Buffers";
    struct sysinfo si;
    if (!(total || free || buffers) || !live_sysinfo(si))
        return false;
    unsigned long long unit = si.mem_unit ? si.mem_unit : 1;
    bytes = (total ? si.totalram : free ? si.freeram : si.bufferram) * unit;
    return true;
}

meminfo read_meminfo() {
    meminfo m;
    m.ok = read_host("/proc/meminfo", m.text);
    return m;
}

unsigned long long vmstat_value(const std::string &text, std::string_view key) {
    return to_ull(field(text, key));
}

// Everything not free and not on a pageable queue: kernel memory, page
// tables, locked and unevictable pages. FreeBSD calls all of these wired.
unsigned long long wired_bytes(const meminfo &m) {
    unsigned long long total = m.bytes("MemTotal");
    unsigned long long rest = m.bytes("MemFree") + m.bytes("Active") + m.bytes("Inactive");
    return rest < total ? total - rest : 0;
}

// The live host's vmtotal from sysinfo(2): its one consumer reads the shared
// counts, and sysinfo's shared memory is Shmem of /proc/meminfo, given
// without the host writing out that whole text. Free memory comes along;
// the other fields are 0. False under a made-up root, which has only files.
bool vmtotal_quick(bsd::vmtotal &vt) {
    struct sysinfo si;
    if (!live_sysinfo(si))
        return false;
    unsigned long long unit = si.mem_unit ? si.mem_unit : 1;
    unsigned long long ps = static_cast<unsigned long long>(host_pagesize());
    std::memset(&vt, 0, sizeof(vt));
    vt.t_rmshr = si.sharedram * unit / ps;
    vt.t_free = si.freeram * unit / ps;
    return true;
}

}  // namespace

int live_vmtotal(const int *, unsigned n, answer &a) {
    if (n != 2)
        return ENOENT;
    bsd::vmtotal vt;
    if (vmtotal_quick(vt)) {
        append_record(a.out, vt);
        return 0;
    }
    meminfo m = read_meminfo();
    if (!m.ok)
        return EIO;
    std::string stat;
    read_host("/proc/stat", stat);  // without it the queues read as empty
    unsigned long long ps = static_cast<unsigned long long>(host_pagesize());
    auto pages = [&](std::string_view key) { return m.bytes(key) / ps; };
    auto threads = [](long long v) {
        return static_cast<std::int16_t>(v < 0 ? 0 : v > 32767 ? 32767 : v);
    };
    std::memset(&vt, 0, sizeof(vt));
    vt.t_vm = pages("Committed_AS");
    vt.t_avm = vt.t_vm;
    vt.t_rm = pages("Active") + pages("Inactive");
    vt.t_arm = pages("Active");
    // The host does not split shared memory into virtual and resident: all
    // of it counts as resident, none as virtual only.
    vt.t_vmshr = 0;
    vt.t_rmshr = pages("Shmem");
    vt.t_free = pages("MemFree");
    vt.t_rq = threads(to_ll(field(stat, "procs_running")));
    vt.t_dw = threads(to_ll(field(stat, "procs_blocked")));
    append_record(a.out, vt);
    return 0;
}

int live_vm_stats(const char *name, answer &a) {
    std::string_view n(name);
    if (n.substr(0, 13) == "vm.stats.sys.") {
        std::string_view leaf = n.substr(13);
        if (leaf == "v_syscall") {
            append_u32(a.out, 0);  // not counted by this host
            return 0;
        }
        std::string text;
        if (leaf == "v_trap") {
            // Page faults, the traps the host does count.
            if (!read_to_keys(host_file("/proc/vmstat").c_str(), text, {"pgfault"}))
                return EIO;
            append_u32(a.out, vmstat_value(text, "pgfault"));
            return 0;
        }
        const char *key = leaf == "v_swtch" ? "ctxt"
                          : leaf == "v_intr" ? "intr"
                          : leaf == "v_soft" ? "softirq"
                                             : nullptr;
        if (key == nullptr)
            return ENOENT;
        if (!read_host("/proc/stat", text))
            return EIO;
        append_u32(a.out, to_ull(field(text, key)));
        return 0;
    }
    if (n.substr(0, 12) != "vm.stats.vm.")
        return ENOENT;
    std::string_view leaf = n.substr(12);
    unsigned long long ps = static_cast<unsigned long long>(host_pagesize());

    // The paging counters.
    if (leaf == "v_swapin" || leaf == "v_swapout" || leaf == "v_swappgsin" ||
        leaf == "v_swappgsout" || leaf == "v_vnodein" || leaf == "v_vnodeout" ||
        leaf == "v_vnodepgsin" || leaf == "v_vnodepgsout") {
        std::string vmstat;
        bool in = leaf.ends_with("in");
        bool swap = leaf.substr(0, 6) == "v_swap";
        // The lines this answer needs, and none of those after them.
        const char *swapped_key = in ? "pswpin" : "pswpout";
        const char *paged_key = in ? "pgmajfault" : "nr_written";
        host_file path("/proc/vmstat");
        bool read = swap ? read_to_keys(path.c_str(), vmstat, {swapped_key})
                         : read_to_keys(path.c_str(), vmstat, {swapped_key, paged_key});
        if (!read)
            return EIO;
        unsigned long long swapped = vmstat_value(vmstat, swapped_key);
        if (swap) {
            append_u32(a.out, swapped);
            return 0;
        }
        // File-backed pages: read in by major faults that were not swap-ins,
        // written back from the page cache less what went to swap.
        unsigned long long paged = vmstat_value(vmstat, paged_key);
        append_u32(a.out, paged > swapped ? paged - swapped : 0);
        return 0;
    }

    if (leaf == "v_page_size") {
        append_u32(a.out, ps);
        return 0;
    }
    const char *key = leaf == "v_page_count"     ? "MemTotal"
                      : leaf == "v_free_count"     ? "MemFree"
                      : leaf == "v_active_count"   ? "Active"
                      : leaf == "v_inactive_count" ? "Inactive"
                      : leaf == "v_wire_count"     ? ""
                                                   : nullptr;
    if (key == nullptr)
        return ENOENT;  // v_cache_count among them: gone from FreeBSD too
    unsigned long long bytes;
    if (!meminfo_quick(key, bytes)) {
        meminfo m = read_meminfo();
        if (!m.ok)
            return EIO;
        bytes = *key ? m.bytes(key) : wired_bytes(m);
    }
    append_u32(a.out, bytes / ps);
    return 0;
}

int live_mem_size(const char *name, answer &a) {
    bool physmem = std::strcmp(name, "hw.physmem") == 0;
    if (!physmem && std::strcmp(name, "vfs.bufspace") != 0)
        return ENOENT;
    const char *key = physmem ? "MemTotal" : "Buffers";
    unsigned long long bytes;
    if (!meminfo_quick(key, bytes)) {
        meminfo m = read_meminfo();
        if (!m.ok)
            return EIO;
        bytes = m.bytes(key);
    }
    if (physmem) {
        unsigned long value = bytes;
        append_record(a.out, value);
    } else {
        long value = static_cast<long>(bytes);
        append_record(a.out, value);
    }
    return 0;
}

bool live_swap_devices(std::vector<swap_device> &out) {
    out.clear();
    std::string text;
    if (!read_host("/proc/swaps", text, false))
        return false;
    unsigned long long ps = static_cast<unsigned long long>(host_pagesize());
    bool header = true;
    for_each_line(text, [&](std::string_view line) {
        std::string_view w[5];
        if (header)
            header = false;
        else if (split_words(line, w, 5) >= 4)  // sizes are in KiB
            out.push_back({std::string(w[0]), to_ull(w[2]) * 1024 / ps, to_ull(w[3]) * 1024 / ps});
        return true;
    });
    return true;
}

}  // namespace standin
