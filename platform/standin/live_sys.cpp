// CPU and memory figures of the host, in FreeBSD's terms: tick counters at
// 128 a second, page counts, the scheduler's topology text, cpufreq levels
// and the swap table. See docs/standin-system.md for each mapping.
//
// FreeBSD numbers its CPUs 0..hw.ncpu-1 without gaps; the host may not (an
// offline CPU leaves a hole), so CPU N here is the host's N-th online CPU.
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "freebsd.h"
#include "host.h"
#include "live.h"

namespace standin {
namespace {

// Where the host's /proc and /sys are found: "" is the host itself; tests
// point it at a made-up tree to exercise hardware this host lacks.
std::mutex root_lock;
std::string root_dir;

std::string host_path(const char *path) {
    std::lock_guard<std::mutex> g(root_lock);
    return root_dir + path;
}

bool live_root() {
    std::lock_guard<std::mutex> g(root_lock);
    return root_dir.empty();
}

bool read_host(const char *path, std::string &out) {
    return read_file(host_path(path).c_str(), out, 1 << 20);
}

// The size of FreeBSD's cpuset_t in bits: no mask can name a CPU beyond it.
constexpr int max_cpus = 1024;
using cpuset = std::bitset<max_cpus>;

// The counters run at this many ticks a second.
constexpr long freebsd_stathz = 128;

// A host list such as "0-3,8,10-11"; numbers beyond max_cpus are dropped.
std::vector<int> parse_cpulist(std::string_view text) {
    std::vector<int> cpus;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find(',', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view item = text.substr(pos, end - pos);
        pos = end + 1;
        while (!item.empty() && (item.back() == '\n' || item.back() == ' '))
            item.remove_suffix(1);
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        int lo = 0, hi = 0;
        auto r = std::from_chars(item.data(), item.data() + item.size(), lo);
        if (r.ec != std::errc() || lo < 0)
            continue;
        hi = lo;
        if (r.ptr < item.data() + item.size()) {
            if (*r.ptr != '-')
                continue;
            auto r2 = std::from_chars(r.ptr + 1, item.data() + item.size(), hi);
            if (r2.ec != std::errc() || hi < lo)
                continue;
        }
        if (lo >= max_cpus)
            continue;
        if (hi >= max_cpus)
            hi = max_cpus - 1;
        for (int c = lo; c <= hi; c++)
            cpus.push_back(c);
    }
    std::sort(cpus.begin(), cpus.end());
    cpus.erase(std::unique(cpus.begin(), cpus.end()), cpus.end());
    return cpus;
}

// One "cpu..." line of /proc/stat, in the host's clock ticks.
struct host_ticks {
    unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0,
                       softirq = 0, steal = 0;
};

bool parse_ticks(std::string_view rest, host_ticks &t) {
    std::string_view w[8];
    std::size_t n = split_words(rest, w, 8);
    if (n < 4)
        return false;
    unsigned long long *f[8] = {&t.user, &t.nice, &t.system, &t.idle,
                                &t.iowait, &t.irq, &t.softirq, &t.steal};
    for (std::size_t i = 0; i < n; i++)
        *f[i] = to_ull(w[i]);
    return true;
}

struct host_stat {
    bool ok = false;
    host_ticks total;
    std::map<int, host_ticks> per_cpu;  // by host CPU number
    long long btime = 0;
    unsigned long long ctxt = 0, intr = 0, softirq = 0;
    long long running = 0, blocked = 0;
};

host_stat read_stat() {
    host_stat st;
    std::string text;
    if (!read_host("/proc/stat", text))
        return st;
    st.ok = true;
    for_each_line(text, [&](std::string_view line) {
        if (line.substr(0, 4) == "cpu ") {
            parse_ticks(line.substr(4), st.total);
        } else if (line.substr(0, 3) == "cpu") {
            int cpu = -1;
            auto r = std::from_chars(line.data() + 3, line.data() + line.size(), cpu);
            host_ticks t;
            if (r.ec == std::errc() && cpu >= 0 && cpu < max_cpus &&
                parse_ticks(line.substr(static_cast<std::size_t>(r.ptr - line.data())), t))
                st.per_cpu[cpu] = t;
        }
        return true;
    });
    st.btime = to_ll(field(text, "btime"));
    st.ctxt = to_ull(field(text, "ctxt"));
    st.intr = to_ull(field(text, "intr"));
    st.softirq = to_ull(field(text, "softirq"));
    st.running = to_ll(field(text, "procs_running"));
    st.blocked = to_ll(field(text, "procs_blocked"));
    return st;
}

// The host CPU behind each FreeBSD CPU number; -1 where the host has none.
std::vector<int> cpu_map() {
    std::string text;
    std::vector<int> online;
    if (read_host("/sys/devices/system/cpu/online", text))
        online = parse_cpulist(text);
    if (online.empty()) {
        host_stat st = read_stat();
        for (const auto &entry : st.per_cpu)
            online.push_back(entry.first);
    }
    long ncpu;
    if (live_root())
        ncpu = ::sysconf(_SC_NPROCESSORS_ONLN);  // what the host itself reports
    else
        ncpu = static_cast<long>(online.size());
    if (ncpu < 1)
        ncpu = online.empty() ? 1 : static_cast<long>(online.size());
    if (ncpu > max_cpus)
        ncpu = max_cpus;
    online.resize(static_cast<std::size_t>(ncpu), -1);
    return online;
}

// Host ticks (USER_HZ) as FreeBSD ticks, without overflowing on the way.
long rescale(unsigned long long ticks, long hz) {
    unsigned long long h = static_cast<unsigned long long>(hz);
    unsigned long long v = ticks / h * freebsd_stathz + ticks % h * freebsd_stathz / h;
    return static_cast<long>(v);
}

// user, nice, system, interrupt, idle: the kernel's order. Stolen time is
// time the CPU was busy, if not for this system, so it counts as system time
// and the five still add up to the time elapsed; waiting for I/O is idle.
void append_cp_time(std::string &out, const host_ticks &t, long hz) {
    long cp[5] = {
        rescale(t.user, hz),
        rescale(t.nice, hz),
        rescale(t.system + t.steal, hz),
        rescale(t.irq + t.softirq, hz),
        rescale(t.idle + t.iowait, hz),
    };
    out.append(reinterpret_cast<const char *>(cp), sizeof(cp));
}

long host_hz() {
    long hz = ::sysconf(_SC_CLK_TCK);
    return hz > 0 ? hz : 100;
}

long host_pagesize() {
    long ps = ::sysconf(_SC_PAGESIZE);
    return ps > 0 ? ps : 4096;
}

void append_u32(std::string &out, unsigned long long v) {
    // FreeBSD's 32-bit views of its counters wrap.
    bsd::u_int u = static_cast<bsd::u_int>(v);
    append_record(out, u);
}

struct meminfo {
    bool ok = false;
    std::string text;
    // A "Key:   N kB" line in bytes; 0 when absent.
    unsigned long long bytes(std::string_view key) const {
        return to_ull(field(text, key)) * 1024;
    }
};

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

// The number of a "dev.cpu.N." name and what follows; false when malformed.
bool split_dev_cpu(const char *name, int &cpu, std::string_view &leaf) {
    std::string_view n(name);
    constexpr std::string_view prefix = "dev.cpu.";
    if (n.substr(0, prefix.size()) != prefix)
        return false;
    n.remove_prefix(prefix.size());
    std::size_t dot = n.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot > 7)
        return false;
    for (std::size_t i = 0; i < dot; i++)
        if (n[i] < '0' || n[i] > '9')
            return false;
    auto r = std::from_chars(n.data(), n.data() + dot, cpu);
    if (r.ec != std::errc())
        return false;
    leaf = n.substr(dot + 1);
    return true;
}

// cpufreq reports kHz; FreeBSD MHz. Levels are listed fastest first, each
// with its power in milliwatts, -1 where unknown as here.
std::string freq_levels_text(const std::string &dir) {
    std::string text;
    std::vector<long long> khz;
    if (read_file((dir + "/scaling_available_frequencies").c_str(), text, 1 << 16)) {
        std::string_view w[64];
        std::size_t n = split_words(text, w, 64);
        for (std::size_t i = 0; i < n; i++)
            khz.push_back(to_ll(w[i], -1));
    }
    if (khz.empty()) {
        // Drivers that pick their own steps offer only the range.
        if (read_file((dir + "/cpuinfo_max_freq").c_str(), text, 64))
            khz.push_back(to_ll(text, -1));
        if (read_file((dir + "/cpuinfo_min_freq").c_str(), text, 64))
            khz.push_back(to_ll(text, -1));
    }
    std::vector<long long> mhz;
    for (long long k : khz)
        if (k > 0)
            mhz.push_back(k / 1000);
    std::sort(mhz.begin(), mhz.end(), [](long long a, long long b) { return a > b; });
    mhz.erase(std::unique(mhz.begin(), mhz.end()), mhz.end());
    std::string out;
    for (long long m : mhz) {
        if (!out.empty())
            out += ' ';
        out += std::to_string(m) + "/-1";
    }
    return out;
}

// ---- the scheduler's topology text ----

struct partition {
    int cache_level;             // 0: not a cache (a package or a core)
    std::vector<cpuset> block;   // by FreeBSD CPU: the CPUs sharing with it
};

cpuset read_shared(const std::string &path, const std::vector<int> &host2bsd) {
    cpuset set;
    std::string text;
    if (!read_file(path.c_str(), text, 1 << 16))
        return set;
    for (int h : parse_cpulist(text))
        if (host2bsd[static_cast<std::size_t>(h)] >= 0)
            set.set(static_cast<std::size_t>(host2bsd[static_cast<std::size_t>(h)]));
    return set;
}

struct topology {
    std::vector<partition> parts;
    int core = -1;  // index of the cores among parts, if the host named them
};

// Packages, the caches from the outermost in, the cores (threads sharing a
// core), then the first-level caches: from coarse to fine.
topology read_topology(const std::vector<int> &map) {
    std::size_t n = map.size();
    std::vector<int> host2bsd(max_cpus, -1);
    for (std::size_t i = 0; i < n; i++)
        if (map[i] >= 0)
            host2bsd[static_cast<std::size_t>(map[i])] = static_cast<int>(i);

    constexpr int max_level = 4;
    partition package{0, std::vector<cpuset>(n)};
    partition core{0, std::vector<cpuset>(n)};
    std::vector<partition> caches;
    for (int level = 0; level <= max_level; level++)
        caches.push_back({level, std::vector<cpuset>(n)});
    std::vector<long long> pkg_id(n, -1);
    bool have_pkg = false, have_core = false;
    bool have_level[max_level + 1] = {};

    std::string text;
    for (std::size_t i = 0; i < n; i++) {
        if (map[i] < 0)
            continue;
        std::string dir = host_path("/sys/devices/system/cpu/cpu") + std::to_string(map[i]);
        if (read_file((dir + "/topology/physical_package_id").c_str(), text, 64)) {
            pkg_id[i] = to_ll(text, -1);
            have_pkg = true;
        }
        core.block[i] = read_shared(dir + "/topology/thread_siblings_list", host2bsd);
        if (core.block[i].any())
            have_core = true;
        // A handful of cache indices at most; the walk stops at the first gap.
        for (int k = 0; k < 16; k++) {
            std::string idx = dir + "/cache/index" + std::to_string(k);
            if (!read_file((idx + "/level").c_str(), text, 64))
                break;
            long long level = to_ll(text, -1);
            if (level < 1 || level > max_level)
                continue;
            if (read_file((idx + "/type").c_str(), text, 64) &&
                text.compare(0, 11, "Instruction") == 0)
                continue;
            cpuset shared = read_shared(idx + "/shared_cpu_list", host2bsd);
            if (shared.none())
                continue;
            caches[static_cast<std::size_t>(level)].block[i] |= shared;
            have_level[level] = true;
        }
    }
    if (have_pkg) {
        for (std::size_t i = 0; i < n; i++)
            for (std::size_t j = 0; j < n; j++)
                if (pkg_id[i] == pkg_id[j])
                    package.block[i].set(j);
    }

    topology topo;
    std::vector<partition> &parts = topo.parts;
    if (have_pkg)
        parts.push_back(std::move(package));
    for (int level = max_level; level >= 2; level--)
        if (have_level[level])
            parts.push_back(std::move(caches[static_cast<std::size_t>(level)]));
    if (have_core) {
        topo.core = static_cast<int>(parts.size());
        parts.push_back(std::move(core));
    }
    if (have_level[1])
        parts.push_back(std::move(caches[1]));
    // Every CPU shares at least with itself, also where the host said nothing.
    for (partition &p : parts)
        for (std::size_t i = 0; i < n; i++)
            p.block[i].set(i);
    return topo;
}

// S split by one partition, each block the lowest unassigned CPU with what
// it shares, so the blocks never overlap whatever the host reported.
std::vector<cpuset> split(const cpuset &s, const partition &p, std::size_t n) {
    std::vector<cpuset> blocks;
    cpuset left = s;
    for (std::size_t c = 0; c < n; c++) {
        if (!left.test(c))
            continue;
        cpuset b = p.block[c] & left;
        b.set(c);
        left &= ~b;
        blocks.push_back(b);
    }
    return blocks;
}

std::string mask_text(const cpuset &s) {
    std::string out;
    for (int w = 0; w < max_cpus / 64; w++) {
        unsigned long long word = 0;
        for (int b = 0; b < 64; b++)
            if (s.test(static_cast<std::size_t>(w * 64 + b)))
                word |= 1ULL << b;
        char buf[24];
        std::snprintf(buf, sizeof(buf), "%s%llx", w ? "," : "", word);
        out += buf;
    }
    return out;
}

std::string cpu_list_text(const cpuset &s, std::size_t n) {
    std::string out;
    for (std::size_t c = 0; c < n; c++) {
        if (!s.test(c))
            continue;
        if (!out.empty())
            out += ", ";
        out += std::to_string(c);
    }
    return out;
}

// One group and its children, as the scheduler writes them: a group is one
// block of a partition (level its cache level) and takes the level of every
// finer cache it coincides with. Each level descends at least one partition,
// so the depth is bounded by their number.
void append_group(std::string &out, const cpuset &s, int level, const std::vector<partition> &parts,
                  std::size_t from, int indent, std::size_t n, const partition *core) {
    int cache_level = level;
    std::size_t j = from;
    std::vector<cpuset> children;
    for (; j < parts.size(); j++) {
        children = split(s, parts[j], n);
        if (children.size() > 1)
            break;
        cache_level = std::max(cache_level, parts[j].cache_level);
        children.clear();
    }
    std::size_t ncores = core ? split(s, *core, n).size() : s.count();
    bool smt = cache_level != 0 && s.count() > 1 && ncores < 2;

    std::string pad(static_cast<std::size_t>(indent), ' ');
    out += pad + "<group level=\"" + std::to_string(1 + indent / 2) + "\" cache-level=\"" +
           std::to_string(cache_level) + "\">\n";
    out += pad + " <cpu count=\"" + std::to_string(s.count()) + "\" mask=\"" + mask_text(s) +
           "\">" + cpu_list_text(s, n) + "</cpu>\n";
    if (smt)
        out += pad +
               " <flags><flag name=\"THREAD\">THREAD group</flag>"
               "<flag name=\"SMT\">SMT group</flag></flags>\n";
    if (!children.empty()) {
        out += pad + " <children>\n";
        for (const cpuset &child : children)
            append_group(out, child, parts[j].cache_level, parts, j + 1, indent + 2, n, core);
        out += pad + " </children>\n";
    }
    out += pad + "</group>\n";
}

}  // namespace

