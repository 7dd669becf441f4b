// The stand-in's interface answers: the live routing messages and address
// list checked for shape against the host's own interface list, the
// translation of flags and link settings, and getnameinfo's and ioctl's
// refusals. Records are read at their documented offsets.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "support.h"
#include "standin/freebsd.h"
#include "standin/answers/if_bsd.h"
#include "standin/inject/inject.h"

namespace {


std::set<std::string> host_interfaces() {
    std::set<std::string> names;
    DIR *d = opendir("/sys/class/net");
    if (d == nullptr)
        return names;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] != '.')
            names.insert(e->d_name);
    }
    closedir(d);
    return names;
}

TEST(StandinIf, RoutingMessagesCoverEveryInterface) {
    standin_reset();
    int mib[6] = {4, 17, 0, 0, 3, 0};
    std::size_t len = 0;
    ASSERT_EQ(bsd::sysctl(mib, 6, nullptr, &len, nullptr, 0), 0);
    std::string buf(len + 4096, '\0');
    len = buf.size();
    ASSERT_EQ(bsd::sysctl(mib, 6, buf.data(), &len, nullptr, 0), 0);
    std::set<std::string> names;
    std::size_t pos = 0;
    while (pos < len) {
        auto msglen = at<std::uint16_t>(buf.data() + pos, 0);
        ASSERT_GE(msglen, 20u);
        ASSERT_LE(pos + msglen, len);
        EXPECT_EQ(msglen % 8, 0u);
        EXPECT_EQ(at<std::uint8_t>(buf.data() + pos, 2), 5);  // RTM_VERSION
        const char *m = buf.data() + pos;
        if (at<std::uint8_t>(m, 3) == 14) {
            ASSERT_GE(msglen, 176u);
            EXPECT_EQ(at<std::uint8_t>(m, 169), 18);  // sdl_family
            names.insert(std::string(m + 176, at<std::uint8_t>(m, 173)));
            EXPECT_EQ(at<std::uint16_t>(m, 16 + 6), 152);  // ifi_datalen
        } else {
            EXPECT_EQ(at<std::uint8_t>(m, 3), 12);
        }
        pos += msglen;
    }
    EXPECT_EQ(pos, len);
    EXPECT_EQ(names, host_interfaces());
}

