// FreeBSD's names as macros, for module code only. Module code includes
// this after Python.h and the host headers, so FreeBSD's definition wins.
// Written by tools/standin_names.py from records/names_net.list: edit the list.
#pragma once

#include "standin/freebsd.h"

// sys/socket.h: Address families.
#undef AF_UNSPEC
#define AF_UNSPEC (::bsd::af_unspec)
#undef AF_UNIX
#define AF_UNIX (::bsd::af_unix)
#undef AF_INET
#define AF_INET (::bsd::af_inet)
#undef AF_ROUTE
#define AF_ROUTE (::bsd::af_route)
#undef AF_LINK
#define AF_LINK (::bsd::af_link)
#undef AF_INET6
#define AF_INET6 (::bsd::af_inet6)
#undef PF_ROUTE
#define PF_ROUTE (::bsd::pf_route)
// sys/socket.h: Socket types.
#undef SOCK_STREAM
#define SOCK_STREAM (::bsd::sock_stream)
#undef SOCK_DGRAM
#define SOCK_DGRAM (::bsd::sock_dgram)
#undef SOCK_RAW
#define SOCK_RAW (::bsd::sock_raw)
#undef SOCK_SEQPACKET
#define SOCK_SEQPACKET (::bsd::sock_seqpacket)
// sys/socket.h: The routing sysctl's interface list.
#undef NET_RT_IFLIST
#define NET_RT_IFLIST (::bsd::net_rt_iflist)
// netinet/in.h: Protocols.
#undef IPPROTO_TCP
#define IPPROTO_TCP (::bsd::ipproto_tcp)
#undef IPPROTO_UDP
#define IPPROTO_UDP (::bsd::ipproto_udp)
// netinet/in.h: Network to host order.
#undef ntohs
#define ntohs(x) (::bsd::ntohs(x))
// sys/file.h: Open-file types of xf_type.
#undef DTYPE_VNODE
#define DTYPE_VNODE (::bsd::dtype_vnode)
#undef DTYPE_SOCKET
#define DTYPE_SOCKET (::bsd::dtype_socket)
#undef DTYPE_PIPE
#define DTYPE_PIPE (::bsd::dtype_pipe)
#undef DTYPE_FIFO
#define DTYPE_FIFO (::bsd::dtype_fifo)
#undef DTYPE_KQUEUE
#define DTYPE_KQUEUE (::bsd::dtype_kqueue)
// netinet/in_pcb.h: IP versions of inp_vflag.
#undef INP_IPV4
#define INP_IPV4 (::bsd::inp_ipv4)
#undef INP_IPV6
#define INP_IPV6 (::bsd::inp_ipv6)
// netinet/in_pcb.h: Short names for the endpoint fields.
#undef inc_fport
#define inc_fport inc_ie.ie_fport
#undef inc_lport
#define inc_lport inc_ie.ie_lport
#undef inc_faddr
#define inc_faddr inc_ie.ie_dependfaddr.id46_addr.ia46_addr4
#undef inc_laddr
#define inc_laddr inc_ie.ie_dependladdr.id46_addr.ia46_addr4
#undef inc6_faddr
#define inc6_faddr inc_ie.ie_dependfaddr.id6_addr
#undef inc6_laddr
#define inc6_laddr inc_ie.ie_dependladdr.id6_addr
// netinet/tcp.h: Name sizes in xtcpcb.
#undef TCP_FUNCTION_NAME_LEN_MAX
#define TCP_FUNCTION_NAME_LEN_MAX (::bsd::tcp_function_name_len_max)
#undef TCP_LOG_ID_LEN
#define TCP_LOG_ID_LEN (::bsd::tcp_log_id_len)
#undef TCP_CA_NAME_MAX
#define TCP_CA_NAME_MAX (::bsd::tcp_ca_name_max)
// netinet/tcp_fsm.h: TCP states of t_state.
#undef TCPS_CLOSED
#define TCPS_CLOSED (::bsd::tcps_closed)
#undef TCPS_LISTEN
#define TCPS_LISTEN (::bsd::tcps_listen)
#undef TCPS_SYN_SENT
#define TCPS_SYN_SENT (::bsd::tcps_syn_sent)
#undef TCPS_SYN_RECEIVED
#define TCPS_SYN_RECEIVED (::bsd::tcps_syn_received)
#undef TCPS_ESTABLISHED
#define TCPS_ESTABLISHED (::bsd::tcps_established)
#undef TCPS_CLOSE_WAIT
#define TCPS_CLOSE_WAIT (::bsd::tcps_close_wait)
#undef TCPS_FIN_WAIT_1
#define TCPS_FIN_WAIT_1 (::bsd::tcps_fin_wait_1)
#undef TCPS_CLOSING
#define TCPS_CLOSING (::bsd::tcps_closing)
#undef TCPS_LAST_ACK
#define TCPS_LAST_ACK (::bsd::tcps_last_ack)
#undef TCPS_FIN_WAIT_2
#define TCPS_FIN_WAIT_2 (::bsd::tcps_fin_wait_2)
#undef TCPS_TIME_WAIT
#define TCPS_TIME_WAIT (::bsd::tcps_time_wait)
// net/if.h: Interface name size.
#undef IFNAMSIZ
#define IFNAMSIZ (::bsd::ifnamsiz)
// net/if.h: Interface flags (the 32-bit word; ifr_flags holds its low half).
#undef IFF_UP
#define IFF_UP (::bsd::iff_up)
#undef IFF_BROADCAST
#define IFF_BROADCAST (::bsd::iff_broadcast)
#undef IFF_DEBUG
#define IFF_DEBUG (::bsd::iff_debug)
#undef IFF_LOOPBACK
#define IFF_LOOPBACK (::bsd::iff_loopback)
#undef IFF_POINTOPOINT
#define IFF_POINTOPOINT (::bsd::iff_pointopoint)
#undef IFF_RUNNING
#define IFF_RUNNING (::bsd::iff_running)
#undef IFF_NOARP
#define IFF_NOARP (::bsd::iff_noarp)
#undef IFF_PROMISC
#define IFF_PROMISC (::bsd::iff_promisc)
#undef IFF_ALLMULTI
#define IFF_ALLMULTI (::bsd::iff_allmulti)
#undef IFF_OACTIVE
#define IFF_OACTIVE (::bsd::iff_oactive)
#undef IFF_SIMPLEX
#define IFF_SIMPLEX (::bsd::iff_simplex)
#undef IFF_LINK0
#define IFF_LINK0 (::bsd::iff_link0)
#undef IFF_LINK1
#define IFF_LINK1 (::bsd::iff_link1)
#undef IFF_LINK2
#define IFF_LINK2 (::bsd::iff_link2)
#undef IFF_MULTICAST
#define IFF_MULTICAST (::bsd::iff_multicast)
#undef IFF_PPROMISC
#define IFF_PPROMISC (::bsd::iff_ppromisc)
// net/if.h: Link states of ifi_link_state.
#undef LINK_STATE_UNKNOWN
#define LINK_STATE_UNKNOWN (::bsd::link_state_unknown)
#undef LINK_STATE_DOWN
#define LINK_STATE_DOWN (::bsd::link_state_down)
#undef LINK_STATE_UP
#define LINK_STATE_UP (::bsd::link_state_up)
// net/if.h: Short names for ifreq's union members.
#undef ifr_flags
#define ifr_flags ifr_ifru.ifru_flags[0]
#undef ifr_mtu
#define ifr_mtu ifr_ifru.ifru_mtu
// net/if_types.h: Interface types of sdl_type and ifi_type.
#undef IFT_OTHER
#define IFT_OTHER (::bsd::ift_other)
#undef IFT_ETHER
#define IFT_ETHER (::bsd::ift_ether)
#undef IFT_PPP
#define IFT_PPP (::bsd::ift_ppp)
#undef IFT_LOOP
#define IFT_LOOP (::bsd::ift_loop)
#undef IFT_IEEE80211
#define IFT_IEEE80211 (::bsd::ift_ieee80211)
#undef IFT_TUNNEL
#define IFT_TUNNEL (::bsd::ift_tunnel)
// net/route.h: Routing messages and their address bits.
#undef RTM_VERSION
#define RTM_VERSION (::bsd::rtm_version)
#undef RTM_NEWADDR
#define RTM_NEWADDR (::bsd::rtm_newaddr)
#undef RTM_IFINFO
#define RTM_IFINFO (::bsd::rtm_ifinfo)
#undef RTA_NETMASK
#define RTA_NETMASK (::bsd::rta_netmask)
#undef RTA_IFP
#define RTA_IFP (::bsd::rta_ifp)
#undef RTA_IFA
#define RTA_IFA (::bsd::rta_ifa)
#undef RTA_BRD
#define RTA_BRD (::bsd::rta_brd)
// sys/sockio.h: Interface requests (_IOWR encodings).
#undef SIOCGIFFLAGS
#define SIOCGIFFLAGS (::bsd::siocgifflags)
#undef SIOCGIFMTU
#define SIOCGIFMTU (::bsd::siocgifmtu)
#undef SIOCGIFMEDIA
#define SIOCGIFMEDIA (::bsd::siocgifmedia)
// net/if_media.h: Media word fields.
#undef IFM_NMASK
#define IFM_NMASK (::bsd::ifm_nmask)
#undef IFM_TMASK
#define IFM_TMASK (::bsd::ifm_tmask)
#undef IFM_ETH_XTYPE
#define IFM_ETH_XTYPE (::bsd::ifm_eth_xtype)
#undef IFM_ETHER
#define IFM_ETHER (::bsd::ifm_ether)
#undef IFM_IEEE80211
#define IFM_IEEE80211 (::bsd::ifm_ieee80211)
#undef IFM_FDX
#define IFM_FDX (::bsd::ifm_fdx)
#undef IFM_HDX
#define IFM_HDX (::bsd::ifm_hdx)
#undef IFM_AVALID
#define IFM_AVALID (::bsd::ifm_avalid)
#undef IFM_ACTIVE
#define IFM_ACTIVE (::bsd::ifm_active)
// net/if_media.h: Ethernet subtypes.
#undef IFM_NONE
#define IFM_NONE (::bsd::ifm_none)
#undef IFM_10_T
#define IFM_10_T (::bsd::ifm_10_t)
#undef IFM_10_2
#define IFM_10_2 (::bsd::ifm_10_2)
#undef IFM_10_5
#define IFM_10_5 (::bsd::ifm_10_5)
#undef IFM_100_TX
#define IFM_100_TX (::bsd::ifm_100_tx)
#undef IFM_100_FX
#define IFM_100_FX (::bsd::ifm_100_fx)
#undef IFM_1000_SX
#define IFM_1000_SX (::bsd::ifm_1000_sx)
#undef IFM_10_FL
#define IFM_10_FL (::bsd::ifm_10_fl)
#undef IFM_1000_CX
#define IFM_1000_CX (::bsd::ifm_1000_cx)
#undef IFM_1000_T
#define IFM_1000_T (::bsd::ifm_1000_t)
#undef IFM_10G_SR
#define IFM_10G_SR (::bsd::ifm_10g_sr)
#undef IFM_2500_SX
#define IFM_2500_SX (::bsd::ifm_2500_sx)
#undef IFM_10G_TWINAX
#define IFM_10G_TWINAX (::bsd::ifm_10g_twinax)
#undef IFM_UNKNOWN
#define IFM_UNKNOWN (::bsd::ifm_unknown)
#undef IFM_10G_T
#define IFM_10G_T (::bsd::ifm_10g_t)
// ifaddrs.h: A point-to-point address shares the broadcast slot.
#undef ifa_broadaddr
#define ifa_broadaddr ifa_dstaddr
// netdb.h: getnameinfo's sizes and flags.
#undef NI_MAXHOST
#define NI_MAXHOST (::bsd::ni_maxhost)
#undef NI_NUMERICHOST
#define NI_NUMERICHOST (::bsd::ni_numerichost)
#undef NI_NUMERICSCOPE
#define NI_NUMERICSCOPE (::bsd::ni_numericscope)
// netdb.h: getnameinfo's failures.
#undef EAI_FAIL
#define EAI_FAIL (::bsd::eai_fail)
#undef EAI_FAMILY
#define EAI_FAMILY (::bsd::eai_family)
#undef EAI_MEMORY
#define EAI_MEMORY (::bsd::eai_memory)
#undef EAI_OVERFLOW
#define EAI_OVERFLOW (::bsd::eai_overflow)
