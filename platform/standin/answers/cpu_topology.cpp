// The scheduler's topology text (kern.sched.topology_spec) from the host's
// /sys/devices/system/cpu: packages, caches and cores as nested groups.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "standin/host/files.h"
#include "standin/answers/answers.h"
#include "standin/answers/cpus.h"

namespace standin {
namespace {

struct partition {
    int cache_level;             // 0: not a cache (a package or a core)
    std::vector<cpuset> block;   // by FreeBSD CPU: the CPUs sharing with it
};

cpuset read_shared(const std::string &path, const std::vector<int> &host2bsd) {
    cpuset set;
    std::string text;
    if (!read_piece(path.c_str(), text, 1 << 16))
        return set;
    cpuset host = parse_cpulist(text);
    for (std::size_t h = 0; h < host.size(); h++)
        if (host.test(h) && host2bsd[h] >= 0)
            set.set(static_cast<std::size_t>(host2bsd[h]));
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
        std::string dir = host_file("/sys/devices/system/cpu/cpu%d", map[i]).c_str();
        if (read_piece((dir + "/topology/physical_package_id").c_str(), text, 64)) {
            pkg_id[i] = to_ll(text, -1);
            have_pkg = true;
        }
        core.block[i] = read_shared(dir + "/topology/thread_siblings_list", host2bsd);
        if (core.block[i].any())
            have_core = true;
        // A handful of cache indices at most; the walk stops at the first gap.
        for (int k = 0; k < 16; k++) {
            std::string idx = dir + "/cache/index" + std::to_string(k);
            if (!read_piece((idx + "/level").c_str(), text, 64))
                break;
            long long level = to_ll(text, -1);
            if (level < 1 || level > max_level)
                continue;
            if (read_piece((idx + "/type").c_str(), text, 64) &&
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

int live_topology_spec(const char *name, answer &a) {
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
    a.out = "<groups>\n";
    append_group(a.out, all, 0, topo.parts, 0, 1, n, core);
    a.out += "</groups>\n";
    a.out += '\0';  // the kernel's text comes with its NUL
    return 0;
}

}  // namespace standin
