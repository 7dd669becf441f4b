// FreeBSD amd64's sys/resource.h, as the stand-in provides it: resource usage,
// limits and priority calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_time.h"
#include "standin/records/sys_types.h"

namespace bsd {

struct rusage {
    timeval ru_utime;
    timeval ru_stime;
    long ru_maxrss;
    long ru_ixrss;
    long ru_idrss;
    long ru_isrss;
    long ru_minflt;
    long ru_majflt;
    long ru_nswap;
    long ru_inblock;
    long ru_oublock;
    long ru_msgsnd;
    long ru_msgrcv;
    long ru_nsignals;
    long ru_nvcsw;
    long ru_nivcsw;
};
static_assert(sizeof(rusage) == 144);

struct rlimit {
    rlim_t rlim_cur;
    rlim_t rlim_max;
};
static_assert(sizeof(rlimit) == 16);
static_assert(offsetof(rlimit, rlim_max) == 8);

int getpriority(int which, int who);

int setpriority(int which, int who, int prio);

}  // namespace bsd
