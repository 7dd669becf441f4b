// FreeBSD amd64's malloc_np.h, as the stand-in provides it: the allocator's
// control call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"

namespace bsd {

int mallctl(const char *name, void *oldp, std::size_t *oldlenp, void *newp, std::size_t newlen);

}  // namespace bsd
