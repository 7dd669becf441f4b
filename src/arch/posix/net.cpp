#include "arch/posix/net.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "arch/all/errors.h"
#include "arch/all/str.h"
#include "bsd.h"

namespace {

// Closes the request socket on every path, keeping the errno of the call
// that failed before it.
struct socket_owner {
    int fd;
    explicit socket_owner(int s) : fd(s) {}
    socket_owner(const socket_owner &) = delete;
    socket_owner &operator=(const socket_owner &) = delete;
    ~socket_owner() {
        if (fd != -1) {
            int saved = errno;
            bsd::close(fd);
            errno = saved;
        }
    }
};

// Owns the address chain until the function returns.
struct ifaddrs_owner {
    bsd::ifaddrs *head = nullptr;
    ~ifaddrs_owner() {
        if (head != nullptr)
            bsd::freeifaddrs(head);
    }
};

// Speeds in Mbit/s by media subtype, from subtype 3.
const int ether_speeds[] = {
    10, 10, 10, 100, 100, 100, 100, 100, 1000, 10, 10, 1000, 1000, 1000, 1,
    10000, 10000, 10000, 2500, 10000, 10000, 0, 0, 10000,
};
const int ieee80211_speeds[] = {1, 2, 1, 2, 5, 11, 22};

const struct {
    int bit;
    const char *name;
} flag_names[] = {
    {IFF_UP, "up"},
    {IFF_BROADCAST, "broadcast"},
    {IFF_DEBUG, "debug"},
    {IFF_LOOPBACK, "loopback"},
    {IFF_POINTOPOINT, "pointopoint"},
    {IFF_RUNNING, "running"},
    {IFF_NOARP, "noarp"},
    {IFF_PROMISC, "promisc"},
    {IFF_ALLMULTI, "allmulti"},
    {IFF_MULTICAST, "multicast"},
    {IFF_OACTIVE, "oactive"},
    {IFF_SIMPLEX, "simplex"},
    {IFF_LINK0, "link0"},
    {IFF_LINK1, "link1"},
    {IFF_LINK2, "link2"},
};

// The link-level address as "xx:xx:...", or None when there is none. The
// lengths come from the record, so they are held to the length the address
// claims for itself: the bytes the library copied, which may run past the
// structure's minimum when name and address outgrow sdl_data.
PyObject *link_addr_text(const bsd::sockaddr_dl *sdl) {
    const std::size_t data_off = offsetof(bsd::sockaddr_dl, sdl_data);
    std::size_t nlen = sdl->sdl_nlen, alen = sdl->sdl_alen;
    std::size_t limit = sdl->sdl_len;
    std::size_t room = limit > data_off ? limit - data_off : 0;
    if (nlen > room)
        nlen = room;
    if (alen > room - nlen)
        alen = room - nlen;
    if (alen == 0)
        Py_RETURN_NONE;
    const unsigned char *lladdr =
        reinterpret_cast<const unsigned char *>(sdl->sdl_data) + nlen;
    char buf[NI_MAXHOST];
    char *p = buf;
    char *end = buf + sizeof(buf);
    for (std::size_t i = 0; i < alen && end - p > 3; i++) {
        str_format(p, end - p < 8 ? static_cast<std::size_t>(end - p) : 8, "%02x:", lladdr[i]);
        p += 3;
    }
    *--p = '\0';
    return Py_BuildValue("s", buf);
}

// One socket request on the named interface; -1 with errno when the socket
// or the request fails, and which of the two in failed_call.
int if_request(const char *name, unsigned long request, void *rec, std::size_t name_size,
               const char **failed_call) {
    socket_owner s(bsd::socket(AF_INET, SOCK_DGRAM, 0));
    if (s.fd == -1) {
        *failed_call = "socket";
        return -1;
    }
    str_copy(static_cast<char *>(rec), name_size, name);
    if (bsd::ioctl(s.fd, request, rec) == -1) {
        *failed_call = "ioctl";
        return -1;
    }
    return 0;
}

// 1 when the name is appended, 0 with the interpreter's exception.
int append_flag(PyObject *list, const char *name) {
    PyObject *str = PyUnicode_FromString(name);
    if (str == nullptr)
        return 0;
    int rc = PyList_Append(list, str);
    Py_DECREF(str);
    return rc == 0;
}

}  // namespace

extern "C" PyObject *quarn_convert_ipaddr(const void *sa, int family) {
    if (sa == nullptr)
        Py_RETURN_NONE;
    if (family == AF_INET || family == AF_INET6) {
        char buf[NI_MAXHOST];
        unsigned int len = family == AF_INET ? sizeof(bsd::sockaddr_in)
                                             : sizeof(bsd::sockaddr_in6);
        int err = bsd::getnameinfo(static_cast<const bsd::sockaddr *>(sa), len, buf, sizeof(buf),
                                   nullptr, 0, NI_NUMERICHOST);
        if (err != 0)
            Py_RETURN_NONE;
        return Py_BuildValue("s", buf);
    }
    const auto *sdl = static_cast<const bsd::sockaddr_dl *>(sa);
    if (sdl->sdl_family != AF_LINK)
        Py_RETURN_NONE;
    return link_addr_text(sdl);
}

