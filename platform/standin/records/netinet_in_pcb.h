// FreeBSD amd64's netinet/in_pcb.h, as the stand-in provides it: the records of
// the inet PCB lists.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/netinet_in.h"
#include "standin/records/sys_socketvar.h"
#include "standin/records/sys_types.h"

namespace bsd {

// Header and trailer of both inet lists.
struct xinpgen {
    ksize_t xig_len;
    u_int xig_count;
    std::uint32_t _xig_spare32;
    std::uint64_t xig_gen;
    std::uint64_t xig_sogen;
    std::uint64_t _xig_spare64[4];
};
static_assert(sizeof(xinpgen) == 64);
static_assert(offsetof(xinpgen, xig_len) == 0);
static_assert(offsetof(xinpgen, xig_gen) == 16);

// The endpoints of an inet PCB: for an IPv4 PCB the address is the last four
// bytes of the 16-byte field.
struct in_addr_4in6 {
    std::uint32_t ia46_pad32[3];
    in_addr ia46_addr4;
};

struct in_endpoints {
    std::uint16_t ie_fport;
    std::uint16_t ie_lport;
    union {
        in_addr_4in6 id46_addr;
        in6_addr id6_addr;
    } ie_dependfaddr;
    union {
        in_addr_4in6 id46_addr;
        in6_addr id6_addr;
    } ie_dependladdr;
    std::uint32_t ie6_zoneid;
};

struct in_conninfo {
    std::uint8_t inc_flags;
    std::uint8_t inc_len;
    std::uint16_t inc_fibnum;
    in_endpoints inc_ie;
};
static_assert(sizeof(in_conninfo) == 44);

struct xinpcb {
    ksize_t xi_len;
    xsocket xi_socket;
    in_conninfo inp_inc;
    std::uint64_t inp_gencnt;
    kvaddr_t inp_ppcb;
    std::int64_t inp_spare64[4];
    std::uint32_t inp_flow;
    std::uint32_t inp_flowid;
    std::uint32_t inp_flowtype;
    std::int32_t inp_flags;
    std::int32_t inp_flags2;
    std::uint32_t inp_unused;
    std::int32_t in6p_cksum;
    std::int32_t inp_spare32[4];
    std::uint16_t in6p_hops;
    std::uint8_t inp_ip_tos;
    std::int8_t pad8;
    std::uint8_t inp_vflag;
    std::uint8_t inp_ip_ttl;
    std::uint8_t inp_ip_p;
    std::uint8_t inp_ip_minttl;
    std::int8_t inp_spare8[4];
};
static_assert(sizeof(xinpcb) == 400);
static_assert(offsetof(xinpcb, xi_len) == 0);
static_assert(offsetof(xinpcb, xi_socket) == 8);
static_assert(offsetof(xinpcb, xi_socket.xso_so) == 16);
static_assert(offsetof(xinpcb, inp_inc.inc_ie.ie_fport) == 252);
static_assert(offsetof(xinpcb, inp_inc.inc_ie.ie_lport) == 254);
static_assert(offsetof(xinpcb, inp_inc.inc_ie.ie_dependfaddr.id6_addr) == 256);
static_assert(offsetof(xinpcb, inp_inc.inc_ie.ie_dependfaddr.id46_addr.ia46_addr4) == 268);
static_assert(offsetof(xinpcb, inp_inc.inc_ie.ie_dependladdr.id6_addr) == 272);
static_assert(offsetof(xinpcb, inp_inc.inc_ie.ie_dependladdr.id46_addr.ia46_addr4) == 284);
static_assert(offsetof(xinpcb, inp_vflag) == 392);

}  // namespace bsd
