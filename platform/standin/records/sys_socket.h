// FreeBSD amd64's sys/socket.h, as the stand-in provides it: socket addresses
// and socket.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_types.h"

namespace bsd {

struct sockaddr {
    std::uint8_t sa_len;
    sa_family_t sa_family;
    char sa_data[14];
};
static_assert(sizeof(sockaddr) == 16);

struct sockaddr_storage_bsd {
    u_char ss_len;
    u_char ss_family;
    char __ss_pad1[6];
    std::int64_t __ss_align;
    char __ss_pad2[112];
};
static_assert(sizeof(sockaddr_storage_bsd) == 128);

int socket(int domain, int type, int protocol);

}  // namespace bsd