extern "C" PyObject *quarn_net_if_addrs(PyObject *, PyObject *) {
    PyObject *list = PyList_New(0);
    if (list == nullptr)
        return nullptr;
    ifaddrs_owner chain;
    if (bsd::getifaddrs(&chain.head) == -1) {
        Py_DECREF(list);
        return quarn_oserror();
    }
    for (bsd::ifaddrs *ifa = chain.head; ifa != nullptr; ifa = ifa->ifa_next) {
        if (ifa->ifa_addr == nullptr)
            continue;
        int family = ifa->ifa_addr->sa_family;
        PyObject *addr = quarn_convert_ipaddr(ifa->ifa_addr, family);
        if (addr == nullptr)
            goto error;
        if (addr == Py_None) {
            Py_DECREF(addr);
            continue;
        }
        PyObject *netmask = quarn_convert_ipaddr(ifa->ifa_netmask, family);
        PyObject *broadcast = nullptr, *ptp = nullptr;
        if (netmask != nullptr) {
            if (ifa->ifa_flags & IFF_BROADCAST) {
                broadcast = quarn_convert_ipaddr(ifa->ifa_broadaddr, family);
                ptp = Py_NewRef(Py_None);
            } else if (ifa->ifa_flags & IFF_POINTOPOINT) {
                broadcast = Py_NewRef(Py_None);
                ptp = quarn_convert_ipaddr(ifa->ifa_dstaddr, family);
            } else {
                broadcast = Py_NewRef(Py_None);
                ptp = Py_NewRef(Py_None);
            }
        }
        PyObject *tuple = nullptr;
        if (netmask != nullptr && broadcast != nullptr && ptp != nullptr)
            tuple = Py_BuildValue("(siOOOO)", ifa->ifa_name, family, addr, netmask, broadcast,
                                  ptp);
        Py_DECREF(addr);
        Py_XDECREF(netmask);
        Py_XDECREF(broadcast);
        Py_XDECREF(ptp);
        if (tuple == nullptr)
            goto error;
        int rc = PyList_Append(list, tuple);
        Py_DECREF(tuple);
        if (rc != 0)
            goto error;
    }
    return list;

error:
    Py_DECREF(list);
    return nullptr;
}

extern "C" PyObject *quarn_net_if_mtu(PyObject *, PyObject *args) {
    const char *name;
    if (!PyArg_ParseTuple(args, "s", &name))
        return nullptr;
    bsd::ifreq ifr = {};
    const char *failed;
    if (if_request(name, SIOCGIFMTU, &ifr, sizeof(ifr.ifr_name), &failed) == -1)
        return quarn_oserror();
    return Py_BuildValue("i", ifr.ifr_mtu);
}

extern "C" PyObject *quarn_net_if_is_running(PyObject *, PyObject *args) {
    const char *name;
    if (!PyArg_ParseTuple(args, "s", &name))
        return nullptr;
    bsd::ifreq ifr = {};
    const char *failed;
    if (if_request(name, SIOCGIFFLAGS, &ifr, sizeof(ifr.ifr_name), &failed) == -1)
        return quarn_oserror();
    return Py_BuildValue("O", (ifr.ifr_flags & IFF_RUNNING) ? Py_True : Py_False);
}

extern "C" PyObject *quarn_net_if_flags(PyObject *, PyObject *args) {
    PyObject *list = PyList_New(0);
    if (list == nullptr)
        return nullptr;
    const char *name;
    if (!PyArg_ParseTuple(args, "s", &name)) {
        Py_DECREF(list);
        return nullptr;
    }
    bsd::ifreq ifr = {};
    const char *failed;
    if (if_request(name, SIOCGIFFLAGS, &ifr, sizeof(ifr.ifr_name), &failed) == -1) {
        Py_DECREF(list);
        return quarn_oserror_wsyscall(std::strcmp(failed, "socket") == 0
                                          ? "socket(SOCK_DGRAM)"
                                          : "ioctl(SIOCGIFFLAGS)");
    }
    // Only the low half of the flags is asked for.
    int flags = static_cast<unsigned short>(ifr.ifr_flags);
    for (const auto &f : flag_names) {
        if ((flags & f.bit) && !append_flag(list, f.name)) {
            Py_DECREF(list);
            return nullptr;
        }
    }
    return list;
}

extern "C" int quarn_get_nic_speed(int ifm_active) {
    unsigned index;
    switch (ifm_active & IFM_NMASK) {
    case IFM_IEEE80211:
        index = static_cast<unsigned>(ifm_active & IFM_TMASK) - 3;
        if (index < sizeof(ieee80211_speeds) / sizeof(ieee80211_speeds[0]))
            return ieee80211_speeds[index];
        return 0;
    case IFM_ETHER:
        index = static_cast<unsigned>(ifm_active & (IFM_TMASK | IFM_ETH_XTYPE)) - 3;
        if (index < sizeof(ether_speeds) / sizeof(ether_speeds[0]))
            return ether_speeds[index];
        return 0;
    default:
        return 0;
    }
}

extern "C" PyObject *quarn_net_if_duplex_speed(PyObject *, PyObject *args) {
    const char *name;
    if (!PyArg_ParseTuple(args, "s", &name))
        return nullptr;
    socket_owner s(bsd::socket(AF_INET, SOCK_DGRAM, 0));
    if (s.fd == -1)
        return quarn_oserror();
    bsd::ifmediareq ifmed;
    std::memset(&ifmed, 0, sizeof(ifmed));
    str_copy(ifmed.ifm_name, sizeof(ifmed.ifm_name), name);
    int duplex = 0, speed = 0;
    // An interface without media support is no error: it has neither.
    if (bsd::ioctl(s.fd, SIOCGIFMEDIA, &ifmed) != -1) {
        if (ifmed.ifm_active & IFM_FDX)
            duplex = 2;
        else if (ifmed.ifm_active & IFM_HDX)
            duplex = 1;
        speed = quarn_get_nic_speed(ifmed.ifm_active);
    }
    return Py_BuildValue("[ii]", duplex, speed);
}
