// The CPUs of the host as FreeBSD numbers them, shared by the CPU, memory,
// sensor and topology answers (answers/cpu.cpp numbers them).
#pragma once

#include <bitset>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// The size of FreeBSD's cpuset_t in bits: no mask can name a CPU beyond it.
constexpr int max_cpus = 1024;
using cpuset = std::bitset<max_cpus>;

// A host CPU list such as "0-3,8,10-11"; numbers beyond max_cpus are dropped.
cpuset parse_cpulist(std::string_view text);

// The host CPU behind each FreeBSD CPU number; -1 where the host has none.
std::vector<int> cpu_map();

}  // namespace standin
