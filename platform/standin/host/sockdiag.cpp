// The host's IPv4, IPv6 and UNIX-domain sockets, dumped through the
// socket-diagnostics netlink interface (the interface the host's own socket
// tool uses; exact and much cheaper than formatting /proc/net text).
// FreeBSD records first: host headers define some of their field names
// as macros.
#include "standin/host/sockets.h"
#include "standin/host/netlink.h"
#include <libmnl/libmnl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>


namespace standin {
namespace {

// A host with more sockets than this is refused (ENOBUFS) rather than
// followed to the end of its memory.
constexpr std::size_t max_sockets = std::size_t(1) << 20;

// Sends one dump request and hands each reply message to cb(nlh) until it
// returns false. Returns 0 or an errno.
template <class Fn> int dump(const char *key, const void *req, std::size_t req_len, Fn cb) {
    auto run = [](const nlmsghdr *m, void *data) -> int {
        return (*static_cast<Fn *>(data))(m) ? MNL_CB_OK : MNL_CB_STOP;
    };
    return netlink_dump(NETLINK_SOCK_DIAG, key, SOCK_DIAG_BY_FAMILY, req, req_len, max_sockets,
                        run, &cb);
}

// Calls fn with each attribute after a message's fixed part; mnl_attr_ok
// keeps every step inside the message.
template <class Fn> void for_each_attr(const nlmsghdr *nlh, std::size_t fixed, Fn fn) {
    const char *tail = static_cast<const char *>(mnl_nlmsg_get_payload_tail(nlh));
    const auto *attr = static_cast<const nlattr *>(mnl_nlmsg_get_payload_offset(nlh, fixed));
    while (mnl_attr_ok(attr, static_cast<int>(tail - reinterpret_cast<const char *>(attr)))) {
        fn(attr);
        attr = mnl_attr_next(attr);
    }
}

int inet_family(int family, int proto, std::vector<host_inet> &out, std::size_t max) {
    if (out.size() >= max)
        return 0;
    inet_diag_req_v2 req{};
    req.sdiag_family = static_cast<std::uint8_t>(family);
    req.sdiag_protocol = static_cast<std::uint8_t>(proto);
    req.idiag_states = ~0u;
    // The dump's name for injected replies: "sock_diag.tcp4", ".udp6", ...
    std::string key = "sock_diag.";
    key += proto == IPPROTO_TCP ? "tcp" : proto == IPPROTO_UDP ? "udp" : std::to_string(proto);
    key += family == AF_INET6 ? "6" : "4";
    return dump(key.c_str(), &req, sizeof(req), [&](const nlmsghdr *nlh) {
        if (mnl_nlmsg_get_payload_len(nlh) < sizeof(inet_diag_msg))
            return true;
        const auto *msg = static_cast<const inet_diag_msg *>(mnl_nlmsg_get_payload(nlh));
        // Half-open connections live in the host's SYN queue, as they do in
        // FreeBSD's syncache: neither lists them as PCBs.
        if (msg->idiag_state == 12)  // TCP_NEW_SYN_RECV
            return true;
        host_inet s{};
        s.family = msg->idiag_family;
        s.state = msg->idiag_state;
        s.lport = msg->id.idiag_sport;
        s.fport = msg->id.idiag_dport;
        std::memcpy(s.laddr, msg->id.idiag_src, 16);
        std::memcpy(s.faddr, msg->id.idiag_dst, 16);
        s.inode = msg->idiag_inode;
        s.uid = msg->idiag_uid;
        s.rqueue = msg->idiag_rqueue;
        s.wqueue = msg->idiag_wqueue;
        for_each_attr(nlh, sizeof(inet_diag_msg), [&](const nlattr *attr) {
            if (mnl_attr_get_type(attr) == INET_DIAG_SKV6ONLY &&
                mnl_attr_get_payload_len(attr) >= 1)
                s.v6only = mnl_attr_get_u8(attr) != 0;
        });
        out.push_back(s);
        return out.size() < max;
    });
}

}  // namespace

int host_inet_sockets(int host_proto, std::vector<host_inet> &out, std::size_t max) {
    out.clear();
    int err = inet_family(AF_INET, host_proto, out, max);
    if (err == 0)
        err = inet_family(AF_INET6, host_proto, out, max);
    return err;
}

int host_unix_sockets(std::vector<host_unix> &out, std::size_t max) {
    out.clear();
    unix_diag_req req{};
    req.sdiag_family = AF_UNIX;
    req.udiag_states = ~0u;
    req.udiag_show = UDIAG_SHOW_NAME | UDIAG_SHOW_PEER;
    return dump("sock_diag.unix", &req, sizeof(req), [&](const nlmsghdr *nlh) {
        if (mnl_nlmsg_get_payload_len(nlh) < sizeof(unix_diag_msg))
            return true;
        const auto *msg = static_cast<const unix_diag_msg *>(mnl_nlmsg_get_payload(nlh));
        host_unix s{};
        s.type = msg->udiag_type;
        s.inode = msg->udiag_ino;
        for_each_attr(nlh, sizeof(unix_diag_msg), [&](const nlattr *attr) {
            int type = mnl_attr_get_type(attr);
            std::size_t len = mnl_attr_get_payload_len(attr);
            if (type == UNIX_DIAG_NAME)
                s.name.assign(static_cast<const char *>(mnl_attr_get_payload(attr)), len);
            else if (type == UNIX_DIAG_PEER && len >= 4)
                s.peer = mnl_attr_get_u32(attr);
        });
        out.push_back(std::move(s));
        return out.size() < max;
    });
}

int tcp_state(int host_state) {
    switch (host_state) {
    case 1: return bsd::tcps_established;
    case 2: return bsd::tcps_syn_sent;
    case 3: return bsd::tcps_syn_received;
    case 4: return bsd::tcps_fin_wait_1;
    case 5: return bsd::tcps_fin_wait_2;
    case 6: return bsd::tcps_time_wait;
    case 8: return bsd::tcps_close_wait;
    case 9: return bsd::tcps_last_ack;
    case 10: return bsd::tcps_listen;
    case 11: return bsd::tcps_closing;
    default: return bsd::tcps_closed;
    }
}

void unix_sockaddr(const std::string &name, bsd::sockaddr_un &sun) {
    std::memset(&sun, 0, sizeof(sun));
    if (name.empty())
        return;
    std::size_t n = name.size();
    if (n > sizeof(sun.sun_path))
        n = sizeof(sun.sun_path);
    std::memcpy(sun.sun_path, name.data(), n);
    if (name[0] == '\0')
        sun.sun_path[0] = '@';
    // A host path may fill sun_path with no terminator; SUN_LEN then gives
    // the whole record, as for the longest FreeBSD path.
    std::size_t len = offsetof(bsd::sockaddr_un, sun_path) + ::strnlen(sun.sun_path, n);
    sun.sun_len = static_cast<std::uint8_t>(len < sizeof(sun) ? len : sizeof(sun));
    sun.sun_family = bsd::af_unix;
}

}  // namespace standin
