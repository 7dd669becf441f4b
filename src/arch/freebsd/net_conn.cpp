// Socket connections: the system-wide table, joined from the open-file table
// ("kern.file") and the PCB lists through an index by kernel address, and
// the sockets of one process from its descriptor table.
#include "arch/freebsd/net_conn.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "arch/all/errors.h"
#include "arch/all/globals.h"
#include "arch/all/str.h"
#include "arch/posix/posix.h"

namespace {

// Kernel tables past this size are refused: a growth loop must end.
constexpr std::size_t max_table = std::size_t(1) << 30;
// How often proc_net_connections re-reads a TCP list that grew between its
// measure and its read.
constexpr int tcp_list_tries = 5;
constexpr int repeat_budget = 5;
constexpr std::size_t addr_text = 46;  // INET6_ADDRSTRLEN
constexpr std::size_t path_size = 1024;
constexpr int sun_path_size = 104;
constexpr std::size_t xfile_size = 128;
constexpr std::size_t xinpgen_size = 64;
constexpr std::size_t xunpgen_size = 32;

// Kernel data may sit anywhere in a buffer: every field is copied out.
template <class T> T ld(const char *p) {
    T v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

// Finds the first of several records with one key: sorted by key, then by
// position, so the lowest position of a key comes first.
template <class Key> struct first_index {
    std::vector<std::pair<Key, int>> entries;

    void finish() { std::sort(entries.begin(), entries.end()); }

    int find(const Key &key) const {
        auto it = std::lower_bound(entries.begin(), entries.end(), std::make_pair(key, -1));
        if (it == entries.end() || it->first != key)
            return -1;
        return it->second;
    }
};

// One membership test: 1, 0, or -1 with the exception set.
int contains(PyObject *seq, long value) {
    PyObject *num = PyLong_FromLong(value);
    if (num == nullptr)
        return -1;
    int rc = PySequence_Contains(seq, num);
    Py_DECREF(num);
    return rc;
}

// Reads a PCB list framed by a header and trailer of hdr bytes whose length
// field is at 0 and generation at 16: the one growth loop of every list.
// On success the caller owns *bufp and its *lenp bytes.
int read_pcblist(const char *name, std::size_t hdr, char **bufp, std::size_t *lenp) {
    std::size_t size = 8192;
    int budget = repeat_budget;
    char *buf = nullptr;
    std::size_t len;
    for (;;) {
        // What a failed read left is read again, so nothing is copied.
        // Zeroed, so bytes the kernel claims but did not write hold no
        // trailer or record of an earlier read: they fail the size checks.
        std::free(buf);
        buf = static_cast<char *>(std::calloc(1, size));
        if (buf == nullptr) {
            PyErr_NoMemory();
            return -1;
        }
        len = size;
        if (bsd::sysctlbyname(name, buf, &len, nullptr, 0) == -1) {
            if (errno == ENOMEM && size < max_table) {
                size *= 2;
                continue;
            }
            quarn_oserror();
            std::free(buf);
            return -1;
        }
        // A kernel that claims more than it was given is not believed.
        if (len > size)
            len = size;
        if (len < 2 * hdr || ld<std::uint64_t>(buf) != hdr ||
            ld<std::uint64_t>(buf + len - hdr) != hdr) {
            quarn_runtime_error("struct xinpgen size mismatch");
            std::free(buf);
            return -1;
        }
        if (ld<std::uint64_t>(buf + 16) != ld<std::uint64_t>(buf + len - hdr + 16) &&
            budget > 0) {
            budget--;
            continue;
        }
        break;
    }
    *bufp = buf;
    *lenp = len;
    return 0;
}

// Appends one tuple, handing the built object to the list; -1 on failure.
int append(PyObject *list, PyObject *item) {
    if (item == nullptr)
        return -1;
    int rc = PyList_Append(list, item);
    Py_DECREF(item);
    return rc;
}

// An address pair, or () for a port of 0 when empty_for_zero is set.
PyObject *addr_pair(int family, const void *addr, std::uint16_t port_net, bool empty_for_zero) {
    if (empty_for_zero && port_net == 0)
        return Py_BuildValue("()");
    char text[addr_text] = "";
    bsd::inet_ntop(family, addr, text, sizeof(text));
    return Py_BuildValue("(si)", text, static_cast<int>(ntohs(port_net)));
}

// The path of a sockaddr_un: at most sun_len - 2 bytes, and never past
// sun_path, also when sun_len is too small to say.
PyObject *unix_path(const char *sun) {
    int precision = static_cast<int>(ld<std::uint8_t>(sun)) - 2;
    if (precision < 0 || precision > sun_path_size)
        precision = sun_path_size;
    char path[path_size];
    str_format(path, sizeof(path), "%.*s", precision, sun + 2);
    return PyUnicode_DecodeFSDefault(path);
}

}  // namespace

struct quarn_xfile_index {
    bool built = false;
    first_index<std::uint64_t> by_data;
};

namespace {

// The first open-file record whose object is this socket into *xf, or null.
// The index is built at the first question; -1 with MemoryError when there
// is no memory for it.
int owner(quarn_xfile_index &index, const char *xfiles, int count, std::uint64_t so,
          const char **xf) {
    *xf = nullptr;
    if (count <= 0)
        return 0;
    if (!index.built) {
        try {
            index.by_data.entries.reserve(static_cast<std::size_t>(count));
        } catch (const std::bad_alloc &) {
            PyErr_NoMemory();
            return -1;
        }
        // Reserved: the records go in without another allocation. A record
        // that does not give its own size was not written (the buffer is
        // zeroed) and owns nothing.
        for (int i = 0; i < count; i++) {
            const char *rec = xfiles + static_cast<std::size_t>(i) * xfile_size;
            if (ld<std::uint64_t>(rec) != xfile_size)
                continue;
            index.by_data.entries.emplace_back(
                ld<std::uint64_t>(rec + offsetof(bsd::xfile, xf_data)), i);
        }
        index.by_data.finish();
        index.built = true;
    }
    int at = index.by_data.find(so);
    if (at >= 0)
        *xf = xfiles + static_cast<std::size_t>(at) * xfile_size;
    return 0;
}

int xf_fd(const char *xf) { return ld<int>(xf + offsetof(bsd::xfile, xf_fd)); }
int xf_pid(const char *xf) { return ld<int>(xf + offsetof(bsd::xfile, xf_pid)); }

}  // namespace

extern "C" int quarn_fetch_xfiles(char **buf, int *count) {
    std::size_t size = xfile_size;  // the caller's first buffer
    std::size_t len = size;
    while (bsd::sysctlbyname("kern.file", *buf, &len, nullptr, 0) == -1) {
        if (errno != ENOMEM || size >= max_table) {
            quarn_oserror();
            return -1;
        }
        // The failed call's length may be anything: grow from the buffer.
        // What the failed read left is read again, so nothing is copied.
        // Zeroed: see the open-file index.
        size *= 2;
        std::free(*buf);
        *buf = static_cast<char *>(std::calloc(1, size));
        if (*buf == nullptr) {
            PyErr_NoMemory();
            return -1;
        }
        len = size;
    }
    if (len > size)
        len = size;
    if (len != 0 && (len < sizeof(std::uint64_t) || ld<std::uint64_t>(*buf) != xfile_size)) {
        quarn_runtime_error("struct xfile size mismatch");
        return -1;
    }
    *count = static_cast<int>(len / xfile_size);
    return 0;
}

extern "C" int quarn_collect_inet_conns(int proto, int want_v4, int want_v6, PyObject *list,
                                        const char *xfiles, int count,
                                        quarn_xfile_index *index) {
    quarn_xfile_index own;
    if (index == nullptr)
        index = &own;
    bool tcp = proto == IPPROTO_TCP;
    const char *name = tcp ? "net.inet.tcp.pcblist" : "net.inet.udp.pcblist";
    int type = tcp ? SOCK_STREAM : SOCK_DGRAM;
    std::size_t rec_size = tcp ? sizeof(bsd::xtcpcb) : sizeof(bsd::xinpcb);
    std::size_t pcb_at = tcp ? offsetof(bsd::xtcpcb, xt_inp) : 0;
    char *buf;
    std::size_t len;
    if (read_pcblist(name, xinpgen_size, &buf, &len) == -1)
        return -1;
    std::size_t end = len - xinpgen_size;  // the trailer
    for (std::size_t off = xinpgen_size; off < end;) {
        const char *rec = buf + off;
        // A record must be whole before the trailer; its length alone moves
        // the walk, and only the expected length is accepted.
        std::uint64_t rec_len = ld<std::uint64_t>(rec);
        if (rec_len != rec_size || end - off < rec_size) {
            quarn_runtime_error(tcp ? "struct xtcpcb size mismatch"
                                    : "struct xinpcb size mismatch");
            std::free(buf);
            return -1;
        }
        off += rec_size;
        const char *pcb = rec + pcb_at;
        int status = tcp ? ld<int>(rec + offsetof(bsd::xtcpcb, t_state)) : QUARN_CONN_NONE;
        std::uint8_t vflag = ld<std::uint8_t>(pcb + offsetof(bsd::xinpcb, inp_vflag));
        if (((vflag & INP_IPV4) && !want_v4) || ((vflag & INP_IPV6) && !want_v6))
            continue;
        // A PCB of neither version has no family to report.
        if (!(vflag & (INP_IPV4 | INP_IPV6)))
            continue;
        const char *xf;
        if (owner(*index, xfiles, count,
                  ld<std::uint64_t>(pcb + offsetof(bsd::xinpcb, xi_socket.xso_so)), &xf) == -1) {
            std::free(buf);
            return -1;
        }
        if (xf == nullptr)
            continue;
        int family;
        const char *laddr, *faddr;
        if (vflag & INP_IPV4) {
            family = AF_INET;
            laddr = pcb + offsetof(bsd::xinpcb, inp_inc.inc_laddr);
            faddr = pcb + offsetof(bsd::xinpcb, inp_inc.inc_faddr);
        } else {
            family = AF_INET6;
            laddr = pcb + offsetof(bsd::xinpcb, inp_inc.inc6_laddr);
            faddr = pcb + offsetof(bsd::xinpcb, inp_inc.inc6_faddr);
        }
        // Addresses copied out of the record, so inet_ntop reads aligned data.
        char la[16], fa[16];
        std::memcpy(la, laddr, family == AF_INET ? 4 : 16);
        std::memcpy(fa, faddr, family == AF_INET ? 4 : 16);
        PyObject *local = addr_pair(
            family, la, ld<std::uint16_t>(pcb + offsetof(bsd::xinpcb, inp_inc.inc_lport)), false);
        if (local == nullptr) {
            std::free(buf);
            return -1;
        }
        PyObject *remote = addr_pair(
            family, fa, ld<std::uint16_t>(pcb + offsetof(bsd::xinpcb, inp_inc.inc_fport)), true);
        if (remote == nullptr) {
            Py_DECREF(local);
            std::free(buf);
            return -1;
        }
        if (append(list, Py_BuildValue("iiiNNii", xf_fd(xf), family, type, local, remote, status,
                                        xf_pid(xf))) == -1) {
            std::free(buf);
            return -1;
        }
    }
    std::free(buf);
    return 0;
}

extern "C" int quarn_collect_unix_conns(int type, PyObject *list, const char *xfiles, int count,
                                        quarn_xfile_index *index) {
    quarn_xfile_index own;
    if (index == nullptr)
        index = &own;
    const char *name = type == SOCK_STREAM ? "net.local.stream.pcblist" : "net.local.dgram.pcblist";
    char *buf;
    std::size_t len;
    if (read_pcblist(name, xunpgen_size, &buf, &len) == -1)
        return -1;
    std::size_t end = len - xunpgen_size;
    for (std::size_t off = xunpgen_size; off < end;) {
        const char *rec = buf + off;
        if (ld<std::uint64_t>(rec) != sizeof(bsd::xunpcb) || end - off < sizeof(bsd::xunpcb)) {
            quarn_runtime_error("struct xunpcb size mismatch");
            std::free(buf);
            return -1;
        }
        off += sizeof(bsd::xunpcb);
        const char *xf;
        if (owner(*index, xfiles, count,
                  ld<std::uint64_t>(rec + offsetof(bsd::xunpcb, xu_socket.xso_so)), &xf) == -1) {
            std::free(buf);
            return -1;
        }
        if (xf == nullptr)
            continue;
        PyObject *path = unix_path(rec + offsetof(bsd::xunpcb, xu_addr));
        if (path == nullptr) {
            std::free(buf);
            return -1;
        }
        int rc = append(list, Py_BuildValue("(iiiOsii)", xf_fd(xf), AF_UNIX, type, path, "",
                                            QUARN_CONN_NONE, xf_pid(xf)));
        Py_DECREF(path);
        if (rc == -1) {
            std::free(buf);
            return -1;
        }
    }
    std::free(buf);
    return 0;
}

extern "C" PyObject *quarn_net_connections(PyObject *, PyObject *args) {
    PyObject *families, *types;
    int inet = 0, inet6 = 0, unix_ = 0, stream = 0, dgram = 0;
    char *xfiles = nullptr;
    int count = 0;
    quarn_xfile_index index;
    PyObject *list = PyList_New(0);
    if (list == nullptr)
        return nullptr;
    if (!PyArg_ParseTuple(args, "OO", &families, &types))
        goto error;
    if (!PySequence_Check(families) || !PySequence_Check(types)) {
        PyErr_SetString(PyExc_TypeError, "arg 2 or 3 is not a sequence");
        goto error;
    }
    if ((inet = contains(families, AF_INET)) == -1 ||
        (inet6 = contains(families, AF_INET6)) == -1 ||
        (unix_ = contains(families, AF_UNIX)) == -1 ||
        (stream = contains(types, SOCK_STREAM)) == -1 ||
        (dgram = contains(types, SOCK_DGRAM)) == -1)
        goto error;
    xfiles = static_cast<char *>(std::calloc(1, xfile_size));
    if (xfiles == nullptr) {
        PyErr_NoMemory();
        goto error;
    }
    if (quarn_fetch_xfiles(&xfiles, &count) == -1)
        goto error;
    if (stream && quarn_collect_inet_conns(IPPROTO_TCP, inet, inet6, list, xfiles, count,
                                           &index) == -1)
        goto error;
    if (dgram && quarn_collect_inet_conns(IPPROTO_UDP, inet, inet6, list, xfiles, count,
                                          &index) == -1)
        goto error;
    if (unix_ && (quarn_collect_unix_conns(SOCK_STREAM, list, xfiles, count, &index) == -1 ||
                  quarn_collect_unix_conns(SOCK_DGRAM, list, xfiles, count, &index) == -1))
        goto error;
    std::free(xfiles);
    return list;

error:
    std::free(xfiles);
    Py_DECREF(list);
    return nullptr;
}

namespace {

// What identifies a TCP record to a descriptor: family, protocol, then the
// local port, remote port and both addresses as stored (an IPv4 address in
// the first four of its sixteen bytes).
using tcp_key = std::array<unsigned char, 44>;

tcp_key make_key(int family, int protocol, const char *lport, const char *fport,
                 const char *laddr, const char *faddr) {
    tcp_key k{};
    std::size_t n = family == AF_INET ? 4 : 16;
    std::memcpy(k.data(), &family, 4);
    std::memcpy(k.data() + 4, &protocol, 4);
    std::memcpy(k.data() + 8, lport, 2);
    std::memcpy(k.data() + 10, fport, 2);
    std::memcpy(k.data() + 12, laddr, n);
    std::memcpy(k.data() + 28, faddr, n);
    return k;
}

// The TCP list of proc_net_connections: walked once, on the first question,
// into an index that answers each socket's state as the first matching
// record would. Its containers may throw std::bad_alloc: find turns that into
// MemoryError.
struct tcp_states {
    const char *buf;
    std::size_t len;
    bool built = false;
    first_index<tcp_key> index;
    std::vector<int> states;

