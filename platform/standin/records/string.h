// FreeBSD amd64's string.h, as the stand-in provides it: strlcat.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"

namespace bsd {

std::size_t strlcat(char *dst, const char *src, std::size_t size);

}  // namespace bsd
