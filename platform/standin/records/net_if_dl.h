// FreeBSD amd64's net/if_dl.h, as the stand-in provides it: link-level
// addresses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_types.h"

namespace bsd {

struct sockaddr_dl {
    std::uint8_t sdl_len;
    sa_family_t sdl_family;
    std::uint16_t sdl_index;
    std::uint8_t sdl_type;
    std::uint8_t sdl_nlen;
    std::uint8_t sdl_alen;
    std::uint8_t sdl_slen;
    char sdl_data[46];
};
static_assert(sizeof(sockaddr_dl) == 54);
static_assert(offsetof(sockaddr_dl, sdl_data) == 8);

}  // namespace bsd