    tcp_states(const char *b, std::size_t n) : buf(b), len(n) {}

    void build() {
        built = true;
        if (len < sizeof(std::uint64_t))
            return;
        std::uint64_t start = ld<std::uint64_t>(buf);  // the header's xig_len
        constexpr std::size_t need = offsetof(bsd::xtcpcb, t_state) + sizeof(int);
        for (std::uint64_t off = start; off < len && len - off >= sizeof(std::uint64_t);) {
            const char *rec = buf + off;
            std::uint64_t rec_len = ld<std::uint64_t>(rec);
            if (rec_len <= xinpgen_size || rec_len > len - off)
                break;
            off += rec_len;
            if (rec_len < need)
                continue;
            const char *pcb = rec + offsetof(bsd::xtcpcb, xt_inp);
            if (ld<std::int16_t>(pcb + offsetof(bsd::xinpcb, xi_socket.so_type)) != SOCK_STREAM)
                continue;
            int family = ld<std::int32_t>(pcb + offsetof(bsd::xinpcb, xi_socket.xso_family));
            int protocol = ld<std::int32_t>(pcb + offsetof(bsd::xinpcb, xi_socket.xso_protocol));
            const char *laddr, *faddr;
            if (family == AF_INET) {
                laddr = pcb + offsetof(bsd::xinpcb, inp_inc.inc_laddr);
                faddr = pcb + offsetof(bsd::xinpcb, inp_inc.inc_faddr);
            } else if (family == AF_INET6) {
                laddr = pcb + offsetof(bsd::xinpcb, inp_inc.inc6_laddr);
                faddr = pcb + offsetof(bsd::xinpcb, inp_inc.inc6_faddr);
            } else {
                continue;
            }
            index.entries.emplace_back(
                make_key(family, protocol, pcb + offsetof(bsd::xinpcb, inp_inc.inc_lport),
                         pcb + offsetof(bsd::xinpcb, inp_inc.inc_fport), laddr, faddr),
                static_cast<int>(states.size()));
            states.push_back(ld<std::int32_t>(rec + offsetof(bsd::xtcpcb, t_state)));
        }
        index.finish();
    }

