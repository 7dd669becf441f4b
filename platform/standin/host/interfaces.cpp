#include "standin/host/interfaces.h"
#include "standin/host/netlink.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/ethtool.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <unordered_map>

namespace standin {
namespace {

// A host with more links or addresses than this is refused (ENOBUFS).
constexpr std::size_t max_entries = 1 << 16;

// Runs one routing-netlink dump request ("route.link" or "route.addr" for
// injected replies), calling cb for each message; returns 0 or an errno.
int dump(const char *key, std::uint16_t type, std::size_t extra, mnl_cb_t cb, void *data) {
    // The family header (ifinfomsg or ifaddrmsg) stays zero: every family.
    return netlink_dump(NETLINK_ROUTE, key, type, nullptr, extra, max_entries, cb, data);
}

struct link_walk {
    std::vector<host_link> *out;
    int index;
};

int link_attr(const nlattr *attr, void *data) {
    auto *link = static_cast<host_link *>(data);
    auto len = mnl_attr_get_payload_len(attr);
    const void *p = mnl_attr_get_payload(attr);
    switch (mnl_attr_get_type(attr)) {
    case IFLA_IFNAME:
        link->name.assign(static_cast<const char *>(p), strnlen(static_cast<const char *>(p), len));
        break;
    case IFLA_MTU:
        if (len >= sizeof(std::uint32_t))
            link->mtu = mnl_attr_get_u32(attr);
        break;
    case IFLA_ADDRESS:
        link->hwaddr.assign(static_cast<const char *>(p), len);
        break;
    case IFLA_CARRIER:
        if (len >= 1)
            link->carrier = mnl_attr_get_u8(attr) != 0;
        break;
    case IFLA_STATS64:
        if (len >= sizeof(rtnl_link_stats64)) {
            rtnl_link_stats64 s;
            std::memcpy(&s, p, sizeof(s));
            link->rx_packets = s.rx_packets;
            link->tx_packets = s.tx_packets;
            link->rx_bytes = s.rx_bytes;
            link->tx_bytes = s.tx_bytes;
            link->rx_errors = s.rx_errors;
            link->tx_errors = s.tx_errors;
            link->rx_dropped = s.rx_dropped;
            link->tx_dropped = s.tx_dropped;
            link->multicast = s.multicast;
            link->collisions = s.collisions;
        }
        break;
    default:
        break;
    }
    return MNL_CB_OK;
}

int link_msg(const nlmsghdr *nlh, void *data) {
    auto *walk = static_cast<link_walk *>(data);
    if (nlh->nlmsg_type != RTM_NEWLINK || mnl_nlmsg_get_payload_len(nlh) < sizeof(ifinfomsg))
        return MNL_CB_OK;
    const auto *ifi = static_cast<const ifinfomsg *>(mnl_nlmsg_get_payload(nlh));
    if (walk->index != 0 && ifi->ifi_index != walk->index)
        return MNL_CB_OK;
    host_link link;
    link.index = ifi->ifi_index;
    link.flags = ifi->ifi_flags;
    link.type = ifi->ifi_type;
    mnl_attr_parse(nlh, sizeof(ifinfomsg), link_attr, &link);
    // An all-zero address (loopback, tunnels) is no hardware address.
    if (link.hwaddr.find_first_not_of('\0') == std::string::npos)
        link.hwaddr.clear();
    walk->out->push_back(std::move(link));
    return MNL_CB_OK;
}

struct addr_attrs {
    const nlattr *address = nullptr, *local = nullptr, *broadcast = nullptr;
};

int addr_attr(const nlattr *attr, void *data) {
    auto *a = static_cast<addr_attrs *>(data);
    switch (mnl_attr_get_type(attr)) {
    case IFA_ADDRESS:
        a->address = attr;
        break;
    case IFA_LOCAL:
        a->local = attr;
        break;
    case IFA_BROADCAST:
        a->broadcast = attr;
        break;
    default:
        break;
    }
    return MNL_CB_OK;
}

// Copies an address attribute of exactly n bytes; false otherwise.
bool take(const nlattr *attr, unsigned char *dst, std::size_t n) {
    if (attr == nullptr || mnl_attr_get_payload_len(attr) != n)
        return false;
    std::memcpy(dst, mnl_attr_get_payload(attr), n);
    return true;
}

int addr_msg(const nlmsghdr *nlh, void *data) {
    auto *out = static_cast<std::vector<host_addr> *>(data);
    if (nlh->nlmsg_type != RTM_NEWADDR || mnl_nlmsg_get_payload_len(nlh) < sizeof(ifaddrmsg))
        return MNL_CB_OK;
    const auto *ifa = static_cast<const ifaddrmsg *>(mnl_nlmsg_get_payload(nlh));
    if (ifa->ifa_family != AF_INET && ifa->ifa_family != AF_INET6)
        return MNL_CB_OK;
    addr_attrs attrs;
    mnl_attr_parse(nlh, sizeof(ifaddrmsg), addr_attr, &attrs);
    host_addr a;
    a.index = static_cast<int>(ifa->ifa_index);
    a.v6 = ifa->ifa_family == AF_INET6;
    a.prefixlen = ifa->ifa_prefixlen;
    std::size_t n = a.v6 ? 16 : 4;
    // With both, IFA_LOCAL is this end and IFA_ADDRESS the peer.
    if (attrs.local != nullptr) {
        if (!take(attrs.local, a.local, n))
            return MNL_CB_OK;
        unsigned char other[16];
        if (take(attrs.address, other, n) && std::memcmp(other, a.local, n) != 0) {
            std::memcpy(a.peer, other, n);
            a.has_peer = true;
        }
    } else if (!take(attrs.address, a.local, n)) {
        return MNL_CB_OK;
    }
    if (!a.v6)
        a.has_broadcast = take(attrs.broadcast, a.broadcast, 4);
    a.link_scope = a.v6 && ifa->ifa_scope == RT_SCOPE_LINK;
    out->push_back(a);
    return MNL_CB_OK;
}

// One ioctl on a host interface request.
int if_request(int fd, const char *name, unsigned long request, ifreq &ifr) {
    std::memset(&ifr, 0, sizeof(ifr));
    std::strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
    if (::ioctl(fd, request, &ifr) == -1)
        return errno;
    return 0;
}

int host_links(std::vector<host_link> &out, int index) {
    out.clear();
    link_walk walk{&out, index};
    return dump("route.link", RTM_GETLINK, sizeof(ifinfomsg), link_msg, &walk);
}

int host_addrs(std::vector<host_addr> &out) {
    out.clear();
    return dump("route.addr", RTM_GETADDR, sizeof(ifaddrmsg), addr_msg, &out);
}

link_addrs addrs_by_link(const std::vector<host_link> &links,
                         const std::vector<host_addr> &addrs) {
    std::unordered_map<int, std::size_t> at(links.size());  // link index to its place
    for (std::size_t i = 0; i < links.size(); i++)
        at.emplace(links[i].index, i);
    // Count each link's addresses, make the counts starts, then place each
    // address at its link's next slot: host order within every link.
    link_addrs la;
    la.first.assign(links.size() + 1, 0);
    std::vector<std::size_t> owner(addrs.size(), links.size());
    for (std::size_t k = 0; k < addrs.size(); k++) {
        auto it = at.find(addrs[k].index);
        if (it == at.end())
            continue;
        owner[k] = it->second;
        la.first[it->second + 1]++;
    }
    for (std::size_t i = 0; i < links.size(); i++)
        la.first[i + 1] += la.first[i];
    la.order.resize(la.first[links.size()]);
    std::vector<std::size_t> next(la.first.begin(), la.first.end() - 1);
    for (std::size_t k = 0; k < addrs.size(); k++) {
        if (owner[k] != links.size())
            la.order[next[owner[k]]++] = k;
    }
    return la;
}

}  // namespace

int read_host_interfaces(host_interfaces &out, int index) {
    if (int err = host_links(out.links, index); err != 0)
        return err;
    if (int err = host_addrs(out.addrs); err != 0)
        return err;
    out.by_link = addrs_by_link(out.links, out.addrs);
    return 0;
}

int host_if_flags(int fd, const char *name, unsigned &flags) {
    ifreq ifr;
    int err = if_request(fd, name, SIOCGIFFLAGS, ifr);
    if (err == 0)
        flags = static_cast<unsigned short>(ifr.ifr_flags);
    return err;
}

int host_if_mtu(int fd, const char *name, int &mtu) {
    ifreq ifr;
    int err = if_request(fd, name, SIOCGIFMTU, ifr);
    if (err == 0)
        mtu = ifr.ifr_mtu;
    return err;
}

int host_if_media(int fd, const char *name, host_media &media) {
    ethtool_cmd cmd = {};
    cmd.cmd = ETHTOOL_GSET;
    ifreq ifr = {};
    std::strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
    ifr.ifr_data = reinterpret_cast<char *>(&cmd);
    if (::ioctl(fd, SIOCETHTOOL, &ifr) == -1)
        return errno;
    std::uint32_t speed = ethtool_cmd_speed(&cmd);
    media.speed = speed == static_cast<std::uint32_t>(SPEED_UNKNOWN) ? 0 : speed;
    media.duplex = cmd.duplex == DUPLEX_FULL ? 1 : cmd.duplex == DUPLEX_HALF ? 0 : -1;
    media.port = cmd.port;
    return 0;
}

int host_dgram_socket() {
    return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

bool host_if_name(unsigned index, std::string &name) {
    char buf[IF_NAMESIZE];
    int saved = errno;
    bool ok = if_indextoname(index, buf) != nullptr;
    errno = saved;
    if (ok)
        name = buf;
    return ok;
}

bool host_ntop(bool v6, const unsigned char *bytes, char *buf, std::size_t size) {
    return inet_ntop(v6 ? AF_INET6 : AF_INET, bytes, buf, static_cast<socklen_t>(size)) != nullptr;
}

}  // namespace standin
