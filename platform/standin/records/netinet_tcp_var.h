// FreeBSD amd64's netinet/tcp_var.h, as the stand-in provides it: the TCP PCB
// list record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/netinet_in_pcb.h"
#include "standin/records/sys_types.h"

namespace bsd {

struct xtcpcb {
    ksize_t xt_len;
    xinpcb xt_inp;
    char xt_stack[tcp_function_name_len_max];
    char xt_logid[tcp_log_id_len];
    char xt_cc[tcp_ca_name_max];
    std::int64_t spare64[6];
    std::int32_t t_state;
    std::uint32_t t_flags;
    std::int32_t t_sndzerowin;
    std::int32_t t_sndrexmitpack;
    std::int32_t t_rcvoopack;
    std::int32_t t_rcvtime;
    std::int32_t tt_rexmt;
    std::int32_t tt_persist;
    std::int32_t tt_keep;
    std::int32_t tt_2msl;
    std::int32_t tt_delack;
    std::int32_t t_logstate;
    std::uint32_t t_snd_cwnd;
    std::uint32_t t_snd_ssthresh;
    std::uint32_t t_maxseg;
    std::uint32_t t_rcv_wnd;
    std::uint32_t t_snd_wnd;
    std::uint32_t xt_ecn;
    std::uint32_t t_dsack_bytes;
    std::uint32_t t_dsack_tlp_bytes;
    std::uint32_t t_dsack_pack;
    std::uint16_t xt_encaps_port;
    std::int16_t spare16;
    std::int32_t spare32[22];
};
static_assert(sizeof(xtcpcb) == 744);
static_assert(offsetof(xtcpcb, xt_len) == 0);
static_assert(offsetof(xtcpcb, xt_inp) == 8);
static_assert(offsetof(xtcpcb, xt_inp.xi_socket.xso_protocol) == 112);
static_assert(offsetof(xtcpcb, xt_inp.xi_socket.xso_family) == 116);
static_assert(offsetof(xtcpcb, xt_inp.xi_socket.so_type) == 172);
static_assert(offsetof(xtcpcb, xt_inp.inp_inc.inc_ie.ie_fport) == 260);
static_assert(offsetof(xtcpcb, xt_inp.inp_inc.inc_ie.ie_lport) == 262);
static_assert(offsetof(xtcpcb, xt_inp.inp_inc.inc_ie.ie_dependfaddr.id6_addr) == 264);
static_assert(offsetof(xtcpcb, xt_inp.inp_inc.inc_ie.ie_dependfaddr.id46_addr.ia46_addr4) == 276);
static_assert(offsetof(xtcpcb, xt_inp.inp_inc.inc_ie.ie_dependladdr.id6_addr) == 280);
static_assert(offsetof(xtcpcb, xt_inp.inp_inc.inc_ie.ie_dependladdr.id46_addr.ia46_addr4) == 292);
static_assert(offsetof(xtcpcb, t_state) == 568);

}  // namespace bsd
