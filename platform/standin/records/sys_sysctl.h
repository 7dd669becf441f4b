// FreeBSD amd64's sys/sysctl.h, as the stand-in provides it: the kernel
// parameter calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_types.h"

namespace bsd {

// The calls the module makes.
int sysctl(const int *name, u_int namelen, void *oldp, std::size_t *oldlenp, const void *newp,
           std::size_t newlen);

int sysctlbyname(const char *name, void *oldp, std::size_t *oldlenp, const void *newp,
                 std::size_t newlen);

}  // namespace bsd
