// FreeBSD amd64's unistd.h, as the stand-in provides it: sysconf and close.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"

namespace bsd {

long sysconf(int name);

int close(int fd);

}  // namespace bsd
