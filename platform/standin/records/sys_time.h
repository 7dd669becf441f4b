// FreeBSD amd64's sys/time.h, as the stand-in provides it: times.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"

namespace bsd {

struct timeval {
    std::int64_t tv_sec;
    std::int64_t tv_usec;
};
static_assert(sizeof(timeval) == 16);

struct bintime {
    std::int64_t sec;
    std::uint64_t frac;
};

}  // namespace bsd
