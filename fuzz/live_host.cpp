// The host side of the live seeds: sockets for the seed's descriptor links
// and the datagrams of the live netlink dumps. Host headers only: FreeBSD's
// records (bsd.h) would clash with them.
#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/netlink.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <map>

#include "live_record.h"
#include "standin/host/netlink.h"

namespace fuzz {
namespace {

std::vector<int> seed_sockets;

// Every datagram of every dump, by key: a call that dumps twice (a measure
// and a read) finds its second dump after the first in the sequence.
std::map<std::string, std::vector<std::string>> datagrams;

void on_datagram(void *, const char *key, int, const void *data, std::size_t len) {
    datagrams[key].emplace_back(static_cast<const char *>(data), len);
}

}  // namespace

void open_seed_sockets() {
    int lst = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(sin);
    int cli = -1, acc = -1;
    if (lst >= 0 && ::bind(lst, reinterpret_cast<sockaddr *>(&sin), sizeof(sin)) == 0 &&
        ::listen(lst, 1) == 0 &&
        ::getsockname(lst, reinterpret_cast<sockaddr *>(&sin), &len) == 0) {
        cli = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (cli >= 0 && ::connect(cli, reinterpret_cast<sockaddr *>(&sin), sizeof(sin)) == 0)
            acc = ::accept4(lst, nullptr, nullptr, SOCK_CLOEXEC);
    }
    int udp6 = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 sin6{};
    sin6.sin6_family = AF_INET6;
    sin6.sin6_addr = in6addr_loopback;
    if (udp6 >= 0)
        ::bind(udp6, reinterpret_cast<sockaddr *>(&sin6), sizeof(sin6));
    int un = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sun{};
    sun.sun_family = AF_UNIX;
    std::snprintf(sun.sun_path + 1, sizeof(sun.sun_path) - 1, "quarn-fuzz-%d", ::getpid());
    if (un >= 0)
        ::bind(un, reinterpret_cast<sockaddr *>(&sun), sizeof(sun));
    int nl = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    int pkt = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP));
    for (int fd : {lst, cli, acc, udp6, un, nl, pkt})
        if (fd >= 0)
            seed_sockets.push_back(fd);
}

void record_netlink(bool on) {
    standin_netlink_tap(on ? on_datagram : nullptr, nullptr);
}

std::vector<std::string> recorded_netlink(const std::string &key) {
    auto it = datagrams.find(key);
    return it == datagrams.end() ? std::vector<std::string>{} : it->second;
}

int seed_socket(int n) {
    return n >= 0 && n < static_cast<int>(seed_sockets.size()) ? seed_sockets[n] : -1;
}

}  // namespace fuzz
