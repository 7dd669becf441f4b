// FreeBSD amd64's sys/unpcb.h, as the stand-in provides it: the records of the
// UNIX-domain PCB lists.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_socketvar.h"
#include "standin/records/sys_types.h"
#include "standin/records/sys_un.h"

namespace bsd {

// Header and trailer of the UNIX-domain lists.
struct xunpgen {
    ksize_t xug_len;
    u_int xug_count;
    std::uint64_t xug_gen;
    std::uint64_t xug_sogen;
};
static_assert(sizeof(xunpgen) == 32);
static_assert(offsetof(xunpgen, xug_len) == 0);
static_assert(offsetof(xunpgen, xug_gen) == 16);

struct xunpcb {
    ksize_t xu_len;
    kvaddr_t xu_unpp;
    kvaddr_t unp_vnode;
    kvaddr_t unp_conn;
    kvaddr_t xu_firstref;
    kvaddr_t xu_nextref;
    std::uint64_t unp_gencnt;
    std::int64_t xu_spare64[8];
    std::int32_t xu_spare32[8];
    union {
        sockaddr_un xu_addr;
        char xu_dummy1[256];
    };
    union {
        sockaddr_un xu_caddr;
        char xu_dummy2[256];
    };
    xsocket xu_socket;
};
static_assert(sizeof(xunpcb) == 904);
static_assert(offsetof(xunpcb, xu_len) == 0);
static_assert(offsetof(xunpcb, xu_addr) == 152);
static_assert(offsetof(xunpcb, xu_addr.sun_path) == 154);
static_assert(offsetof(xunpcb, xu_caddr) == 408);
static_assert(offsetof(xunpcb, xu_socket) == 664);
static_assert(offsetof(xunpcb, xu_socket.xso_so) == 672);

}  // namespace bsd
