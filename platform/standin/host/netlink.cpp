#include "standin/host/netlink.h"

#include <linux/netlink.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "standin/inject/inject.h"

namespace standin {
namespace {

// A dump of a million sockets takes a few thousand reads; the bound only
// guards against a reply stream that never ends.
constexpr int max_reads = 1 << 16;
// Room for the largest batch the kernel sends one reader of a dump.
constexpr std::size_t recv_size = 1 << 16;

struct nl_closer {
    void operator()(mnl_socket *s) const { mnl_socket_close(s); }
};

std::atomic<standin_netlink_tap_fn> tap{nullptr};
void *tap_ctx = nullptr;

// The replies of one dump: the live socket's, or the injected datagrams,
// each copied into a buffer of its own size so that no read past it goes
// unseen.
class replies {
public:
    explicit replies(const char *key) : key_(key) {}

    // Reads the live socket from now on.
    void attach(mnl_socket *nl) {
        nl_ = nl;
        live_.resize(recv_size);
    }

    // The next datagram in data/n; 0 or the errno of the receive.
    int next(const char *&data, std::size_t &n) {
        if (nl_ == nullptr)
            return next_injected(data, n);
        for (;;) {
            ssize_t got = mnl_socket_recvfrom(nl_, live_.data(), live_.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return errno ? errno : EIO;
            data = live_.data();
            n = static_cast<std::size_t>(got);
            if (standin_netlink_tap_fn fn = tap.load())
                fn(tap_ctx, key_.c_str(), index_, data, n);
            index_++;
            return 0;
        }
    }

    // The first step, taken before any socket is opened: false when the
    // dump is live.
    bool take_first() { return next_step("netlink_recv", key_, first_); }

private:
    int next_injected(const char *&data, std::size_t &n) {
        step st;
        if (index_++ == 0)
            st = first_;
        else if (!next_step("netlink_recv", key_, st))
            return EIO;  // a live step amid injected ones ends the stream
        if (st.kind == step::error)
            return st.err ? st.err : EIO;
        // The store repeats a sequence's last step for ever, but a kernel
        // sends each datagram once: the same step again means the injected
        // stream has ended, as if the kernel hung up.
        if (st.bytes && st.bytes.get() == last_)
            return EIO;
        last_ = st.bytes.get();
        // A real receive into recv_size bytes fails on a longer datagram.
        if (st.data().size() > recv_size)
            return ENOSPC;
        injected_ = std::vector<char>(st.data().begin(), st.data().end());
        data = injected_.data();
        n = injected_.size();
        return 0;
    }

    std::string key_;
    mnl_socket *nl_ = nullptr;
    step first_;
    const std::string *last_ = nullptr;  // the bytes of the last datagram taken
    int index_ = 0;
    std::vector<char> live_;
    std::vector<char> injected_;
};

// Counts the messages handed on; past the bound the dump fails.
struct counted {
    mnl_cb_t cb;
    void *data;
    std::size_t max;
    std::size_t count = 0;

    static int run(const nlmsghdr *nlh, void *self) {
        auto *c = static_cast<counted *>(self);
        if (++c->count > c->max) {
            errno = ENOBUFS;
            return MNL_CB_ERROR;
        }
        return c->cb(nlh, c->data);
    }
};

// A datagram is a series of whole messages, each padded to 4 bytes as the
// kernel sends them (the attribute walks read up to a message's padded
// end); one cut short, or bytes left over, mean the stream is not the
// kernel's. Checked here in unsigned terms: libmnl's own check takes a
// length of 2^31 or more for a short one and would step far past the
// datagram.
bool whole_messages(const char *buf, std::size_t n) {
    if (n == 0)
        return false;
    std::size_t pos = 0;
    while (pos < n) {
        nlmsghdr h;
        if (n - pos < sizeof(h))
            return false;
        std::memcpy(&h, buf + pos, sizeof(h));
        std::size_t padded = (std::size_t{h.nlmsg_len} + 3) & ~std::size_t{3};
        if (h.nlmsg_len < sizeof(h) || padded > n - pos)
            return false;
        pos += padded;
    }
    return true;
}

int run_dump(int protocol, const char *key, std::uint16_t type, const void *extra, std::size_t len,
             std::size_t max_messages, mnl_cb_t cb, void *data) {
    replies in(key);
    std::unique_ptr<mnl_socket, nl_closer> nl;
    unsigned seq = 1;
    unsigned portid = 0;  // injected replies: any port
    if (!in.take_first()) {
        nl.reset(mnl_socket_open2(protocol, SOCK_CLOEXEC));
        if (!nl || mnl_socket_bind(nl.get(), 0, MNL_SOCKET_AUTOPID) < 0)
            return errno ? errno : EIO;
        std::vector<char> req(MNL_NLMSG_HDRLEN + MNL_ALIGN(len) + 16);
        nlmsghdr *nlh = mnl_nlmsg_put_header(req.data());
        nlh->nlmsg_type = type;
        nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        nlh->nlmsg_seq = seq;
        void *hdr = mnl_nlmsg_put_extra_header(nlh, len);  // zeroed
        if (extra != nullptr)
            std::memcpy(hdr, extra, len);
        if (mnl_socket_sendto(nl.get(), nlh, nlh->nlmsg_len) < 0)
            return errno ? errno : EIO;
        portid = mnl_socket_get_portid(nl.get());
        in.attach(nl.get());
    }
    counted each{cb, data, max_messages};
    for (int reads = 0; reads < max_reads; reads++) {
        const char *buf = nullptr;
        std::size_t n = 0;
        if (int err = in.next(buf, n))
            return err;
        if (n == 0)
            return EIO;  // the kernel hung up before the end of the dump
        if (!whole_messages(buf, n))
            return EIO;
        errno = 0;
        int rc = mnl_cb_run(buf, n, seq, portid, counted::run, &each);
        if (rc == MNL_CB_STOP)
            return 0;
        // An error reply sets errno from the kernel's number: only a
        // number that can be an errno is reported as one.
        if (rc < 0)
            return errno > 0 && errno < 4096 ? errno : EIO;
    }
    return EIO;
}

}  // namespace

int netlink_dump(int protocol, const char *key, std::uint16_t type, const void *extra,
                 std::size_t len, std::size_t max_messages, mnl_cb_t cb, void *data) {
    int saved = errno;
    int err = run_dump(protocol, key, type, extra, len, max_messages, cb, data);
    errno = saved;
    return err;
}

}  // namespace standin

extern "C" void standin_netlink_tap(standin_netlink_tap_fn fn, void *ctx) {
    standin::tap_ctx = ctx;
    standin::tap.store(fn);
}