    // The state into *status; -1 with MemoryError when the index cannot be
    // built.
    int find(int family, int protocol, const char *local, const char *peer, int *status) {
        if (!built) {
            try {
                build();
            } catch (const std::bad_alloc &) {
                PyErr_NoMemory();
                return -1;
            }
        }
        std::size_t at = family == AF_INET ? 4 : 8;  // sin_addr or sin6_addr
        int i = index.find(make_key(family, protocol, local + 2, peer + 2, local + at, peer + at));
        *status = i < 0 ? QUARN_CONN_NONE : states[static_cast<std::size_t>(i)];
        return 0;
    }
};

// Measures and reads the TCP list; a list that grows in between is read
// again a few times before its ENOMEM is reported.
int read_tcp_list(char **bufp, std::size_t *lenp) {
    const char *name = "net.inet.tcp.pcblist";
    for (int attempt = 1;; attempt++) {
        std::size_t size = 0;
        if (bsd::sysctlbyname(name, nullptr, &size, nullptr, 0) == -1) {
            quarn_oserror();
            return -1;
        }
        if (size > max_table) {
            errno = ENOMEM;
            quarn_oserror();
            return -1;
        }
        // Zeroed, so a length claimed past what was written walks into
        // records of length 0, which end the walk.
        char *buf = static_cast<char *>(std::calloc(1, size ? size : 1));
        if (buf == nullptr) {
            errno = ENOMEM;
            quarn_oserror();
            return -1;
        }
        std::size_t len = size;
        if (bsd::sysctlbyname(name, buf, &len, nullptr, 0) == 0) {
            *bufp = buf;
            *lenp = len < size ? len : size;
            return 0;
        }
        if (errno != ENOMEM || attempt == tcp_list_tries) {
            quarn_oserror();
            std::free(buf);
            return -1;
        }
        std::free(buf);
    }
}

}  // namespace

extern "C" PyObject *quarn_proc_net_connections(PyObject *, PyObject *args) {
    int pid, count = 0;
    PyObject *families, *types;
    bsd::kinfo_file *files = nullptr;
    char *tcp_buf = nullptr;
    std::size_t tcp_len = 0;
    PyObject *list = PyList_New(0);
    if (list == nullptr)
        return nullptr;
    if (!PyArg_ParseTuple(args, "iOO", &pid, &families, &types))
        goto error;
    if (!PySequence_Check(families) || !PySequence_Check(types)) {
        PyErr_SetString(PyExc_TypeError, "arg 2 or 3 is not a sequence");
        goto error;
    }
    errno = 0;
    files = bsd::kinfo_getfile(pid, &count);
    if (files == nullptr) {
        quarn_raise_for_pid(pid, "kinfo_getfile()");
        goto error;
    }
    if (read_tcp_list(&tcp_buf, &tcp_len) == -1)
        goto error;
    {
        tcp_states tcp{tcp_buf, tcp_len};
        for (int i = 0; i < count; i++) {
            const bsd::kinfo_file &kf = files[i];
            if (kf.kf_type != KF_TYPE_SOCKET)
                continue;
            int rc = contains(families, kf.kf_sock_domain);
            if (rc == 1)
                rc = contains(types, kf.kf_sock_type);
            if (rc == -1)
                goto error;
            if (rc == 0)
                continue;
            const char *local = reinterpret_cast<const char *>(&kf.kf_sa_local);
            const char *peer = reinterpret_cast<const char *>(&kf.kf_sa_peer);
            if (kf.kf_sock_domain == AF_UNIX) {
                PyObject *path = unix_path(local);
                if (path == nullptr)
                    goto error;
                rc = append(list, Py_BuildValue("(iiiOsi)", kf.kf_fd, kf.kf_sock_domain,
                                                kf.kf_sock_type, path, "", QUARN_CONN_NONE));
                Py_DECREF(path);
                if (rc == -1)
                    goto error;
                continue;
            }
            if (kf.kf_sock_domain != AF_INET && kf.kf_sock_domain != AF_INET6)
                continue;
            int family = kf.kf_sock_domain;
            int status = QUARN_CONN_NONE;
            if (kf.kf_sock_type == SOCK_STREAM &&
                tcp.find(family, kf.kf_sock_protocol, local, peer, &status) == -1)
                goto error;
            std::size_t at = family == AF_INET ? 4 : 8;
            char la[16], fa[16];
            std::memcpy(la, local + at, family == AF_INET ? 4 : 16);
            std::memcpy(fa, peer + at, family == AF_INET ? 4 : 16);
            PyObject *lpair = addr_pair(family, la, ld<std::uint16_t>(local + 2), false);
            if (lpair == nullptr)
                goto error;
            PyObject *rpair = addr_pair(family, fa, ld<std::uint16_t>(peer + 2), true);
            if (rpair == nullptr) {
                Py_DECREF(lpair);
                goto error;
            }
            if (append(list, Py_BuildValue("(iiiNNi)", kf.kf_fd, family, kf.kf_sock_type, lpair,
                                           rpair, status)) == -1)
                goto error;
        }
    }
    std::free(files);
    std::free(tcp_buf);
    return list;

error:
    std::free(files);
    std::free(tcp_buf);
    Py_DECREF(list);
    return nullptr;
}
