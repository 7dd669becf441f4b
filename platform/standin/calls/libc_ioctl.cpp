// socket, the interface requests of ioctl, and close.
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

#include "standin/freebsd.h"
#include "standin/answers/if_bsd.h"
#include "standin/inject/inject.h"
#include "standin/calls/call.h"

namespace standin {
namespace {

const char *request_label(unsigned long request) {
    switch (request) {
    case bsd::siocgifflags:
        return "SIOCGIFFLAGS";
    case bsd::siocgifmtu:
        return "SIOCGIFMTU";
    case bsd::siocgifmedia:
        return "SIOCGIFMEDIA";
    default:
        return nullptr;
    }
}

// The record's name (its first 16 bytes); false when it is not ended
// within them, which no interface can match.
bool name_of(const void *arg, std::string &name) {
    const char *p = static_cast<const char *>(arg);
    std::size_t len = strnlen(p, bsd::ifnamsiz);
    if (len == static_cast<std::size_t>(bsd::ifnamsiz))
        return false;
    name.assign(p, len);
    return true;
}

void set_flags(bsd::ifreq &ifr, unsigned flags) {
    ifr.ifr_ifru.ifru_flags[0] = static_cast<short>(flags & 0xffff);
    ifr.ifr_ifru.ifru_flags[1] = static_cast<short>(flags >> 16);
}

void set_media(bsd::ifmediareq &ifm, int word, bool active) {
    ifm.ifm_current = word;
    ifm.ifm_active = word;
    ifm.ifm_mask = 0;
    ifm.ifm_status = bsd::ifm_avalid | (active ? bsd::ifm_active : 0);
    ifm.ifm_count = 0;
}

// An injected answer: a value is the flag word, the MTU or the active media
// word; bytes overwrite the record after its name.
void injected(unsigned long request, void *arg, const step &st) {
    std::size_t size = request == bsd::siocgifmedia ? sizeof(bsd::ifmediareq) : sizeof(bsd::ifreq);
    const std::string &data = st.data();
    std::size_t room = size - bsd::ifnamsiz;
    std::memcpy(static_cast<char *>(arg) + bsd::ifnamsiz, data.data(),
                data.size() < room ? data.size() : room);
    if (!st.has_value)
        return;
    if (request == bsd::siocgifflags)
        set_flags(*static_cast<bsd::ifreq *>(arg), static_cast<unsigned>(st.value));
    else if (request == bsd::siocgifmtu)
        static_cast<bsd::ifreq *>(arg)->ifr_ifru.ifru_mtu = static_cast<int>(st.value);
    else
        set_media(*static_cast<bsd::ifmediareq *>(arg), static_cast<int>(st.value), true);
}

int live_request(int fd, unsigned long request, const std::string &name, void *arg) {
    if (request == bsd::siocgifmtu) {
        int mtu = 0;
        if (int err = host_if_mtu(fd, name.c_str(), mtu); err != 0)
            return bsd_if_errno(err);
        static_cast<bsd::ifreq *>(arg)->ifr_ifru.ifru_mtu = mtu;
        return 0;
    }
    unsigned flags = 0;
    if (int err = host_if_flags(fd, name.c_str(), flags); err != 0)
        return bsd_if_errno(err);
    if (request == bsd::siocgifflags) {
        set_flags(*static_cast<bsd::ifreq *>(arg), bsd_if_flags(flags));
        return 0;
    }
    host_media media;
    if (int err = host_if_media(fd, name.c_str(), media); err != 0)
        return bsd_if_errno(err);
    set_media(*static_cast<bsd::ifmediareq *>(arg), bsd_media_word(media),
              (flags & host_iff_running) != 0);
    return 0;
}

}  // namespace
// Keeps what a live request filled for a recording: what follows the name,
// short of a media request's list pointer (the caller's own address, which
// a replay must not put back).
void keep_request(const std::string &key, unsigned long request, const void *arg) {
    std::size_t end = request == bsd::siocgifmedia ? offsetof(bsd::ifmediareq, ifm_ulist)
                                                   : sizeof(bsd::ifreq);
    quarn_record::answer("ioctl", key, static_cast<const char *>(arg) + bsd::ifnamsiz,
                         end - bsd::ifnamsiz);
}

}  // namespace standin

namespace bsd {

// Injected under "domain.type.protocol": an error fails with its errno; an
// answer opens the socket as live.
int socket(int domain, int type, int protocol) {
    auto live = [&] {
        // The module asks for nothing but the datagram socket of its requests.
        if (domain != af_inet) {
            errno = EAFNOSUPPORT;
            return -1;
        }
        if (type != sock_dgram || (protocol != 0 && protocol != ipproto_udp)) {
            errno = EPROTONOSUPPORT;
            return -1;
        }
        return standin::host_dgram_socket();
    };
    auto key = [&] {
        return std::to_string(domain) + "." + std::to_string(type) + "." +
               std::to_string(protocol);
    };
    return standin::run("socket", key, {}, standin::fails_with(-1),
                        [&](const standin::step &) { return live(); }, live);
}

// Injected under "interface/request": an answer fills the request, an error
// fails with its errno. A request the stand-in does not know, or no
// argument, is refused under the key "".
int ioctl(int fd, unsigned long request, void *arg) {
    const char *label = standin::request_label(request);
    auto deliver = [&](const standin::step &st) {
        standin::injected(request, arg, st);
        return 0;
    };
    if (label == nullptr || arg == nullptr)
        return standin::run("ioctl", "", {"call", request}, standin::fails_with(-1), deliver,
                            [] { return -1; },
                            [&] { return label == nullptr ? ENOTTY : EFAULT; });
    std::string name;
    bool named = false;
    auto key = [&] {
        named = standin::name_of(arg, name);
        return name + "/" + label;
    };
    return standin::run("ioctl", key, {"call", static_cast<std::size_t>(fd)},
                        standin::fails_with(-1), deliver, [&] {
                            int err = named ? standin::live_request(fd, request, name, arg)
                                            : ENXIO;
                            if (err != 0) {
                                errno = err;
                                return -1;
                            }
                            return 0;
                        },
                        standin::no_checks(), [&](const std::string &k, int rc) {
                            if (rc != 0)
                                quarn_record::error("ioctl", k, errno);
                            else
                                standin::keep_request(k, request, arg);
                        });
}

// Injected: an error fails with its errno; the descriptor is released
// whatever is injected, so nothing leaks.
int close(int fd) {
    int rc = 0;
    auto closed = [&] { return rc; };
    return standin::run("close", "", {"call", static_cast<std::size_t>(fd)},
                        standin::fails_with(-1), [&](const standin::step &) { return rc; },
                        closed, [&] {
                            rc = ::close(fd);
                            return 0;
                        });
}

}  // namespace bsd