int live_boottime(const int *, unsigned n, std::string &out, bool) {
    if (n != 2)
        return ENOENT;
    host_stat st = read_stat();
    if (!st.ok)
        return EIO;
    // The host gives whole seconds.
    bsd::timeval tv{static_cast<std::int64_t>(st.btime), 0};
    append_record(out, tv);
    return 0;
}

int live_ncpu(const int *, unsigned n, std::string &out, bool) {
    if (n != 2)
        return ENOENT;
    int ncpu = static_cast<int>(cpu_map().size());
    append_record(out, ncpu);
    return 0;
}

int live_vmtotal(const int *, unsigned n, std::string &out, bool) {
    if (n != 2)
        return ENOENT;
    meminfo m = read_meminfo();
    if (!m.ok)
        return EIO;
    host_stat st = read_stat();
    unsigned long long ps = static_cast<unsigned long long>(host_pagesize());
    auto pages = [&](std::string_view key) { return m.bytes(key) / ps; };
    auto threads = [](long long v) {
        return static_cast<std::int16_t>(v < 0 ? 0 : v > 32767 ? 32767 : v);
    };
    bsd::vmtotal vt;
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
    vt.t_rq = threads(st.running);
    vt.t_dw = threads(st.blocked);
    append_record(out, vt);
    return 0;
}

