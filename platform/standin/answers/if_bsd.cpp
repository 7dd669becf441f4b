#include "standin/answers/if_bsd.h"

#include <cerrno>
#include <cstring>

namespace standin {

unsigned bsd_if_flags(unsigned host_flags) {
    // The low bits up to IFF_ALLMULTI mean the same on both, but 0x20 (the
    // host's NOTRAILERS) which FreeBSD uses for something else.
    unsigned flags = host_flags & 0x3df;
    if (host_flags & host_iff_multicast)
        flags |= bsd::iff_multicast;
    // A promiscuous mode the user asked for is FreeBSD's PPROMISC too.
    if (host_flags & host_iff_promisc)
        flags |= bsd::iff_ppromisc;
    return flags;
}

std::uint8_t bsd_if_type(unsigned short host_type) {
    switch (host_type) {
    case arphrd_ether:
        return bsd::ift_ether;
    case arphrd_loopback:
        return bsd::ift_loop;
    case arphrd_ppp:
        return bsd::ift_ppp;
    case arphrd_tunnel:
        return bsd::ift_tunnel;
    case arphrd_ieee80211:
        return bsd::ift_ieee80211;
    default:
        return bsd::ift_other;
    }
}

bsd::if_data bsd_if_data(const host_link &link) {
    bsd::if_data d = {};
    d.ifi_type = bsd_if_type(link.type);
    d.ifi_addrlen = static_cast<std::uint8_t>(link.hwaddr.size() < 255 ? link.hwaddr.size() : 255);
    d.ifi_hdrlen = d.ifi_type == bsd::ift_ether ? 14 : 0;
    if (d.ifi_type == bsd::ift_loop)
        d.ifi_link_state = bsd::link_state_unknown;
    else
        d.ifi_link_state = link.carrier ? bsd::link_state_up : bsd::link_state_down;
    d.ifi_datalen = sizeof(bsd::if_data);
    d.ifi_mtu = link.mtu;
    d.ifi_ipackets = link.rx_packets;
    d.ifi_ierrors = link.rx_errors;
    d.ifi_opackets = link.tx_packets;
    d.ifi_oerrors = link.tx_errors;
    d.ifi_collisions = link.collisions;
    d.ifi_ibytes = link.rx_bytes;
    d.ifi_obytes = link.tx_bytes;
    d.ifi_imcasts = link.multicast;
    d.ifi_iqdrops = link.rx_dropped;
    d.ifi_oqdrops = link.tx_dropped;
    return d;
}

int bsd_media_word(const host_media &media) {
    // The host's PORT_FIBRE, PORT_BNC, PORT_AUI and PORT_DA.
    constexpr int fibre = 3, bnc = 4, aui = 1, da = 5;
    int subtype;
    switch (media.speed) {
    case 0:
        // No link: a bare Ethernet word, neither subtype nor duplex.
        return bsd::ifm_ether;
    case 10:
        subtype = media.port == fibre ? bsd::ifm_10_fl
                  : media.port == bnc ? bsd::ifm_10_2
                  : media.port == aui ? bsd::ifm_10_5
                                      : bsd::ifm_10_t;
        break;
    case 100:
        subtype = media.port == fibre ? bsd::ifm_100_fx : bsd::ifm_100_tx;
        break;
    case 1000:
        subtype = media.port == fibre ? bsd::ifm_1000_sx
                  : media.port == da  ? bsd::ifm_1000_cx
                                      : bsd::ifm_1000_t;
        break;
    case 2500:
        subtype = media.port == fibre ? bsd::ifm_2500_sx : bsd::ifm_unknown;
        break;
    case 10000:
        subtype = media.port == fibre ? bsd::ifm_10g_sr
                  : media.port == da  ? bsd::ifm_10g_twinax
                                      : bsd::ifm_10g_t;
        break;
    default:
        // Speeds that FreeBSD names only by extended subtypes.
        subtype = bsd::ifm_unknown;
        break;
    }
    int word = bsd::ifm_ether | subtype;
    if (media.duplex == 1)
        word |= bsd::ifm_fdx;
    else if (media.duplex == 0)
        word |= bsd::ifm_hdx;
    return word;
}

// As FreeBSD does, the record grows past its 54-byte minimum when name and
// address outgrow sdl_data, and sdl_len says by how much.
std::string bsd_sockaddr_dl(const host_link &link) {
    bsd::sockaddr_dl sdl = {};
    constexpr std::size_t data_off = offsetof(bsd::sockaddr_dl, sdl_data);
    std::size_t nlen = link.name.size() < 255 - data_off ? link.name.size() : 255 - data_off;
    std::size_t room = 255 - data_off - nlen;
    std::size_t alen = link.hwaddr.size() < room ? link.hwaddr.size() : room;
    std::size_t len = data_off + nlen + alen > sizeof(sdl) ? data_off + nlen + alen : sizeof(sdl);
    sdl.sdl_len = static_cast<std::uint8_t>(len);
    sdl.sdl_family = bsd::af_link;
    sdl.sdl_index = static_cast<std::uint16_t>(link.index);
    sdl.sdl_type = bsd_if_type(link.type);
    sdl.sdl_nlen = static_cast<std::uint8_t>(nlen);
    sdl.sdl_alen = static_cast<std::uint8_t>(alen);
    std::string out(reinterpret_cast<const char *>(&sdl), data_off);
    out += link.name.substr(0, nlen);
    out += link.hwaddr.substr(0, alen);
    out.resize(len, '\0');
    return out;
}

std::string bsd_sockaddr_in(const unsigned char *bytes) {
    bsd::sockaddr_in sin = {};
    sin.sin_len = sizeof(sin);
    sin.sin_family = bsd::af_inet;
    std::memcpy(&sin.sin_addr, bytes, 4);
    return std::string(reinterpret_cast<const char *>(&sin), sizeof(sin));
}

std::string bsd_sockaddr_in6(const unsigned char *bytes, std::uint32_t scope_id) {
    bsd::sockaddr_in6 sin6 = {};
    sin6.sin6_len = sizeof(sin6);
    sin6.sin6_family = bsd::af_inet6;
    std::memcpy(sin6.sin6_addr.s6_addr, bytes, 16);
    sin6.sin6_scope_id = scope_id;
    return std::string(reinterpret_cast<const char *>(&sin6), sizeof(sin6));
}

std::string bsd_netmask(bool v6, unsigned prefixlen) {
    unsigned char mask[16] = {};
    unsigned bits = prefixlen < (v6 ? 128u : 32u) ? prefixlen : (v6 ? 128u : 32u);
    for (unsigned i = 0; i < bits; i++)
        mask[i / 8] |= static_cast<unsigned char>(0x80u >> (i % 8));
    return v6 ? bsd_sockaddr_in6(mask, 0) : bsd_sockaddr_in(mask);
}

int bsd_if_errno(int host_err) {
    // FreeBSD reports a name of no interface as ENXIO, a request the
    // interface does not support as EINVAL.
    if (host_err == ENODEV)
        return ENXIO;
    if (host_err == EOPNOTSUPP)
        return EINVAL;
    return host_err;
}

}  // namespace standin