TEST(StandinIf, RoutingNameChecks) {
    standin_reset();
    std::size_t len = 0;
    int not_iflist[6] = {4, 17, 0, 0, 1, 0};
    int short_name[5] = {4, 17, 0, 0, 3};
    errno = 0;
    EXPECT_EQ(bsd::sysctl(not_iflist, 6, nullptr, &len, nullptr, 0), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(bsd::sysctl(short_name, 5, nullptr, &len, nullptr, 0), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST(StandinIf, AddressListHasOneLinkEntryPerInterfaceFirst) {
    standin_reset();
    bsd::ifaddrs *head = nullptr;
    ASSERT_EQ(bsd::getifaddrs(&head), 0);
    std::set<std::string> links;
    std::string current;
    for (bsd::ifaddrs *ifa = head; ifa != nullptr; ifa = ifa->ifa_next) {
        ASSERT_NE(ifa->ifa_addr, nullptr);
        int family = ifa->ifa_addr->sa_family;
        if (family == bsd::af_link) {
            EXPECT_TRUE(links.insert(ifa->ifa_name).second) << ifa->ifa_name;
            EXPECT_EQ(ifa->ifa_addr->sa_len, sizeof(bsd::sockaddr_dl));
            current = ifa->ifa_name;
        } else {
            // An address follows its own interface's link entry.
            EXPECT_EQ(current, ifa->ifa_name);
            EXPECT_EQ(ifa->ifa_addr->sa_len, family == bsd::af_inet6 ? 28 : 16);
            ASSERT_NE(ifa->ifa_netmask, nullptr);
            EXPECT_EQ(ifa->ifa_netmask->sa_family, family);
        }
    }
    bsd::freeifaddrs(head);
    EXPECT_EQ(links, host_interfaces());
}

TEST(StandinIf, FlagsMapToFreeBSDBits) {
    struct {
        unsigned host, bsd;
    } rows[] = {
        {0x1, 0x1}, {0x1000, 0x8000}, {0x100, 0x100 | 0x20000}, {0x20, 0},
        {0x400 | 0x800, 0}, {0x10000, 0}, {0x43, 0x43},
    };
    for (auto r : rows)
        EXPECT_EQ(standin::bsd_if_flags(r.host), r.bsd) << std::hex << r.host;
}

TEST(StandinIf, LinkSettingsAsMediaWords) {
    struct {
        unsigned speed;
        int duplex, port, word;
    } rows[] = {
        {1000, 1, 0, 0x20 | 16 | 0x100000}, {100, 0, 0, 0x20 | 6 | 0x200000},
        {10, -1, 3, 0x20 | 13},             {10000, 1, 5, 0x20 | 22 | 0x100000},
        {10000, 1, 0, 0x20 | 26 | 0x100000}, {1000, 1, 3, 0x20 | 11 | 0x100000},
        {25000, 1, 3, 0x20 | 25 | 0x100000}, {0, -1, 0, 0x20},
    };
    for (auto r : rows) {
        standin::host_media m;
        m.speed = r.speed;
        m.duplex = r.duplex;
        m.port = r.port;
        EXPECT_EQ(standin::bsd_media_word(m), r.word) << r.speed << " " << r.port;
    }
}

TEST(StandinIf, GetnameinfoRefusals) {
    standin_reset();
    std::string sin = standin::bsd_sockaddr_in(reinterpret_cast<const unsigned char *>("\x7f\0\0\x01"));
    const auto *sa = reinterpret_cast<const bsd::sockaddr *>(sin.data());
    char host[64];
    EXPECT_EQ(bsd::getnameinfo(sa, 15, host, sizeof(host), nullptr, 0, 2), bsd::eai_fail);
    EXPECT_EQ(bsd::getnameinfo(sa, 16, host, 9, nullptr, 0, 2), bsd::eai_overflow);
    EXPECT_EQ(bsd::getnameinfo(sa, 16, host, 10, nullptr, 0, 2), 0);
    EXPECT_STREQ(host, "127.0.0.1");
    std::string other = sin;
    other[1] = 7;
    EXPECT_EQ(bsd::getnameinfo(reinterpret_cast<const bsd::sockaddr *>(other.data()), 16, host,
                               sizeof(host), nullptr, 0, 2),
              bsd::eai_family);
    EXPECT_EQ(bsd::getnameinfo(nullptr, 16, host, sizeof(host), nullptr, 0, 2), bsd::eai_fail);
}

TEST(StandinIf, IoctlRefusals) {
    standin_reset();
    int s = bsd::socket(bsd::af_inet, bsd::sock_dgram, 0);
    ASSERT_GE(s, 0);
    bsd::ifreq ifr = {};
    std::memset(ifr.ifr_name, 'a', sizeof(ifr.ifr_name));  // no end within 16
    errno = 0;
    EXPECT_EQ(bsd::ioctl(s, bsd::siocgifflags, &ifr), -1);
    EXPECT_EQ(errno, ENXIO);
    std::strcpy(ifr.ifr_name, "lo");
    EXPECT_EQ(bsd::ioctl(s, 0xc0206999, &ifr), -1);
    EXPECT_EQ(errno, ENOTTY);
    bsd::ifmediareq ifm = {};
    std::strcpy(ifm.ifm_name, "lo");
    EXPECT_EQ(bsd::ioctl(s, bsd::siocgifmedia, &ifm), -1);
    EXPECT_EQ(errno, EINVAL);  // loopback has no media, as on FreeBSD
    EXPECT_EQ(bsd::ioctl(s, bsd::siocgifflags, &ifr), 0);
    EXPECT_EQ(ifr.ifr_ifru.ifru_flags[0] & 0x9, 0x9);  // up, loopback
    EXPECT_EQ(bsd::close(s), 0);
    EXPECT_EQ(bsd::socket(bsd::af_inet6, bsd::sock_dgram, 0), -1);
    EXPECT_EQ(errno, EAFNOSUPPORT);
}

}  // namespace
