// The host's sockets, read through its socket-diagnostics netlink interface,
// and the answers built on them: "kern.file", the PCB lists and the socket
// fields of kinfo_getfile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "standin/freebsd.h"

namespace standin {

// One IPv4 or IPv6 socket of the host. Ports and addresses are in network
// order; an IPv4 address fills the first four bytes.
struct host_inet {
    std::uint8_t family;  // host AF_INET or AF_INET6
    std::uint8_t state;   // host TCP state
    bool v6only;
    std::uint16_t lport, fport;
    std::uint8_t laddr[16], faddr[16];
    std::uint32_t inode;
    std::uint32_t uid;
    std::uint32_t rqueue, wqueue;
};

// One UNIX-domain socket of the host: its bound name (an abstract name keeps
// its leading zero byte) and its peer's inode.
struct host_unix {
    std::uint8_t type;
    std::uint32_t inode;
    std::uint32_t peer;
    std::string name;
};

// Each returns 0, or the errno of the failed reading; a reading stops after
// max sockets.
int host_inet_sockets(int host_proto, std::vector<host_inet> &out,
                      std::size_t max = SIZE_MAX);
int host_unix_sockets(std::vector<host_unix> &out, std::size_t max = SIZE_MAX);

// Kernel addresses the stand-in reports: stable per host socket, so the
// open-file table and the PCB lists agree.
constexpr std::uint64_t socket_kaddr(std::uint64_t inode) {
    return inode == 0 ? 0 : 0xfffff80000000000ULL | (inode << 4);
}
constexpr std::uint64_t pcb_kaddr(std::uint64_t inode) {
    return inode == 0 ? 0 : 0xfffff90000000000ULL | (inode << 4);
}

// FreeBSD's TCP state for a host one.
int tcp_state(int host_state);

// A BSD sockaddr_un for a host name: paths cut to sun_path, an abstract name
// shown with '@' in place of its zero byte; sun_len as SUN_LEN gives it.
// All zero for no name.
void unix_sockaddr(const std::string &name, bsd::sockaddr_un &sun);

// One reading of every host socket, indexed by inode, for filling many
// kinfo_file entries at the cost of one.
struct socket_snapshot {
    std::vector<host_inet> inet;
    std::vector<int> inet_proto;  // FreeBSD protocol of each inet entry
    std::vector<host_unix> unix_;
    std::unordered_map<std::uint32_t, std::size_t> inet_at, unix_at;
    // Other families: FreeBSD domain and type by inode.
    std::unordered_map<std::uint32_t, std::pair<int, int>> other;

    void read();
    void fill(std::uint64_t inode, bsd::kinfo_file &kf) const;
};

void socket_file_fields(std::uint64_t inode, bsd::kinfo_file &kf);

// While one lives on a thread, socket_file_fields answers there from a single
// snapshot taken at the first call, instead of reading the host per socket.
class socket_scope {
  public:
    socket_scope();
    ~socket_scope();
    socket_scope(const socket_scope &) = delete;
    socket_scope &operator=(const socket_scope &) = delete;

  private:
    socket_scope *outer_;
    std::unique_ptr<socket_snapshot> snap_;
    friend void socket_file_fields(std::uint64_t inode, bsd::kinfo_file &kf);
};

}  // namespace standin
