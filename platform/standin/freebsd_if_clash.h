// FreeBSD's names for the interface constants (freebsd_if.h), for module
// code only: host headers give several of them other values.
#pragma once

#include "freebsd_if.h"

#undef IFNAMSIZ
#define IFNAMSIZ (::bsd::ifnamsiz)
#undef NI_MAXHOST
#define NI_MAXHOST (::bsd::ni_maxhost)
#undef NI_NUMERICHOST
#define NI_NUMERICHOST (::bsd::ni_numerichost)

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

#undef CTL_NET
#define CTL_NET (::bsd::ctl_net)
#undef PF_ROUTE
#define PF_ROUTE (::bsd::af_route)
#undef NET_RT_IFLIST
#define NET_RT_IFLIST (::bsd::net_rt_iflist)
#undef RTM_IFINFO
#define RTM_IFINFO (::bsd::rtm_ifinfo)

#undef SIOCGIFFLAGS
#define SIOCGIFFLAGS (::bsd::siocgifflags)
#undef SIOCGIFMTU
#define SIOCGIFMTU (::bsd::siocgifmtu)
#undef SIOCGIFMEDIA
#define SIOCGIFMEDIA (::bsd::siocgifmedia)

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

// FreeBSD's short names for union members and shared slots.
#undef ifr_flags
#define ifr_flags ifr_ifru.ifru_flags[0]
#undef ifr_mtu
#define ifr_mtu ifr_ifru.ifru_mtu
#undef ifa_broadaddr
#define ifa_broadaddr ifa_dstaddr
