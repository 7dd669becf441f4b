// FreeBSD amd64's arpa/inet.h, as the stand-in provides it: inet_ntop.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_types.h"

namespace bsd {

// FreeBSD's inet_ntop: af is FreeBSD's family number (AF_INET6 is 28).
const char *inet_ntop(int af, const void *src, char *dst, socklen_t size);

}  // namespace bsd
