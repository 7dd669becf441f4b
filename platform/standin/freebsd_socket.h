// FreeBSD amd64 records of the open-file table ("kern.file") and of the
// protocol control-block lists ("net.inet.{tcp,udp}.pcblist",
// "net.local.{stream,dgram,seqpacket}.pcblist"), and the address helpers the
// connection functions call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "freebsd_net.h"

namespace bsd {

using kvaddr_t = std::uint64_t;
using ksize_t = std::uint64_t;
using socklen_t = std::uint32_t;

// Open-file types of xf_type.
#define DTYPE_VNODE 1
#define DTYPE_SOCKET 2
#define DTYPE_PIPE 3
#define DTYPE_FIFO 4
#define DTYPE_KQUEUE 5

struct xfile {
    ksize_t xf_size;
    pid_t xf_pid;
    uid_t xf_uid;
    int xf_fd;
    int _xf_int_pad1;
    kvaddr_t xf_file;
    short xf_type;
    short _xf_short_pad1;
    int xf_count;
    int xf_msgcount;
    int _xf_int_pad2;
    std::int64_t xf_offset;
    kvaddr_t xf_data;
    kvaddr_t xf_vnode;
    u_int xf_flag;
    int _xf_int_pad3;
    std::int64_t _xf_int64_pad[6];
};
static_assert(sizeof(xfile) == 128);
static_assert(offsetof(xfile, xf_size) == 0);
static_assert(offsetof(xfile, xf_pid) == 8);
static_assert(offsetof(xfile, xf_fd) == 16);
static_assert(offsetof(xfile, xf_data) == 56);

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

#define INP_IPV4 0x1
#define INP_IPV6 0x2

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

// FreeBSD's short names for the endpoint fields.
#define inc_fport inc_ie.ie_fport
#define inc_lport inc_ie.ie_lport
#define inc_faddr inc_ie.ie_dependfaddr.id46_addr.ia46_addr4
#define inc_laddr inc_ie.ie_dependladdr.id46_addr.ia46_addr4
#define inc6_faddr inc_ie.ie_dependfaddr.id6_addr
#define inc6_laddr inc_ie.ie_dependladdr.id6_addr

static_assert(sizeof(xinpcb) == 400);
static_assert(offsetof(xinpcb, xi_len) == 0);
static_assert(offsetof(xinpcb, xi_socket) == 8);
static_assert(offsetof(xinpcb, xi_socket.xso_so) == 16);
static_assert(offsetof(xinpcb, inp_inc.inc_fport) == 252);
static_assert(offsetof(xinpcb, inp_inc.inc_lport) == 254);
static_assert(offsetof(xinpcb, inp_inc.inc6_faddr) == 256);
static_assert(offsetof(xinpcb, inp_inc.inc_faddr) == 268);
static_assert(offsetof(xinpcb, inp_inc.inc6_laddr) == 272);
static_assert(offsetof(xinpcb, inp_inc.inc_laddr) == 284);
static_assert(offsetof(xinpcb, inp_vflag) == 392);

#define TCP_FUNCTION_NAME_LEN_MAX 32
#define TCP_LOG_ID_LEN 64
#define TCP_CA_NAME_MAX 16

struct xtcpcb {
    ksize_t xt_len;
    xinpcb xt_inp;
    char xt_stack[TCP_FUNCTION_NAME_LEN_MAX];
    char xt_logid[TCP_LOG_ID_LEN];
    char xt_cc[TCP_CA_NAME_MAX];
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
static_assert(offsetof(xtcpcb, xt_inp.inp_inc.inc_fport) == 260);
static_assert(offsetof(xtcpcb, xt_inp.inp_inc.inc_lport) == 262);
static_assert(offsetof(xtcpcb, xt_inp.inp_inc.inc6_faddr) == 264);
static_assert(offsetof(xtcpcb, xt_inp.inp_inc.inc_faddr) == 276);
static_assert(offsetof(xtcpcb, xt_inp.inp_inc.inc6_laddr) == 280);
static_assert(offsetof(xtcpcb, xt_inp.inp_inc.inc_laddr) == 292);
static_assert(offsetof(xtcpcb, t_state) == 568);

// TCP states of t_state.
#define TCPS_CLOSED 0
#define TCPS_LISTEN 1
#define TCPS_SYN_SENT 2
#define TCPS_SYN_RECEIVED 3
#define TCPS_ESTABLISHED 4
#define TCPS_CLOSE_WAIT 5
#define TCPS_FIN_WAIT_1 6
#define TCPS_CLOSING 7
#define TCPS_LAST_ACK 8
#define TCPS_FIN_WAIT_2 9
#define TCPS_TIME_WAIT 10

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


// FreeBSD's inet_ntop: af is FreeBSD's family number (AF_INET6 is 28).
const char *inet_ntop(int af, const void *src, char *dst, socklen_t size);

// Network to host order of a port (amd64 is little-endian).
constexpr std::uint16_t ntohs(std::uint16_t v) {
    return static_cast<std::uint16_t>((v >> 8) | (v << 8));
}

}  // namespace bsd