int live_cp_time(const char *name, std::string &out, bool) {
    bool per_cpu;
    if (std::strcmp(name, "kern.cp_time") == 0)
        per_cpu = false;
    else if (std::strcmp(name, "kern.cp_times") == 0)
        per_cpu = true;
    else
        return ENOENT;
    host_stat st = read_stat();
    if (!st.ok)
        return EIO;
    long hz = host_hz();
    if (!per_cpu) {
        append_cp_time(out, st.total, hz);
        return 0;
    }
    // Exactly hw.ncpu arrays, CPU 0 first.
    for (int h : cpu_map()) {
        auto it = h >= 0 ? st.per_cpu.find(h) : st.per_cpu.end();
        append_cp_time(out, it != st.per_cpu.end() ? it->second : host_ticks{}, hz);
    }
    return 0;
}

int live_vm_stats(const char *name, std::string &out, bool) {
    std::string_view n(name);
    if (n.substr(0, 13) == "vm.stats.sys.") {
        std::string_view leaf = n.substr(13);
        host_stat st = read_stat();
        if (!st.ok)
            return EIO;
        if (leaf == "v_swtch") {
            append_u32(out, st.ctxt);
        } else if (leaf == "v_intr") {
            append_u32(out, st.intr);
        } else if (leaf == "v_soft") {
            append_u32(out, st.softirq);
        } else if (leaf == "v_syscall") {
            append_u32(out, 0);  // the host counts no system calls
        } else if (leaf == "v_trap") {
            // Page faults, the traps the host does count.
            std::string vmstat;
            read_host("/proc/vmstat", vmstat);
            append_u32(out, vmstat_value(vmstat, "pgfault"));
        } else {
            return ENOENT;
        }
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
        if (!read_host("/proc/vmstat", vmstat))
            return EIO;
        bool in = leaf.ends_with("in");
        unsigned long long swapped = vmstat_value(vmstat, in ? "pswpin" : "pswpout");
        if (leaf.substr(0, 6) == "v_swap") {
            append_u32(out, swapped);
            return 0;
        }
        // All paging in KiB, of which the swap pages are the swap pager's.
        unsigned long long paged = vmstat_value(vmstat, in ? "pgpgin" : "pgpgout") * 1024 / ps;
        append_u32(out, paged > swapped ? paged - swapped : 0);
        return 0;
    }

    if (leaf == "v_page_size") {
        append_u32(out, ps);
        return 0;
    }
    meminfo m = read_meminfo();
    if (!m.ok)
        return EIO;
    unsigned long long bytes;
    if (leaf == "v_page_count")
        bytes = m.bytes("MemTotal");
    else if (leaf == "v_free_count")
        bytes = m.bytes("MemFree");
    else if (leaf == "v_active_count")
        bytes = m.bytes("Active");
    else if (leaf == "v_inactive_count")
        bytes = m.bytes("Inactive");
    else if (leaf == "v_wire_count")
        bytes = wired_bytes(m);
    else
        return ENOENT;  // v_cache_count among them: gone from FreeBSD too
    append_u32(out, bytes / ps);
    return 0;
}

