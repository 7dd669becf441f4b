// FreeBSD amd64 records, constants and calls for a process's paths,
// arguments, CPU affinity, resource limits and priority.
//
// Constants that host headers also define (PRIO_PROCESS, the RLIMIT_
// numbers) are values in namespace bsd here; module code
// gets the macros it uses from freebsd_clash.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bsd {

using id_t = std::int64_t;
using rlim_t = std::int64_t;
using cpulevel_t = int;
using cpuwhich_t = int;

struct rlimit {
    rlim_t rlim_cur;
    rlim_t rlim_max;
};
static_assert(sizeof(rlimit) == 16);
static_assert(offsetof(rlimit, rlim_max) == 8);

// 1024 CPUs: CPU n is bit n % 64 of word n / 64.
#define CPU_MAXSIZE 1024
struct cpuset_t {
    std::uint64_t __bits[CPU_MAXSIZE / 64];
};
static_assert(sizeof(cpuset_t) == 128);

#define CPU_LEVEL_ROOT 1
#define CPU_LEVEL_CPUSET 2
#define CPU_LEVEL_WHICH 3
#define CPU_WHICH_TID 1
#define CPU_WHICH_PID 2

#define KERN_PROC_ARGS 7
#define KERN_PROC_PATHNAME 12
#define KERN_PROC_RLIMIT 37

inline constexpr int prio_process = 0;
inline constexpr int prio_pgrp = 1;
inline constexpr int prio_user = 2;
inline constexpr int prio_min = -20;
inline constexpr int prio_max = 20;

// FreeBSD's resource numbers.
inline constexpr int rlimit_cpu = 0;
inline constexpr int rlimit_fsize = 1;
inline constexpr int rlimit_data = 2;
inline constexpr int rlimit_stack = 3;
inline constexpr int rlimit_core = 4;
inline constexpr int rlimit_rss = 5;
inline constexpr int rlimit_memlock = 6;
inline constexpr int rlimit_nproc = 7;
inline constexpr int rlimit_nofile = 8;
inline constexpr int rlimit_sbsize = 9;
inline constexpr int rlimit_as = 10;
inline constexpr int rlimit_npts = 11;
inline constexpr int rlimit_swap = 12;
inline constexpr int rlimit_kqueues = 13;
inline constexpr int rlimit_umtxp = 14;
inline constexpr int rlimit_pipebuf = 15;
inline constexpr int rlim_nlimits = 16;
inline constexpr rlim_t rlim_infinity = INT64_MAX;

int cpuset_getaffinity(cpulevel_t level, cpuwhich_t which, id_t id, std::size_t setsize,
                       cpuset_t *mask);
int cpuset_setaffinity(cpulevel_t level, cpuwhich_t which, id_t id, std::size_t setsize,
                       const cpuset_t *mask);
int getpriority(int which, int who);
int setpriority(int which, int who, int prio);

}  // namespace bsd
