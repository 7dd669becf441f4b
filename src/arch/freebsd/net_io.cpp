#include "arch/freebsd/net_io.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "arch/all/errors.h"
#include "arch/posix/sysctl.h"
#include "bsd.h"

namespace {

// Where the fields read sit in an RTM_IFINFO message: the header with its
// counters, then the interface's sockaddr_dl.
constexpr std::size_t type_off = offsetof(bsd::if_msghdr, ifm_type);
constexpr std::size_t data_off = offsetof(bsd::if_msghdr, ifm_data);
constexpr std::size_t nlen_off = sizeof(bsd::if_msghdr) + offsetof(bsd::sockaddr_dl, sdl_nlen);
constexpr std::size_t name_off = sizeof(bsd::if_msghdr) + offsetof(bsd::sockaddr_dl, sdl_data);

unsigned long counter(const char *msg, std::size_t field_off) {
    std::uint64_t v;
    std::memcpy(&v, msg + data_off + field_off, sizeof(v));
    return static_cast<unsigned long>(v);
}

struct buffer_owner {
    char *p = nullptr;
    ~buffer_owner() { std::free(p); }
};

}  // namespace

extern "C" PyObject *quarn_net_io_counters(PyObject *, PyObject *) {
    PyObject *dict = PyDict_New();
    if (dict == nullptr)
        return nullptr;
    int mib[6] = {CTL_NET, PF_ROUTE, 0, 0, NET_RT_IFLIST, 0};
    buffer_owner buf;
    std::size_t len = 0;
    if (quarn_sysctl_malloc(mib, 6, &buf.p, &len) == -1) {
        Py_DECREF(dict);
        return nullptr;
    }
    // Every message is checked against the data before it is read: a length
    // of 0 or one that runs past the end ends the walk, and a message too
    // short for the fields read is passed over.
    std::size_t pos = 0;
    while (pos < len) {
        const char *msg = buf.p + pos;
        std::size_t left = len - pos;
        if (left < type_off + 1)
            break;
        std::uint16_t msglen;
        std::memcpy(&msglen, msg, sizeof(msglen));
        if (msglen == 0 || msglen > left) {
            quarn_debug("net_io_counters: routing message of %u bytes with %zu left",
                        msglen, left);
            break;
        }
        pos += msglen;
        if (static_cast<unsigned char>(msg[type_off]) != RTM_IFINFO || msglen < name_off)
            continue;
        // The name is held to the message and to the buffer.
        char name[32];
        std::size_t nlen = static_cast<unsigned char>(msg[nlen_off]);
        if (nlen > msglen - name_off)
            nlen = msglen - name_off;
        if (nlen > sizeof(name) - 1)
            nlen = sizeof(name) - 1;
        std::memcpy(name, msg + name_off, nlen);
        name[nlen] = '\0';
        if (std::strncmp(name, "usbus", 5) == 0)
            continue;
        PyObject *tuple = Py_BuildValue(
            "(kkkkkkki)", counter(msg, offsetof(bsd::if_data, ifi_obytes)),
            counter(msg, offsetof(bsd::if_data, ifi_ibytes)),
            counter(msg, offsetof(bsd::if_data, ifi_opackets)),
            counter(msg, offsetof(bsd::if_data, ifi_ipackets)),
            counter(msg, offsetof(bsd::if_data, ifi_ierrors)),
            counter(msg, offsetof(bsd::if_data, ifi_oerrors)),
            counter(msg, offsetof(bsd::if_data, ifi_iqdrops)), 0);
        if (tuple == nullptr) {
            Py_DECREF(dict);
            return nullptr;
        }
        int rc = PyDict_SetItemString(dict, name, tuple);
        Py_DECREF(tuple);
        if (rc != 0) {
            Py_DECREF(dict);
            return nullptr;
        }
    }
    return dict;
}
