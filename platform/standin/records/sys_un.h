// FreeBSD amd64's sys/un.h, as the stand-in provides it: UNIX-domain addresses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_types.h"

namespace bsd {

struct sockaddr_un {
    std::uint8_t sun_len;
    sa_family_t sun_family;
    char sun_path[104];
};
static_assert(sizeof(sockaddr_un) == 106);

}  // namespace bsd
