// FreeBSD amd64's constants as values of namespace bsd, for the stand-in's
// own code: each is FreeBSD's name in lower case.
// Written by tools/standin_names.py from records/names_net.list: edit the list.
#pragma once

#include <cstdint>

namespace bsd {

// sys/socket.h: Address families.
inline constexpr int af_unspec = 0;
inline constexpr int af_unix = 1;
inline constexpr int af_inet = 2;
inline constexpr int af_route = 17;
inline constexpr int af_link = 18;
inline constexpr int af_inet6 = 28;
inline constexpr int pf_route = 17;

// sys/socket.h: Socket types.
inline constexpr int sock_stream = 1;
inline constexpr int sock_dgram = 2;
inline constexpr int sock_raw = 3;
inline constexpr int sock_seqpacket = 5;

// sys/socket.h: The routing sysctl's interface list.
inline constexpr int net_rt_iflist = 3;

// netinet/in.h: Protocols.
inline constexpr int ipproto_tcp = 6;
inline constexpr int ipproto_udp = 17;

// sys/file.h: Open-file types of xf_type.
inline constexpr int dtype_vnode = 1;
inline constexpr int dtype_socket = 2;
inline constexpr int dtype_pipe = 3;
inline constexpr int dtype_fifo = 4;
inline constexpr int dtype_kqueue = 5;

// netinet/in_pcb.h: IP versions of inp_vflag.
inline constexpr int inp_ipv4 = 0x1;
inline constexpr int inp_ipv6 = 0x2;

// netinet/tcp.h: Name sizes in xtcpcb.
inline constexpr int tcp_function_name_len_max = 32;
inline constexpr int tcp_log_id_len = 64;
inline constexpr int tcp_ca_name_max = 16;

// netinet/tcp_fsm.h: TCP states of t_state.
inline constexpr int tcps_closed = 0;
inline constexpr int tcps_listen = 1;
inline constexpr int tcps_syn_sent = 2;
inline constexpr int tcps_syn_received = 3;
inline constexpr int tcps_established = 4;
inline constexpr int tcps_close_wait = 5;
inline constexpr int tcps_fin_wait_1 = 6;
inline constexpr int tcps_closing = 7;
inline constexpr int tcps_last_ack = 8;
inline constexpr int tcps_fin_wait_2 = 9;
inline constexpr int tcps_time_wait = 10;

// net/if.h: Interface name size.
inline constexpr int ifnamsiz = 16;

// net/if.h: Interface flags (the 32-bit word; ifr_flags holds its low half).
inline constexpr int iff_up = 0x1;
inline constexpr int iff_broadcast = 0x2;
inline constexpr int iff_debug = 0x4;
inline constexpr int iff_loopback = 0x8;
inline constexpr int iff_pointopoint = 0x10;
inline constexpr int iff_running = 0x40;
inline constexpr int iff_noarp = 0x80;
inline constexpr int iff_promisc = 0x100;
inline constexpr int iff_allmulti = 0x200;
inline constexpr int iff_oactive = 0x400;
inline constexpr int iff_simplex = 0x800;
inline constexpr int iff_link0 = 0x1000;
inline constexpr int iff_link1 = 0x2000;
inline constexpr int iff_link2 = 0x4000;
inline constexpr int iff_multicast = 0x8000;
inline constexpr int iff_ppromisc = 0x20000;

// net/if.h: Link states of ifi_link_state.
inline constexpr int link_state_unknown = 0;
inline constexpr int link_state_down = 1;
inline constexpr int link_state_up = 2;

// net/if_types.h: Interface types of sdl_type and ifi_type.
enum ifType {
    ift_other = 0x1,
    ift_ether = 0x6,
    ift_ppp = 0x17,
    ift_loop = 0x18,
    ift_ieee80211 = 0x47,
    ift_tunnel = 0x83,
};

// net/route.h: Routing messages and their address bits.
inline constexpr int rtm_version = 5;
inline constexpr int rtm_newaddr = 0xc;
inline constexpr int rtm_ifinfo = 0xe;
inline constexpr int rta_netmask = 0x4;
inline constexpr int rta_ifp = 0x10;
inline constexpr int rta_ifa = 0x20;
inline constexpr int rta_brd = 0x80;

// sys/sockio.h: Interface requests (_IOWR encodings).
inline constexpr unsigned long siocgifflags = 0xc0206911;
inline constexpr unsigned long siocgifmtu = 0xc0206933;
inline constexpr unsigned long siocgifmedia = 0xc0306938;

// net/if_media.h: Media word fields.
inline constexpr int ifm_nmask = 0xe0;
inline constexpr int ifm_tmask = 0x1f;
inline constexpr int ifm_eth_xtype = 0x7800;
inline constexpr int ifm_ether = 0x20;
inline constexpr int ifm_ieee80211 = 0x80;
inline constexpr int ifm_fdx = 0x100000;
inline constexpr int ifm_hdx = 0x200000;
inline constexpr int ifm_avalid = 0x1;
inline constexpr int ifm_active = 0x2;

// net/if_media.h: Ethernet subtypes.
inline constexpr int ifm_none = 2;
inline constexpr int ifm_10_t = 3;
inline constexpr int ifm_10_2 = 4;
inline constexpr int ifm_10_5 = 5;
inline constexpr int ifm_100_tx = 6;
inline constexpr int ifm_100_fx = 7;
inline constexpr int ifm_1000_sx = 11;
inline constexpr int ifm_10_fl = 13;
inline constexpr int ifm_1000_cx = 15;
inline constexpr int ifm_1000_t = 16;
inline constexpr int ifm_10g_sr = 19;
inline constexpr int ifm_2500_sx = 21;
inline constexpr int ifm_10g_twinax = 22;
inline constexpr int ifm_unknown = 25;
inline constexpr int ifm_10g_t = 26;

// netdb.h: getnameinfo's sizes and flags.
inline constexpr int ni_maxhost = 1025;
inline constexpr int ni_numerichost = 0x2;
inline constexpr int ni_numericscope = 0x20;

// netdb.h: getnameinfo's failures.
inline constexpr int eai_fail = 4;
inline constexpr int eai_family = 5;
inline constexpr int eai_memory = 6;
inline constexpr int eai_overflow = 14;

}  // namespace bsd
