#include "arch/freebsd/net_io.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "arch/all/convert.h"
#include "arch/all/errors.h"
#include "arch/all/owners.h"
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
    return static_cast<unsigned long>(load<std::uint64_t>(msg + data_off + field_off));
}

}  // namespace

extern "C" PyObject *quarn_net_io_counters(PyObject *, PyObject *) {
    py_ref dict(PyDict_New());
    if (!dict)
        return nullptr;
    int mib[6] = {CTL_NET, PF_ROUTE, 0, 0, NET_RT_IFLIST, 0};
    char *raw = nullptr;
    std::size_t len = 0;
    if (quarn_sysctl_malloc(mib, 6, &raw, &len) == -1)
        return nullptr;
    heap<char> buf(raw);
    // Every message is checked against the data before it is read: a length
    // of 0 or one that runs past the end ends the walk, and a message too
    // short for the fields read is passed over.
    std::size_t pos = 0;
    while (pos < len) {
        const char *msg = buf.get() + pos;
        std::size_t left = len - pos;
        if (left < type_off + 1)
            break;
        std::uint16_t msglen = load<std::uint16_t>(msg);
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
        if (set_new(dict.get(), name, tuple) == -1)
            return nullptr;
    }
    return dict.release();
}
