// The stand-in's socket answers, live: the PCB lists and "kern.file" for
// sockets this test makes, read at their documented offsets; and the
// socket fields of kinfo_file entries.
// FreeBSD records first: host headers define some of their field names as
// macros.
#include "support.h"
#include "standin/freebsd.h"
#include "standin/host/sockets.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {


// A whole table as the kernel gives it: measure, then read.
std::string read_table(const char *name) {
    std::size_t len = 0;
    EXPECT_EQ(bsd::sysctlbyname(name, nullptr, &len, nullptr, 0), 0);
    std::string buf(len, '\0');
    EXPECT_EQ(bsd::sysctlbyname(name, buf.data(), &len, nullptr, 0), 0);
    buf.resize(len);
    return buf;
}

struct fd_owner {
    int fd;
    explicit fd_owner(int f) : fd(f) {}
    ~fd_owner() { if (fd >= 0) ::close(fd); }
};

std::uint64_t inode_of(int fd) {
    struct stat st;
    EXPECT_EQ(::fstat(fd, &st), 0);
    return st.st_ino;
}

// The record of the list whose xso_so is this socket's address, or "".
std::string record_of(const std::string &list, std::size_t hdr, std::size_t rec,
                      std::size_t so_at, std::uint64_t so) {
    for (std::size_t off = hdr; off + rec <= list.size() - hdr; off += rec) {
        if (at<std::uint64_t>(list, off + so_at) == so)
            return list.substr(off, rec);
    }
    return "";
}

int inet6_socket(int type, bool v6only) {
    int fd = ::socket(AF_INET6, type, 0);
    int on = v6only;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof(on));
    return fd;
}

TEST(SocketLists, FramedWithHeadroomAndMatchingGenerations) {
    fd_owner s(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(s.fd, reinterpret_cast<sockaddr *>(&sin), sizeof(sin)), 0);
    ASSERT_EQ(::listen(s.fd, 4), 0);
    struct case_t {
        const char *name;
        std::size_t hdr, rec;
    } cases[] = {{"net.inet.tcp.pcblist", 64, 744}, {"net.inet.udp.pcblist", 64, 400},
                 {"net.local.stream.pcblist", 32, 904}, {"net.local.dgram.pcblist", 32, 904},
                 {"net.local.seqpacket.pcblist", 32, 904}};
    for (const case_t &c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t measured = 0;
        ASSERT_EQ(bsd::sysctlbyname(c.name, nullptr, &measured, nullptr, 0), 0);
        std::string list = read_table(c.name);
        ASSERT_GE(list.size(), 2 * c.hdr);
        EXPECT_EQ((list.size() - 2 * c.hdr) % c.rec, 0u);
        EXPECT_EQ(at<std::uint64_t>(list, 0), c.hdr);
        EXPECT_EQ(at<std::uint64_t>(list, list.size() - c.hdr), c.hdr);
        EXPECT_EQ(at<std::uint64_t>(list, 16), at<std::uint64_t>(list, list.size() - c.hdr + 16));
        EXPECT_EQ(at<std::uint32_t>(list, 8), (list.size() - 2 * c.hdr) / c.rec);
        // The kernel's estimate leaves room for a list that grows a little.
        EXPECT_GE(measured, list.size() + (c.rec == 904 ? 0 : 10 * c.rec));
    }
}

struct inet_case {
    const char *name;
    int family, type;
    bool v6only;
    const char *bind_host;
    const char *connect_host;  // null: listen or stay unconnected
    int vflag;
};

class InetPcb : public ::testing::TestWithParam<inet_case> {};

