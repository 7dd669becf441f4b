// FreeBSD amd64's sys/cpuset.h, as the stand-in provides it: CPU sets and the
// affinity calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_types.h"

namespace bsd {

struct cpuset_t {
    long __bits[cpu_maxsize / 64];
};
static_assert(sizeof(cpuset_t) == 128);

int cpuset_getaffinity(cpulevel_t level, cpuwhich_t which, id_t id, std::size_t setsize,
                       cpuset_t *mask);

int cpuset_setaffinity(cpulevel_t level, cpuwhich_t which, id_t id, std::size_t setsize,
                       const cpuset_t *mask);

}  // namespace bsd
