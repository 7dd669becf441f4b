// FreeBSD amd64's sys/socketvar.h, as the stand-in provides it: the socket
// inside each PCB list record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_types.h"

namespace bsd {

struct xsockbuf {
    std::uint32_t sb_cc;
    std::uint32_t sb_hiwat;
    std::uint32_t sb_mbcnt;
    std::uint32_t sb_spare0;
    std::uint32_t sb_spare1;
    std::uint32_t sb_mbmax;
    std::int32_t sb_lowat;
    std::int32_t sb_timeo;
    std::int16_t sb_flags;
};
static_assert(sizeof(xsockbuf) == 36);

struct xsocket {
    ksize_t xso_len;
    kvaddr_t xso_so;
    kvaddr_t so_pcb;
    std::uint64_t so_oobmark;
    kvaddr_t so_splice_so;
    std::int64_t so_spare64[7];
    std::int32_t xso_protocol;
    std::int32_t xso_family;
    std::uint32_t so_qlen;
    std::uint32_t so_incqlen;
    std::uint32_t so_qlimit;
    pid_t so_pgid;
    uid_t so_uid;
    std::int32_t so_spare32[8];
    std::int16_t so_type;
    std::int16_t so_options;
    std::int16_t so_linger;
    std::int16_t so_state;
    std::int16_t so_timeo;
    std::uint16_t so_error;
    xsockbuf so_rcv;
    xsockbuf so_snd;
};
static_assert(sizeof(xsocket) == 240);
static_assert(offsetof(xsocket, xso_so) == 8);
static_assert(offsetof(xsocket, xso_protocol) == 96);
static_assert(offsetof(xsocket, xso_family) == 100);
static_assert(offsetof(xsocket, so_type) == 156);

}  // namespace bsd
