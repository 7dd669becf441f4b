// The host's network interfaces, in the host's own terms: links and
// addresses from one routing-netlink dump each, and the per-interface
// requests on a socket. The FreeBSD side (if_bsd.h) translates.
//
// Kept apart from freebsd.h: the host's interface headers define macros
// (ifr_name, s6_addr, IFF_MULTICAST) that would rewrite FreeBSD's records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace standin {

struct host_link {
    int index = 0;
    std::string name;
    unsigned flags = 0;      // the host's interface flags
    unsigned mtu = 0;
    unsigned short type = 0; // the host's hardware type (ARPHRD_*)
    std::string hwaddr;      // empty when the link has none
    bool carrier = false;
    // Counters (64-bit where the host gives them so).
    std::uint64_t rx_packets = 0, tx_packets = 0, rx_bytes = 0, tx_bytes = 0;
    std::uint64_t rx_errors = 0, tx_errors = 0, rx_dropped = 0, tx_dropped = 0;
    std::uint64_t multicast = 0, collisions = 0;
};

struct host_addr {
    int index = 0;
    bool v6 = false;
    unsigned char prefixlen = 0;
    unsigned char local[16] = {};
    bool has_peer = false;
    unsigned char peer[16] = {};
    bool has_broadcast = false;
    unsigned char broadcast[4] = {};
    bool link_scope = false;  // an IPv6 address valid on its link only
};

// The host's hardware types that the translation tells apart.
inline constexpr unsigned short arphrd_ether = 1;
inline constexpr unsigned short arphrd_ppp = 512;
inline constexpr unsigned short arphrd_tunnel = 768;
inline constexpr unsigned short arphrd_loopback = 772;
inline constexpr unsigned short arphrd_ieee80211 = 801;

// The host flags that have FreeBSD counterparts.
inline constexpr unsigned host_iff_running = 0x40;
inline constexpr unsigned host_iff_promisc = 0x100;
inline constexpr unsigned host_iff_multicast = 0x1000;

// The addresses of each link, so that laying links and addresses out is one
// pass over each: link i's addresses are addrs[order[k]] for k from
// first[i] to first[i + 1], in the host's order. An address of no listed
// link is in none.
struct link_addrs {
    std::vector<std::size_t> first;
    std::vector<std::size_t> order;
};

// Every link (index 0) or the one with this index, every address in the
// host's order, and each link's addresses.
struct host_interfaces {
    std::vector<host_link> links;
    std::vector<host_addr> addrs;
    link_addrs by_link;
};
// errno value or 0.
int read_host_interfaces(host_interfaces &out, int index = 0);

// The link settings of an interface (ethtool). speed in Mbit/s, 0 unknown;
// duplex 1 full, 0 half, -1 unknown; port the host's PORT_* number.
struct host_media {
    unsigned speed = 0;
    int duplex = -1;
    int port = 0;
};

// Requests on a host socket; each returns 0 or the host's errno.
int host_if_flags(int fd, const char *name, unsigned &flags);
int host_if_mtu(int fd, const char *name, int &mtu);
int host_if_media(int fd, const char *name, host_media &media);

// An IPv4 datagram socket of the host; -1 with errno.
int host_dgram_socket();

// The name of the interface with this index; false when there is none.
bool host_if_name(unsigned index, std::string &name);

// Numeric text of 4 or 16 address bytes; false when it does not fit.
bool host_ntop(bool v6, const unsigned char *bytes, char *buf, std::size_t size);

}  // namespace standin
