// The interface list of the routing sysctl, {CTL_NET, PF_ROUTE, 0, af,
// NET_RT_IFLIST, index}: for each interface an RTM_IFINFO message with its
// counters and sockaddr_dl, then an RTM_NEWADDR message per address.
#include <cerrno>
#include <cstring>
#include <vector>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/answers/if_bsd.h"
#include "standin/answers/answers.h"

namespace standin {
namespace {

// Socket addresses in routing messages take whole longs, as on FreeBSD.
std::size_t sa_size(std::size_t len) {
    return len == 0 ? sizeof(long) : 1 + ((len - 1) | (sizeof(long) - 1));
}

void append_sa(std::string &out, const std::string &sa) {
    out += sa;
    out.append(sa_size(sa.size()) - sa.size(), '\0');
}

void append_ifinfo(std::string &out, const host_link &link) {
    bsd::if_msghdr ifm = {};
    std::string sdl = bsd_sockaddr_dl(link);
    ifm.ifm_msglen = static_cast<std::uint16_t>(sizeof(ifm) + sa_size(sdl.size()));
    ifm.ifm_version = bsd::rtm_version;
    ifm.ifm_type = bsd::rtm_ifinfo;
    ifm.ifm_addrs = bsd::rta_ifp;
    ifm.ifm_flags = static_cast<int>(bsd_if_flags(link.flags));
    ifm.ifm_index = static_cast<std::uint16_t>(link.index);
    ifm.ifm_data = bsd_if_data(link);
    append_record(out, ifm);
    append_sa(out, sdl);
}

void append_newaddr(std::string &out, const host_link &link, const host_addr &a) {
    unsigned flags = bsd_if_flags(link.flags);
    std::uint32_t scope = a.link_scope ? static_cast<std::uint32_t>(a.index) : 0;
    // In the order of their RTA_* bits: netmask, address, broadcast or peer.
    std::string mask = bsd_netmask(a.v6, a.prefixlen);
    std::string addr = a.v6 ? bsd_sockaddr_in6(a.local, scope) : bsd_sockaddr_in(a.local);
    std::string brd;
    if (a.has_peer)
        brd = a.v6 ? bsd_sockaddr_in6(a.peer, scope) : bsd_sockaddr_in(a.peer);
    else if (a.has_broadcast && (flags & bsd::iff_broadcast))
        brd = bsd_sockaddr_in(a.broadcast);
    bsd::ifa_msghdr ifam = {};
    std::size_t len = sa_size(sizeof(ifam)) + sa_size(mask.size()) + sa_size(addr.size()) +
                      (brd.empty() ? 0 : sa_size(brd.size()));
    ifam.ifam_msglen = static_cast<std::uint16_t>(len);
    ifam.ifam_version = bsd::rtm_version;
    ifam.ifam_type = bsd::rtm_newaddr;
    ifam.ifam_addrs = bsd::rta_netmask | bsd::rta_ifa | (brd.empty() ? 0 : bsd::rta_brd);
    ifam.ifam_flags = static_cast<int>(flags);
    ifam.ifam_index = static_cast<std::uint16_t>(link.index);
    // The header is 20 bytes; the first address starts on the next long.
    append_record(out, ifam);
    out.append(sa_size(sizeof(ifam)) - sizeof(ifam), '\0');
    append_sa(out, mask);
    append_sa(out, addr);
    if (!brd.empty())
        append_sa(out, brd);
}

}  // namespace

int live_net_route(const int *mib, unsigned n, answer &a) {
    // A measure builds the whole answer: its size is the size now.
    if (n != 6 || mib[2] != 0)
        return EINVAL;
    if (mib[4] != bsd::net_rt_iflist)
        return ENOENT;
    int af = mib[3];
    int index = mib[5];
    host_interfaces hi;
    if (int err = read_host_interfaces(hi, index); err != 0)
        return err;
    for (std::size_t i = 0; i < hi.links.size(); i++) {
        const host_link &link = hi.links[i];
        append_ifinfo(a.out, link);
        for (std::size_t k = hi.by_link.first[i]; k < hi.by_link.first[i + 1]; k++) {
            const host_addr &addr = hi.addrs[hi.by_link.order[k]];
            if (af != 0 && af != (addr.v6 ? bsd::af_inet6 : bsd::af_inet))
                continue;
            append_newaddr(a.out, link, addr);
        }
    }
    return 0;
}

}  // namespace standin
