// FreeBSD amd64 network-interface records, constants and calls: the address
// list, the routing messages of the interface list, and the interface
// requests on a socket.
//
// Constants are constexpr values, since the stand-in's host-side files see
// the host's macros of the same names (IFF_MULTICAST is 0x1000 there);
// freebsd_if_clash.h gives module code the FreeBSD macros.
#pragma once

#include <cstddef>
#include <cstdint>

#include "freebsd_net.h"

namespace bsd {

inline constexpr int ifnamsiz = 16;
inline constexpr int ni_maxhost = 1025;
inline constexpr int ni_numerichost = 0x2;
inline constexpr int ni_numericscope = 0x20;

// getnameinfo's failures.
inline constexpr int eai_fail = 4;
inline constexpr int eai_family = 5;
inline constexpr int eai_memory = 6;
inline constexpr int eai_overflow = 14;

// Interface flags (the 32-bit word; ifr_flags holds its low half).
inline constexpr unsigned iff_up = 0x1;
inline constexpr unsigned iff_broadcast = 0x2;
inline constexpr unsigned iff_debug = 0x4;
inline constexpr unsigned iff_loopback = 0x8;
inline constexpr unsigned iff_pointopoint = 0x10;
inline constexpr unsigned iff_running = 0x40;
inline constexpr unsigned iff_noarp = 0x80;
inline constexpr unsigned iff_promisc = 0x100;
inline constexpr unsigned iff_allmulti = 0x200;
inline constexpr unsigned iff_oactive = 0x400;
inline constexpr unsigned iff_simplex = 0x800;
inline constexpr unsigned iff_link0 = 0x1000;
inline constexpr unsigned iff_link1 = 0x2000;
inline constexpr unsigned iff_link2 = 0x4000;
inline constexpr unsigned iff_multicast = 0x8000;
inline constexpr unsigned iff_ppromisc = 0x20000;

// Interface types of sdl_type and ifi_type.
inline constexpr int ift_other = 0x1;
inline constexpr int ift_ether = 0x6;
inline constexpr int ift_ppp = 0x17;
inline constexpr int ift_loop = 0x18;
inline constexpr int ift_ieee80211 = 0x47;
inline constexpr int ift_tunnel = 0x83;

inline constexpr int link_state_unknown = 0;
inline constexpr int link_state_down = 1;
inline constexpr int link_state_up = 2;

// The routing sysctl and its messages.
inline constexpr int ctl_net = 4;
inline constexpr int net_rt_iflist = 3;
inline constexpr int rtm_version = 5;
inline constexpr int rtm_newaddr = 0xc;
inline constexpr int rtm_ifinfo = 0xe;
inline constexpr int rta_netmask = 0x4;
inline constexpr int rta_ifp = 0x10;
inline constexpr int rta_ifa = 0x20;
inline constexpr int rta_brd = 0x80;

// Interface requests (_IOWR encodings).
inline constexpr unsigned long siocgifflags = 0xc0206911;
inline constexpr unsigned long siocgifmtu = 0xc0206933;
inline constexpr unsigned long siocgifmedia = 0xc0306938;

// Media words.
inline constexpr int ifm_nmask = 0xe0;
inline constexpr int ifm_tmask = 0x1f;
inline constexpr int ifm_eth_xtype = 0x7800;
inline constexpr int ifm_ether = 0x20;
inline constexpr int ifm_ieee80211 = 0x80;
inline constexpr int ifm_fdx = 0x100000;
inline constexpr int ifm_hdx = 0x200000;
inline constexpr int ifm_avalid = 0x1;
inline constexpr int ifm_active = 0x2;
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

struct ifaddrs {
    ifaddrs *ifa_next;
    char *ifa_name;
    unsigned int ifa_flags;
    sockaddr *ifa_addr;
    sockaddr *ifa_netmask;
    sockaddr *ifa_dstaddr;  // also the broadcast address
    void *ifa_data;
};
static_assert(sizeof(ifaddrs) == 56);
static_assert(offsetof(ifaddrs, ifa_addr) == 24);
static_assert(offsetof(ifaddrs, ifa_dstaddr) == 40);

struct if_data {
    std::uint8_t ifi_type;
    std::uint8_t ifi_physical;
    std::uint8_t ifi_addrlen;
    std::uint8_t ifi_hdrlen;
    std::uint8_t ifi_link_state;
    std::uint8_t ifi_vhid;
    std::uint16_t ifi_datalen;
    std::uint32_t ifi_mtu;
    std::uint32_t ifi_metric;
    std::uint64_t ifi_baudrate;
    std::uint64_t ifi_ipackets;
    std::uint64_t ifi_ierrors;
    std::uint64_t ifi_opackets;
    std::uint64_t ifi_oerrors;
    std::uint64_t ifi_collisions;
    std::uint64_t ifi_ibytes;
    std::uint64_t ifi_obytes;
    std::uint64_t ifi_imcasts;
    std::uint64_t ifi_omcasts;
    std::uint64_t ifi_iqdrops;
    std::uint64_t ifi_oqdrops;
    std::uint64_t ifi_noproto;
    std::uint64_t ifi_hwassist;
    std::uint64_t ifi_epoch;
    timeval ifi_lastchange;
};
static_assert(sizeof(if_data) == 152);

// RTM_IFINFO: the header, the interface's counters, then its sockaddr_dl.
struct if_msghdr {
    std::uint16_t ifm_msglen;
    std::uint8_t ifm_version;
    std::uint8_t ifm_type;
    int ifm_addrs;
    int ifm_flags;
    std::uint16_t ifm_index;
    std::uint16_t _ifm_spare1;
    if_data ifm_data;
};
static_assert(sizeof(if_msghdr) == 168);
static_assert(offsetof(if_msghdr, ifm_type) == 3);
static_assert(offsetof(if_msghdr, ifm_data) == 16);
static_assert(offsetof(if_msghdr, ifm_data.ifi_ipackets) == 40);
static_assert(offsetof(if_msghdr, ifm_data.ifi_ierrors) == 48);
static_assert(offsetof(if_msghdr, ifm_data.ifi_opackets) == 56);
static_assert(offsetof(if_msghdr, ifm_data.ifi_oerrors) == 64);
static_assert(offsetof(if_msghdr, ifm_data.ifi_ibytes) == 80);
static_assert(offsetof(if_msghdr, ifm_data.ifi_obytes) == 88);
static_assert(offsetof(if_msghdr, ifm_data.ifi_iqdrops) == 112);
// The sockaddr_dl that follows: sdl_nlen at 173, the name at 176.
static_assert(sizeof(if_msghdr) + offsetof(sockaddr_dl, sdl_nlen) == 173);
static_assert(sizeof(if_msghdr) + offsetof(sockaddr_dl, sdl_data) == 176);

// RTM_NEWADDR: one address of the interface before it.
struct ifa_msghdr {
    std::uint16_t ifam_msglen;
    std::uint8_t ifam_version;
    std::uint8_t ifam_type;
    int ifam_addrs;
    int ifam_flags;
    std::uint16_t ifam_index;
    std::uint16_t _ifam_spare1;
    int ifam_metric;
};
static_assert(sizeof(ifa_msghdr) == 20);

struct ifreq {
    char ifr_name[16];
    union {
        sockaddr ifru_addr;
        short ifru_flags[2];
        int ifru_metric;
        int ifru_mtu;
        void *ifru_data;
    } ifr_ifru;
};
static_assert(sizeof(ifreq) == 32);
static_assert(offsetof(ifreq, ifr_ifru) == 16);

struct ifmediareq {
    char ifm_name[16];
    int ifm_current;
    int ifm_mask;
    int ifm_status;
    int ifm_active;
    int ifm_count;
    int *ifm_ulist;
};
static_assert(sizeof(ifmediareq) == 48);
static_assert(offsetof(ifmediareq, ifm_active) == 28);
static_assert(offsetof(ifmediareq, ifm_ulist) == 40);

int getifaddrs(ifaddrs **ifap);
void freeifaddrs(ifaddrs *ifp);
int getnameinfo(const sockaddr *sa, unsigned int salen, char *host, std::size_t hostlen,
                char *serv, std::size_t servlen, int flags);
int socket(int domain, int type, int protocol);
int ioctl(int fd, unsigned long request, void *arg);
int close(int fd);

}  // namespace bsd
