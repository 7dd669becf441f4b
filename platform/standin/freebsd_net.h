// FreeBSD amd64 socket addresses and the family, type and protocol numbers
// that both the connection tables and the interface answers use.
//
// The numbers are constexpr values here, since the stand-in's own files also
// include the host's socket headers, whose macros have other values
// (AF_INET6 is 10 on the host); freebsd_clash.h gives module code the
// FreeBSD macros.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bsd {

inline constexpr int af_unspec = 0;
inline constexpr int af_unix = 1;
inline constexpr int af_inet = 2;
inline constexpr int af_route = 17;
inline constexpr int af_link = 18;
inline constexpr int af_inet6 = 28;

inline constexpr int sock_stream = 1;
inline constexpr int sock_dgram = 2;
inline constexpr int sock_raw = 3;
inline constexpr int sock_seqpacket = 5;

inline constexpr int ipproto_tcp = 6;
inline constexpr int ipproto_udp = 17;

using sa_family_t = std::uint8_t;
using in_port_t = std::uint16_t;

struct sockaddr {
    std::uint8_t sa_len;
    sa_family_t sa_family;
    char sa_data[14];
};
static_assert(sizeof(sockaddr) == 16);

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

struct sockaddr_un {
    std::uint8_t sun_len;
    sa_family_t sun_family;
    char sun_path[104];
};
static_assert(sizeof(sockaddr_un) == 106);

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