int live_mem_size(const char *name, std::string &out, bool) {
    bool physmem = std::strcmp(name, "hw.physmem") == 0;
    if (!physmem && std::strcmp(name, "vfs.bufspace") != 0)
        return ENOENT;
    meminfo m = read_meminfo();
    if (!m.ok)
        return EIO;
    if (physmem) {
        unsigned long value = m.bytes("MemTotal");
        append_record(out, value);
    } else {
        long value = static_cast<long>(m.bytes("Buffers"));
        append_record(out, value);
    }
    return 0;
}

int live_cpu_dev(const char *name, std::string &out, bool) {
    int cpu;
    std::string_view leaf;
    if (!split_dev_cpu(name, cpu, leaf))
        return ENOENT;
    bool levels = leaf == "freq_levels";
    if (!levels && leaf != "freq")
        return ENOENT;
    std::vector<int> map = cpu_map();
    if (cpu < 0 || static_cast<std::size_t>(cpu) >= map.size() ||
        map[static_cast<std::size_t>(cpu)] < 0)
        return ENOENT;
    std::string dir = host_path("/sys/devices/system/cpu/cpu") +
                      std::to_string(map[static_cast<std::size_t>(cpu)]) + "/cpufreq";
    std::string text;
    if (!levels) {
        if (!read_file((dir + "/scaling_cur_freq").c_str(), text, 64) &&
            !read_file((dir + "/cpuinfo_cur_freq").c_str(), text, 64))
            return ENOENT;  // no frequency driver
        long long khz = to_ll(text, -1);
        if (khz < 0)
            return ENOENT;
        int mhz = static_cast<int>(khz / 1000);
        append_record(out, mhz);
        return 0;
    }
    std::string levels_text = freq_levels_text(dir);
    if (levels_text.empty())
        return ENOENT;
    out = levels_text;
    out += '\0';
    return 0;
}

