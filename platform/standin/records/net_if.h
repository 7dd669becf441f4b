// FreeBSD amd64's net/if.h, as the stand-in provides it: interface counters,
// routing messages and interface requests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/net_if_dl.h"
#include "standin/records/sys_socket.h"
#include "standin/records/sys_time.h"

namespace bsd {

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
    std::int64_t ifi_epoch;
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

}  // namespace bsd