// How each host socket is shown: FreeBSD's version flags, with IPv4-mapped
// traffic on an IPv6 socket as an IPv4 PCB.
TEST_P(InetPcb, FlagsAddressesAndSocket) {
    const inet_case &c = GetParam();
    fd_owner peer(::socket(c.family == AF_INET ? AF_INET : AF_INET6, c.type, 0));
    fd_owner s(c.family == AF_INET ? ::socket(AF_INET, c.type, 0) : inet6_socket(c.type, c.v6only));
    sockaddr_storage ss{};
    socklen_t len;
    auto fill = [&](const char *host, int family, sockaddr_storage &out) {
        std::memset(&out, 0, sizeof(out));
        if (family == AF_INET) {
            auto *a = reinterpret_cast<sockaddr_in *>(&out);
            a->sin_family = AF_INET;
            inet_pton(AF_INET, host, &a->sin_addr);
            return socklen_t(sizeof(sockaddr_in));
        }
        auto *a = reinterpret_cast<sockaddr_in6 *>(&out);
        a->sin6_family = AF_INET6;
        inet_pton(AF_INET6, host, &a->sin6_addr);
        return socklen_t(sizeof(sockaddr_in6));
    };
    len = fill(c.bind_host, c.family, ss);
    ASSERT_EQ(::bind(s.fd, reinterpret_cast<sockaddr *>(&ss), len), 0);
    fd_owner target(-1);
    if (c.connect_host) {
        // A listener or UDP socket of the host's own family to connect to.
        bool mapped = std::strncmp(c.connect_host, "::ffff:", 7) == 0;
        int tfam = (c.family == AF_INET || mapped) ? AF_INET : AF_INET6;
        target.fd = ::socket(tfam, c.type, 0);
        sockaddr_storage ts{};
        socklen_t tl = fill(tfam == AF_INET ? "127.0.0.1" : "::1", tfam, ts);
        ASSERT_EQ(::bind(target.fd, reinterpret_cast<sockaddr *>(&ts), tl), 0);
        if (c.type == SOCK_STREAM) {
            ASSERT_EQ(::listen(target.fd, 4), 0);
        }
        ASSERT_EQ(::getsockname(target.fd, reinterpret_cast<sockaddr *>(&ts), &tl), 0);
        std::uint16_t port = reinterpret_cast<sockaddr_in *>(&ts)->sin_port;
        sockaddr_storage cs{};
        socklen_t cl = fill(c.connect_host, c.family, cs);
        reinterpret_cast<sockaddr_in *>(&cs)->sin_port = port;  // same place in both
        ASSERT_EQ(::connect(s.fd, reinterpret_cast<sockaddr *>(&cs), cl), 0);
    } else if (c.type == SOCK_STREAM) {
        ASSERT_EQ(::listen(s.fd, 4), 0);
    }
    len = sizeof(ss);
    ASSERT_EQ(::getsockname(s.fd, reinterpret_cast<sockaddr *>(&ss), &len), 0);
    std::uint16_t lport = reinterpret_cast<sockaddr_in *>(&ss)->sin_port;

    bool tcp = c.type == SOCK_STREAM;
    std::string list = read_table(tcp ? "net.inet.tcp.pcblist" : "net.inet.udp.pcblist");
    std::size_t pcb = tcp ? 8 : 0;
    std::string rec = record_of(list, 64, tcp ? 744 : 400, pcb + 16,
                                standin::socket_kaddr(inode_of(s.fd)));
    ASSERT_FALSE(rec.empty());
    EXPECT_EQ(at<std::uint8_t>(rec, pcb + 392), c.vflag);
    EXPECT_EQ(at<std::int32_t>(rec, pcb + 104), tcp ? 6 : 17);
    EXPECT_EQ(at<std::int32_t>(rec, pcb + 108), c.family == AF_INET ? 2 : 28);
    EXPECT_EQ(at<std::int16_t>(rec, pcb + 164), c.type);
    EXPECT_EQ(at<std::uint16_t>(rec, pcb + 254), lport);
    if (tcp) {
        EXPECT_EQ(at<std::int32_t>(rec, 568), c.connect_host ? 4 : 1);  // ESTABLISHED, LISTEN
    }
    if (c.connect_host) {
        in_addr four;
        inet_pton(AF_INET, "127.0.0.1", &four);
        if (c.vflag == 0x1) {
            EXPECT_EQ(at<std::uint32_t>(rec, pcb + 268), four.s_addr);
        }
        EXPECT_NE(at<std::uint16_t>(rec, pcb + 252), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Live, InetPcb,
    ::testing::Values(
        inet_case{"tcp4_listen", AF_INET, SOCK_STREAM, false, "127.0.0.1", nullptr, 0x1},
        inet_case{"tcp4_conn", AF_INET, SOCK_STREAM, false, "127.0.0.1", "127.0.0.1", 0x1},
        inet_case{"tcp6_listen", AF_INET6, SOCK_STREAM, false, "::1", nullptr, 0x2},
        inet_case{"tcp6_dual", AF_INET6, SOCK_STREAM, false, "::", nullptr, 0x3},
        inet_case{"tcp6_v6only", AF_INET6, SOCK_STREAM, true, "::", nullptr, 0x2},
        inet_case{"tcp6_mapped", AF_INET6, SOCK_STREAM, false, "::", "::ffff:127.0.0.1", 0x1},
        inet_case{"udp4", AF_INET, SOCK_DGRAM, false, "127.0.0.1", nullptr, 0x1},
        inet_case{"udp6_conn", AF_INET6, SOCK_DGRAM, true, "::1", "::1", 0x2},
        inet_case{"udp6_mapped", AF_INET6, SOCK_DGRAM, false, "::", "::ffff:127.0.0.1", 0x1}),
    [](const auto &info) { return std::string(info.param.name); });

struct unix_case {
    const char *name;
    std::string bind_name;  // "" unbound; a leading NUL: abstract
    std::string path;       // the sun_path reported
    int sun_len;
};

class UnixPcb : public ::testing::TestWithParam<unix_case> {};

TEST_P(UnixPcb, AddressAndKernFileAgree) {
    const unix_case &c = GetParam();
    fd_owner s(::socket(AF_UNIX, SOCK_DGRAM, 0));
    std::string bound = c.bind_name;
    std::string prefix = "/tmp/quarn-sock-" + std::to_string(::getpid()) + "-";
    if (bound == "/long")  // past FreeBSD's 104 bytes, within the host's 108
        bound = prefix + std::string(106 - prefix.size(), 'x');
    else if (!bound.empty() && bound[0] == '/')
        bound = prefix + bound.substr(1);
    if (!bound.empty()) {
        sockaddr_un sun{};
        sun.sun_family = AF_UNIX;
        std::memcpy(sun.sun_path, bound.data(), bound.size());
        ASSERT_EQ(::bind(s.fd, reinterpret_cast<sockaddr *>(&sun),
                         offsetof(sockaddr_un, sun_path) + bound.size()), 0);
    }
    std::uint64_t so = standin::socket_kaddr(inode_of(s.fd));
    std::string rec = record_of(read_table("net.local.dgram.pcblist"), 32, 904, 672, so);
    if (!bound.empty() && bound[0] == '/')
        ::unlink(bound.c_str());
    ASSERT_FALSE(rec.empty());
    std::string expected = c.path;
    if (!expected.empty() && expected[0] == '/')
        expected = bound.substr(0, 104);
    int sun_len = c.sun_len < 0 ? static_cast<int>(2 + expected.size()) : c.sun_len;
    EXPECT_EQ(at<std::uint8_t>(rec, 152), sun_len);
    EXPECT_EQ(std::string(rec.data() + 154, strnlen(rec.data() + 154, 104)), expected);
    EXPECT_EQ(at<std::int16_t>(rec, 664 + 156), SOCK_DGRAM);

    // kern.file shows this descriptor with the same kernel address.
    std::string files = read_table("kern.file");
    bool found = false;
    for (std::size_t off = 0; off + 128 <= files.size(); off += 128) {
        if (at<std::int32_t>(files, off + 8) == ::getpid() &&
            at<std::int32_t>(files, off + 16) == s.fd) {
            EXPECT_EQ(at<std::uint64_t>(files, off), 128u);
            EXPECT_EQ(at<std::uint64_t>(files, off + 56), so);
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

INSTANTIATE_TEST_SUITE_P(
    Live, UnixPcb,
    ::testing::Values(unix_case{"unbound", "", "", 0},
                      unix_case{"path", "/a.sock", "/", -1},
                      unix_case{"long_path", "/long", "/", 106},
                      unix_case{"abstract", std::string("\0quarn-abs", 10), "@quarn-abs", 12}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(SocketFileFields, InetAndUnixAndOthers) {
    fd_owner tcp(::socket(AF_INET6, SOCK_STREAM, 0));
    sockaddr_in6 sin6{};
    sin6.sin6_family = AF_INET6;
    sin6.sin6_addr = in6addr_loopback;
    ASSERT_EQ(::bind(tcp.fd, reinterpret_cast<sockaddr *>(&sin6), sizeof(sin6)), 0);
    ASSERT_EQ(::listen(tcp.fd, 1), 0);
    socklen_t len = sizeof(sin6);
    ::getsockname(tcp.fd, reinterpret_cast<sockaddr *>(&sin6), &len);
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair), 0);
    fd_owner a(pair[0]), b(pair[1]);
    fd_owner nl(::socket(AF_NETLINK, SOCK_RAW, 0));  // NETLINK_ROUTE
    sockaddr_nl snl{};
    snl.nl_family = AF_NETLINK;
    ASSERT_EQ(::bind(nl.fd, reinterpret_cast<sockaddr *>(&snl), sizeof(snl)), 0);  // listed once bound

    standin::socket_scope scope;
    bsd::kinfo_file kf{};
    standin::socket_file_fields(inode_of(tcp.fd), kf);
    EXPECT_EQ(kf.kf_un.kf_sock.kf_sock_domain0, 28);
    EXPECT_EQ(kf.kf_un.kf_sock.kf_sock_type0, 1);
    EXPECT_EQ(kf.kf_un.kf_sock.kf_sock_protocol0, 6);
    const auto *local = reinterpret_cast<const unsigned char *>(&kf.kf_un.kf_sock.kf_sa_local);
    EXPECT_EQ(local[0], 28);  // sa_len
    EXPECT_EQ(local[1], 28);  // sa_family
    EXPECT_EQ(std::memcmp(local + 2, &sin6.sin6_port, 2), 0);
    EXPECT_EQ(std::memcmp(local + 8, &in6addr_loopback, 16), 0);

    kf = {};
    standin::socket_file_fields(inode_of(a.fd), kf);
    EXPECT_EQ(kf.kf_un.kf_sock.kf_sock_domain0, 1);
    EXPECT_EQ(kf.kf_un.kf_sock.kf_sock_type0, 5);

    kf = {};
    standin::socket_file_fields(inode_of(nl.fd), kf);
    EXPECT_EQ(kf.kf_un.kf_sock.kf_sock_domain0, 17);  // FreeBSD's routing socket

    kf = {};
    standin::socket_file_fields(0xffffffffffULL, kf);
    EXPECT_EQ(kf.kf_un.kf_sock.kf_sock_domain0, 0);
}

TEST(InetNtop, FreeBsdFamilies) {
    unsigned char v6[16] = {};
    v6[15] = 1;
    unsigned char v4[4] = {127, 0, 0, 1};
    char buf[46];
    EXPECT_STREQ(bsd::inet_ntop(28, v6, buf, sizeof(buf)), "::1");
    EXPECT_STREQ(bsd::inet_ntop(2, v4, buf, sizeof(buf)), "127.0.0.1");
    errno = 0;
    EXPECT_EQ(bsd::inet_ntop(10, v6, buf, sizeof(buf)), nullptr);  // the host's AF_INET6
    EXPECT_EQ(errno, EAFNOSUPPORT);
}

}  // namespace
