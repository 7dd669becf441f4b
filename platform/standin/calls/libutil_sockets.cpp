// The socket fields of kinfo_getfile entries, from the host's sockets.
// FreeBSD records first: host headers define some of their field names
// as macros.
#include "standin/host/sockets.h"
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "standin/host/files.h"
#include "standin/answers/answers.h"

namespace standin {
namespace {

thread_local socket_scope *current_scope = nullptr;

void inet_sockaddr(int family, std::uint16_t port, const std::uint8_t *addr,
                   bsd::sockaddr_storage_bsd &ss) {
    if (family == AF_INET) {
        bsd::sockaddr_in sin{};
        sin.sin_len = sizeof(sin);
        sin.sin_family = bsd::af_inet;
        sin.sin_port = port;
        std::memcpy(&sin.sin_addr, addr, 4);
        std::memcpy(&ss, &sin, sizeof(sin));
    } else {
        bsd::sockaddr_in6 sin6{};
        sin6.sin6_len = sizeof(sin6);
        sin6.sin6_family = bsd::af_inet6;
        sin6.sin6_port = port;
        std::memcpy(&sin6.sin6_addr, addr, 16);
        std::memcpy(&ss, &sin6, sizeof(sin6));
    }
}

// Inodes of the last column of /proc/net/netlink or /proc/net/packet, with
// the column that tells the protocol or type.
template <class Fn> void other_sockets(const char *path, Fn fn) {
    std::string text;
    if (!read_file(host_file("%s", path).c_str(), text))
        return;
    bool header = true;
    for_each_line(text, [&](std::string_view line) {
        if (header) {
            header = false;
            return true;
        }
        std::string_view w[12];
        std::size_t n = split_words(line, w, 12);
        if (n >= 9)
            fn(static_cast<std::uint32_t>(to_ull(w[n - 1])), w);
        return true;
    });
}

}  // namespace

void socket_snapshot::read() {
    for (int proto : {IPPROTO_TCP, IPPROTO_UDP}) {
        std::vector<host_inet> part;
        if (host_inet_sockets(proto, part) != 0)
            continue;
        for (const host_inet &s : part) {
            inet_at.emplace(s.inode, inet.size());
            inet.push_back(s);
            inet_proto.push_back(proto == IPPROTO_TCP ? bsd::ipproto_tcp : bsd::ipproto_udp);
        }
    }
    if (host_unix_sockets(unix_) == 0) {
        for (std::size_t i = 0; i < unix_.size(); i++)
            unix_at.emplace(unix_[i].inode, i);
    }
    // Netlink sockets: the routing one is FreeBSD's routing socket; the
    // others FreeBSD's netlink (38). Packet sockets are link-level.
    other_sockets("/proc/net/netlink", [&](std::uint32_t ino, const std::string_view *w) {
        int domain = to_ll(w[1], -1) == 0 ? bsd::af_route : 38;
        other.emplace(ino, std::make_pair(domain, bsd::sock_raw));
    });
    other_sockets("/proc/net/packet", [&](std::uint32_t ino, const std::string_view *w) {
        other.emplace(ino, std::make_pair(bsd::af_link, static_cast<int>(to_ll(w[2]))));
    });
}

void socket_snapshot::fill(std::uint64_t inode, bsd::kinfo_file &kf) const {
    std::uint32_t ino = static_cast<std::uint32_t>(inode);
    if (ino != inode || ino == 0)
        return;
    auto &so = kf.kf_un.kf_sock;
    if (auto it = inet_at.find(ino); it != inet_at.end()) {
        const host_inet &s = inet[it->second];
        int proto = inet_proto[it->second];
        so.kf_sock_domain0 = s.family == AF_INET6 ? bsd::af_inet6 : bsd::af_inet;
        so.kf_sock_type0 = proto == bsd::ipproto_tcp ? bsd::sock_stream : bsd::sock_dgram;
        so.kf_sock_protocol0 = proto;
        so.kf_sock_pcb = pcb_kaddr(ino);
        so.kf_sock_inpcb = pcb_kaddr(ino);
        inet_sockaddr(s.family, s.lport, s.laddr, kf.kf_un.kf_sock.kf_sa_local);
        inet_sockaddr(s.family, s.fport, s.faddr, kf.kf_un.kf_sock.kf_sa_peer);
        return;
    }
    if (auto it = unix_at.find(ino); it != unix_at.end()) {
        const host_unix &s = unix_[it->second];
        so.kf_sock_domain0 = bsd::af_unix;
        so.kf_sock_type0 = s.type;
        so.kf_sock_pcb = pcb_kaddr(ino);
        so.kf_sock_unpconn = pcb_kaddr(s.peer);
        bsd::sockaddr_un sun;
        unix_sockaddr(s.name, sun);
        std::memcpy(&kf.kf_un.kf_sock.kf_sa_local, &sun, sizeof(sun));
        if (auto peer = unix_at.find(s.peer); s.peer != 0 && peer != unix_at.end()) {
            unix_sockaddr(unix_[peer->second].name, sun);
            std::memcpy(&kf.kf_un.kf_sock.kf_sa_peer, &sun, sizeof(sun));
        }
        return;
    }
    if (auto it = other.find(ino); it != other.end()) {
        so.kf_sock_domain0 = it->second.first;
        so.kf_sock_type0 = it->second.second;
    }
}

socket_scope::socket_scope() : outer_(current_scope) { current_scope = this; }

socket_scope::~socket_scope() { current_scope = outer_; }

void socket_file_fields(std::uint64_t inode, bsd::kinfo_file &kf) {
    socket_scope *scope = current_scope;
    if (scope == nullptr) {
        socket_snapshot once;
        once.read();
        once.fill(inode, kf);
        return;
    }
    if (!scope->snap_) {
        scope->snap_ = std::make_unique<socket_snapshot>();
        scope->snap_->read();
    }
    scope->snap_->fill(inode, kf);
}

}  // namespace standin
