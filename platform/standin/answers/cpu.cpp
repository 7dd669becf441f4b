// CPU figures of the host, in FreeBSD's terms: tick counters at 128 a
// second, the CPU count and numbering, cpufreq levels. See
// docs/standin-system.md for each mapping.
//
// FreeBSD numbers its CPUs 0..hw.ncpu-1 without gaps; the host may not (an
// offline CPU leaves a hole), so CPU N here is the host's N-th online CPU.
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/answers/answers.h"
#include "standin/answers/cpus.h"
#include "standin/answers/figures.h"

namespace standin {

bool live_root() {
    return !host_rooted();
}

bool read_host(const char *path, std::string &out, bool one_piece) {
    host_file full("%s", path);
    return one_piece ? read_piece(full.c_str(), out, 1 << 20)
                     : read_file(full.c_str(), out, 1 << 20);
}

long host_pagesize() {
    long ps = ::sysconf(_SC_PAGESIZE);
    return ps > 0 ? ps : 4096;
}

void append_u32(std::string &out, unsigned long long v) {
    bsd::u_int u = static_cast<bsd::u_int>(v);
    append_record(out, u);
}

namespace {

// The counters run at this many ticks a second.
constexpr long freebsd_stathz = 128;

}  // namespace

// A host list such as "0-3,8,10-11"; numbers beyond max_cpus are dropped.
// Each item costs the same whatever its range, so a list of any length
// costs in proportion to its length alone.
cpuset parse_cpulist(std::string_view text) {
    cpuset cpus;
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
            if (r2.ec != std::errc() || hi < lo || r2.ptr != item.data() + item.size())
                continue;
        }
        if (lo >= max_cpus)
            continue;
        if (hi >= max_cpus)
            hi = max_cpus - 1;
        // Bits lo..hi at once: all ones cut to the range's width, moved up.
        cpus |= (~cpuset() >> static_cast<std::size_t>(max_cpus - 1 - (hi - lo)))
                << static_cast<std::size_t>(lo);
    }
    return cpus;
}

namespace {

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

// The tick lines of /proc/stat.
struct host_stat {
    bool ok = false;
    host_ticks total;
    std::map<int, host_ticks> per_cpu;  // by host CPU number
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
        } else if (line.substr(0, 3) != "cpu") {
            return false;  // the tick lines come first
        } else {
            int cpu = -1;
            auto r = std::from_chars(line.data() + 3, line.data() + line.size(), cpu);
            host_ticks t;
            if (r.ec == std::errc() && cpu >= 0 && cpu < max_cpus &&
                parse_ticks(line.substr(static_cast<std::size_t>(r.ptr - line.data())), t))
                st.per_cpu[cpu] = t;
        }
        return true;
    });
    return st;
}

}  // namespace

std::vector<int> cpu_map() {
    std::string text;
    std::vector<int> online;
    if (read_host("/sys/devices/system/cpu/online", text)) {
        cpuset set = parse_cpulist(text);
        for (std::size_t c = 0; c < set.size(); c++)
            if (set.test(c))
                online.push_back(static_cast<int>(c));
    }
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

namespace {

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
    if (read_piece((dir + "/scaling_available_frequencies").c_str(), text, 1 << 16)) {
        std::string_view w[64];
        std::size_t n = split_words(text, w, 64);
        for (std::size_t i = 0; i < n; i++)
            khz.push_back(to_ll(w[i], -1));
    }
    if (khz.empty()) {
        // Drivers that pick their own steps offer only the range.
        if (read_piece((dir + "/cpuinfo_max_freq").c_str(), text, 64))
            khz.push_back(to_ll(text, -1));
        if (read_piece((dir + "/cpuinfo_min_freq").c_str(), text, 64))
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

}  // namespace

int live_boottime(const int *, unsigned n, answer &a) {
    if (n != 2)
        return ENOENT;
    std::string text;
    if (!read_host("/proc/stat", text))
        return EIO;
    // The host gives whole seconds.
    bsd::timeval tv{static_cast<std::int64_t>(to_ll(field(text, "btime"))), 0};
    append_record(a.out, tv);
    return 0;
}

int live_ncpu(const int *, unsigned n, answer &a) {
    if (n != 2)
        return ENOENT;
    int ncpu = static_cast<int>(cpu_map().size());
    append_record(a.out, ncpu);
    return 0;
}

int live_cp_time(const char *name, answer &a) {
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
        append_cp_time(a.out, st.total, hz);
        return 0;
    }
    // Exactly hw.ncpu arrays, CPU 0 first.
    for (int h : cpu_map()) {
        auto it = h >= 0 ? st.per_cpu.find(h) : st.per_cpu.end();
        append_cp_time(a.out, it != st.per_cpu.end() ? it->second : host_ticks{}, hz);
    }
    return 0;
}

int live_cpu_dev(const char *name, answer &a) {
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
    std::string dir =
        host_file("/sys/devices/system/cpu/cpu%d/cpufreq", map[static_cast<std::size_t>(cpu)]).c_str();
    std::string text;
    if (!levels) {
        if (!read_piece((dir + "/scaling_cur_freq").c_str(), text, 64) &&
            !read_piece((dir + "/cpuinfo_cur_freq").c_str(), text, 64))
            return ENOENT;  // no frequency driver
        long long khz = to_ll(text, -1);
        if (khz < 0)
            return ENOENT;
        int mhz = static_cast<int>(khz / 1000);
        append_record(a.out, mhz);
        return 0;
    }
    std::string levels_text = freq_levels_text(dir);
    if (levels_text.empty())
        return ENOENT;
    a.out = levels_text;
    a.out += '\0';
    return 0;
}

}  // namespace standin
