// FreeBSD amd64's signal.h, as the stand-in provides it: signal sets and kill.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_types.h"

namespace bsd {

struct sigset_t {
    std::uint32_t __bits[4];
};

int kill(pid_t pid, int sig);

}  // namespace bsd
