// FreeBSD amd64's sys/ioctl.h, as the stand-in provides it: ioctl.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"

namespace bsd {

int ioctl(int fd, unsigned long request, void *arg);

}  // namespace bsd
