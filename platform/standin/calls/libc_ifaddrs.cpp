// getifaddrs, freeifaddrs and getnameinfo over FreeBSD's socket addresses.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "standin/freebsd.h"
#include "standin/answers/if_bsd.h"
#include "standin/inject/inject.h"
#include "standin/calls/call.h"
#include "standin/inject/replay.h"

namespace standin {
namespace {

// One entry of the list before it is laid out; empty addresses are null.
struct entry {
    std::string name;
    unsigned flags = 0;
    std::string addr, netmask, dstaddr, data;
};

// Every address gets room for the largest sa_len there is, so a reader
// that trusts sa_len or a family's size never leaves it.
constexpr std::size_t addr_room = 256;

std::size_t round8(std::size_t n) {
    return (n + 7) & ~static_cast<std::size_t>(7);
}

// Lays the entries out in one block, as FreeBSD does, so freeifaddrs is a
// single free. Null with errno ENOMEM when it cannot be had.
bsd::ifaddrs *lay_out(const std::vector<entry> &entries) {
    if (entries.empty())
        return nullptr;
    std::size_t size = 0;
    for (const entry &e : entries) {
        size += sizeof(bsd::ifaddrs) + round8(e.name.size() + 1);
        for (const std::string *sa : {&e.addr, &e.netmask, &e.dstaddr})
            size += sa->empty() ? 0 : addr_room;
        size += round8(e.data.size());
    }
    char *block = static_cast<char *>(std::calloc(1, size));
    if (block == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    auto *ifas = reinterpret_cast<bsd::ifaddrs *>(block);
    char *p = block + entries.size() * sizeof(bsd::ifaddrs);
    for (std::size_t i = 0; i < entries.size(); i++) {
        const entry &e = entries[i];
        bsd::ifaddrs &ifa = ifas[i];
        ifa.ifa_next = i + 1 < entries.size() ? &ifas[i + 1] : nullptr;
        ifa.ifa_flags = e.flags;
        ifa.ifa_name = p;
        std::memcpy(p, e.name.data(), e.name.size());
        p += round8(e.name.size() + 1);
        auto place = [&p](const std::string &sa) -> bsd::sockaddr * {
            if (sa.empty())
                return nullptr;
            std::memcpy(p, sa.data(), sa.size() < addr_room ? sa.size() : addr_room);
            auto *out = reinterpret_cast<bsd::sockaddr *>(p);
            p += addr_room;
            return out;
        };
        ifa.ifa_addr = place(e.addr);
        ifa.ifa_netmask = place(e.netmask);
        ifa.ifa_dstaddr = place(e.dstaddr);
        if (!e.data.empty()) {
            std::memcpy(p, e.data.data(), e.data.size());
            ifa.ifa_data = p;
            p += round8(e.data.size());
        }
    }
    return ifas;
}

// The host's interfaces in FreeBSD's order: each link's AF_LINK entry, then
// that link's addresses.
int live_entries(std::vector<entry> &out) {
    host_interfaces hi;
    if (int err = read_host_interfaces(hi); err != 0)
        return err;
    for (std::size_t i = 0; i < hi.links.size(); i++) {
        const host_link &link = hi.links[i];
        unsigned flags = bsd_if_flags(link.flags);
        entry le;
        le.name = link.name;
        le.flags = flags;
        le.addr = bsd_sockaddr_dl(link);
        bsd::if_data d = bsd_if_data(link);
        le.data.assign(reinterpret_cast<const char *>(&d), sizeof(d));
        out.push_back(std::move(le));
        for (std::size_t k = hi.by_link.first[i]; k < hi.by_link.first[i + 1]; k++) {
            const host_addr &a = hi.addrs[hi.by_link.order[k]];
            entry ae;
            ae.name = link.name;
            ae.flags = flags;
            std::uint32_t scope = a.link_scope ? static_cast<std::uint32_t>(a.index) : 0;
            ae.addr = a.v6 ? bsd_sockaddr_in6(a.local, scope) : bsd_sockaddr_in(a.local);
            ae.netmask = bsd_netmask(a.v6, a.prefixlen);
            if (a.has_peer)
                ae.dstaddr = a.v6 ? bsd_sockaddr_in6(a.peer, scope) : bsd_sockaddr_in(a.peer);
            else if (a.has_broadcast && (flags & bsd::iff_broadcast))
                ae.dstaddr = bsd_sockaddr_in(a.broadcast);
            out.push_back(std::move(ae));
        }
    }
    return 0;
}

// Keeps a live list for a recording, as an injected list is given (below).
void keep_entries(const std::vector<entry> &entries) {
    std::string out;
    auto field = [&out](const std::string &f) {
        std::size_t n = f.size() < 255 ? f.size() : 255;
        out += static_cast<char>(n);
        out.append(f, 0, n);
    };
    for (const entry &e : entries) {
        std::uint32_t flags = e.flags;
        out.append(reinterpret_cast<const char *>(&flags), 4);
        field(e.name);
        field(e.addr);
        field(e.netmask);
        field(e.dstaddr);
    }
    quarn_record::answer("getifaddrs", "", out.data(), out.size());
}

// An injected list: entries of <u32 flags, u8 name length, name, then the
// address, netmask and destination each as u8 length and bytes (0: none)>.
// A cut entry ends the list.
void injected_entries(const std::string &data, std::vector<entry> &out) {
    std::size_t pos = 0;
    auto take = [&](std::string &field) {
        if (pos >= data.size())
            return false;
        std::size_t n = static_cast<unsigned char>(data[pos++]);
        if (n > data.size() - pos)
            return false;
        field.assign(data, pos, n);
        pos += n;
        return true;
    };
    while (data.size() - pos >= 4) {
        entry e;
        std::uint32_t flags;
        std::memcpy(&flags, data.data() + pos, 4);
        pos += 4;
        e.flags = flags;
        if (!take(e.name) || !take(e.addr) || !take(e.netmask) || !take(e.dstaddr))
            return;
        out.push_back(std::move(e));
    }
}

bool is_link_local(const unsigned char *a) {
    bool unicast = a[0] == 0xfe && (a[1] & 0xc0) == 0x80;
    bool multicast = a[0] == 0xff && (a[1] & 0x0f) == 0x02;
    return unicast || multicast;
}

}  // namespace
}  // namespace standin

namespace bsd {

// Injected: an answer is the entries' records, an error fails with its
// errno.
int getifaddrs(ifaddrs **ifap) {
    auto lay_out = [&](std::vector<standin::entry> &entries) {
        *ifap = standin::lay_out(entries);
        if (*ifap == nullptr && !entries.empty())
            return -1;
        return 0;
    };
    return standin::run(
        "getifaddrs", "", {}, standin::fails_with(-1),
        [&](const standin::step &st) {
            std::vector<standin::entry> entries;
            standin::injected_entries(st.data(), entries);
            return lay_out(entries);
        },
        [&] {
            std::vector<standin::entry> entries;
            if (int err = standin::live_entries(entries); err != 0) {
                quarn_record::error("getifaddrs", "", err);
                errno = err;
                return -1;
            }
            if (quarn_record::on())
                standin::keep_entries(entries);
            return lay_out(entries);
        },
        [&] { return ifap == nullptr ? EINVAL : 0; });
}

// Logged only: nothing is injected for a release.
void freeifaddrs(ifaddrs *ifp) {
    standin::log_call("freeifaddrs", "", "call", 0);
    std::free(ifp);
}

}  // namespace bsd

namespace standin {
namespace {

// getnameinfo's failures are its own numbers, not errno.
struct name_failure {
    int failed = bsd::eai_fail;
    int error(int err) const { return err != 0 ? err : bsd::eai_fail; }
    int out_of_memory() const { return bsd::eai_memory; }
};

// "family.address in hex.scope" for an address the call can read, else the
// family alone.
std::string address_key(int family, const bsd::sockaddr *sa, unsigned int salen) {
    std::string key = std::to_string(family);
    const unsigned char *p = reinterpret_cast<const unsigned char *>(sa);
    std::size_t at = 0, len = 0;
    std::uint32_t scope = 0;
    if (family == bsd::af_inet && salen >= sizeof(bsd::sockaddr_in)) {
        at = offsetof(bsd::sockaddr_in, sin_addr);
        len = 4;
    } else if (family == bsd::af_inet6 && salen >= sizeof(bsd::sockaddr_in6)) {
        at = offsetof(bsd::sockaddr_in6, sin6_addr);
        len = 16;
        std::memcpy(&scope, p + offsetof(bsd::sockaddr_in6, sin6_scope_id), 4);
    }
    if (len == 0)
        return key;
    static const char hex[] = "0123456789abcdef";
    key += '.';
    for (std::size_t i = 0; i < len; i++) {
        key += hex[p[at + i] >> 4];
        key += hex[p[at + i] & 15];
    }
    return key + "." + std::to_string(scope);
}

int injected_name(const step &st, char *host, std::size_t hostlen) {
    const std::string &text = st.data();
    if (host == nullptr || text.size() >= hostlen)
        return bsd::eai_overflow;
    std::memcpy(host, text.data(), text.size());
    host[text.size()] = '\0';
    return 0;
}

int live_nameinfo(const bsd::sockaddr *sa, unsigned int salen, char *host, std::size_t hostlen,
                  char *serv, std::size_t servlen, int flags) {
    using namespace bsd;
    int family = sa->sa_family;
    char text[ni_maxhost];
    unsigned port = 0;
    if (family == af_inet) {
        if (salen < sizeof(sockaddr_in))
            return eai_fail;
        sockaddr_in sin;
        std::memcpy(&sin, sa, sizeof(sin));
        port = sin.sin_port;
        if (!standin::host_ntop(false, reinterpret_cast<const unsigned char *>(&sin.sin_addr),
                                text, sizeof(text)))
            return eai_fail;
    } else if (family == af_inet6) {
        if (salen < sizeof(sockaddr_in6))
            return eai_fail;
        sockaddr_in6 sin6;
        std::memcpy(&sin6, sa, sizeof(sin6));
        port = sin6.sin6_port;
        if (!standin::host_ntop(true, sin6.sin6_addr.s6_addr, text, sizeof(text)))
            return eai_fail;
        // A scope is shown by its interface's name where it is a link's.
        if (sin6.sin6_scope_id != 0) {
            std::string scope;
            if ((flags & ni_numericscope) || !standin::is_link_local(sin6.sin6_addr.s6_addr) ||
                !standin::host_if_name(sin6.sin6_scope_id, scope))
                scope = std::to_string(sin6.sin6_scope_id);
            std::size_t len = std::strlen(text);
            if (len + 1 + scope.size() >= sizeof(text))
                return eai_overflow;
            text[len] = '%';
            std::memcpy(text + len + 1, scope.c_str(), scope.size() + 1);
        }
    } else {
        return eai_family;
    }
    if (host != nullptr && hostlen > 0) {
        std::size_t len = std::strlen(text);
        if (len >= hostlen)
            return eai_overflow;
        std::memcpy(host, text, len + 1);
    }
    if (serv != nullptr && servlen > 0) {
        // Services by number only: the port is in network order.
        unsigned p = ((port & 0xff) << 8) | ((port >> 8) & 0xff);
        int n = std::snprintf(serv, servlen, "%u", p);
        if (n < 0 || static_cast<std::size_t>(n) >= servlen)
            return eai_overflow;
    }
    return 0;
}

}  // namespace
}  // namespace standin

namespace bsd {

// Injected under the family: an answer is the host text, an error returns
// its number (0: EAI_FAIL).
int getnameinfo(const sockaddr *sa, unsigned int salen, char *host, std::size_t hostlen,
                char *serv, std::size_t servlen, int flags) {
    int family = sa == nullptr ? -1 : sa->sa_family;
    return standin::run(
        "getnameinfo", family, {"call", salen}, standin::name_failure{},
        [&](const standin::step &st) { return standin::injected_name(st, host, hostlen); },
        [&] {
            if (sa == nullptr)
                return eai_fail;
            // A recording keys each answer by the address it names, so a
            // replay answers for the address whatever the order of calls.
            standin::step st;
            if (standin::replay_answer("getnameinfo", standin::address_key(family, sa, salen),
                                       st))
                return st.kind == standin::step::error ? (st.err != 0 ? st.err : eai_fail)
                                                       : standin::injected_name(st, host, hostlen);
            return standin::live_nameinfo(sa, salen, host, hostlen, serv, servlen, flags);
        },
        standin::no_checks(), [&](const std::string &, int rc) {
            std::string at = standin::address_key(family, sa, salen);
            if (rc != 0)
                quarn_record::error("getnameinfo", at, rc);
            else if (host != nullptr && hostlen > 0)
                quarn_record::answer("getnameinfo", at, host, std::strlen(host));
        });
}

}  // namespace bsd