int live_topology_spec(const char *name, std::string &out, bool) {
    if (std::strcmp(name, "kern.sched.topology_spec") != 0)
        return ENOENT;
    std::vector<int> map = cpu_map();
    std::size_t n = map.size();
    topology topo = read_topology(map);
    // Without core data every CPU counts as a core of its own.
    const partition *core =
        topo.core >= 0 ? &topo.parts[static_cast<std::size_t>(topo.core)] : nullptr;
    cpuset all;
    for (std::size_t i = 0; i < n; i++)
        all.set(i);
    out = "<groups>\n";
    append_group(out, all, 0, topo.parts, 0, 1, n, core);
    out += "</groups>\n";
    out += '\0';  // the kernel's text comes with its NUL
    return 0;
}

bool live_swap_devices(std::vector<swap_device> &out) {
    out.clear();
    std::string text;
    if (!read_host("/proc/swaps", text))
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

// For the live answers of other files that honour the same root (live.h).
std::string host_root_path(const char *path) {
    return host_path(path);
}

std::vector<int> host_cpu_map() {
    return cpu_map();
}

}  // namespace standin

// Points the live answers of this file at another root for /proc and /sys
// ("" or null: the host itself). For tests of hardware the host lacks.
extern "C" int standin_host_root(const char *dir) {
    std::lock_guard<std::mutex> g(standin::root_lock);
    standin::root_dir = dir ? dir : "";
    while (!standin::root_dir.empty() && standin::root_dir.back() == '/')
        standin::root_dir.pop_back();
    return 0;
}
