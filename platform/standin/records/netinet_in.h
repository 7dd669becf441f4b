// FreeBSD amd64's netinet/in.h, as the stand-in provides it: inet addresses and
// ntohs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_types.h"

namespace bsd {

struct in_addr {
    std::uint32_t s_addr;
};

struct sockaddr_in {
    std::uint8_t sin_len;
    sa_family_t sin_family;
    in_port_t sin_port;
    in_addr sin_addr;
    char sin_zero[8];
};
static_assert(sizeof(sockaddr_in) == 16);
static_assert(offsetof(sockaddr_in, sin_addr) == 4);

// FreeBSD's is a union with 32-bit members, hence its alignment.
struct alignas(4) in6_addr {
    std::uint8_t s6_addr[16];
};

struct sockaddr_in6 {
    std::uint8_t sin6_len;
    sa_family_t sin6_family;
    in_port_t sin6_port;
    std::uint32_t sin6_flowinfo;
    in6_addr sin6_addr;
    std::uint32_t sin6_scope_id;
};
static_assert(sizeof(sockaddr_in6) == 28);
static_assert(offsetof(sockaddr_in6, sin6_addr) == 8);
static_assert(offsetof(sockaddr_in6, sin6_scope_id) == 24);

// Network to host order of a port (amd64 is little-endian).
constexpr std::uint16_t ntohs(std::uint16_t v) {
    return static_cast<std::uint16_t>((v >> 8) | (v << 8));
}

}  // namespace bsd
