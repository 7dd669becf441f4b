// The sockets of one process, from its descriptor table, with the TCP state
// of each stream socket looked up in the TCP list.
#include "arch/freebsd/proc_conn.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <new>

#include "arch/all/convert.h"
#include "arch/all/globals.h"
#include "arch/all/owners.h"
#include "arch/freebsd/pcblist.h"
#include "arch/posix/posix.h"

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

// The TCP list, walked once, on the first question, into an index that
// answers each socket's state as the first matching record would. Its
// containers may throw std::bad_alloc: find turns that into MemoryError.
struct tcp_states {
    const char *buf;
    std::size_t len;
    bool built = false;
    first_index<tcp_key> index;
    std::vector<int> states;

    tcp_states(const char *b, std::size_t n) : buf(b), len(n) {}

    void add(const char *rec) {
        const char *pcb = rec + offsetof(bsd::xtcpcb, xt_inp);
        if (load<std::int16_t>(pcb + offsetof(bsd::xinpcb, xi_socket.so_type)) != SOCK_STREAM)
            return;
        int family = load<std::int32_t>(pcb + offsetof(bsd::xinpcb, xi_socket.xso_family));
        int protocol = load<std::int32_t>(pcb + offsetof(bsd::xinpcb, xi_socket.xso_protocol));
        const char *laddr, *faddr;
        if (family == AF_INET) {
            laddr = pcb + offsetof(bsd::xinpcb, inp_inc.inc_laddr);
            faddr = pcb + offsetof(bsd::xinpcb, inp_inc.inc_faddr);
        } else if (family == AF_INET6) {
            laddr = pcb + offsetof(bsd::xinpcb, inp_inc.inc6_laddr);
            faddr = pcb + offsetof(bsd::xinpcb, inp_inc.inc6_faddr);
        } else {
            return;
        }
        index.entries.emplace_back(
            make_key(family, protocol, pcb + offsetof(bsd::xinpcb, inp_inc.inc_lport),
                     pcb + offsetof(bsd::xinpcb, inp_inc.inc_fport), laddr, faddr),
            static_cast<int>(states.size()));
        states.push_back(load<std::int32_t>(rec + offsetof(bsd::xtcpcb, t_state)));
    }

    void build() {
        built = true;
        // A record too short to hold its state is passed over.
        constexpr std::size_t need = offsetof(bsd::xtcpcb, t_state) + sizeof(int);
        pcb_walk walk{xinpgen_size, 0, nullptr};
        quarn_walk_pcblist(buf, len, walk, [this](const char *rec, std::size_t rec_len) {
            if (rec_len >= need)
                add(rec);
            return 0;
        });
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

// One socket descriptor as its 6-element tuple, or None when it is of
// another domain.
PyObject *socket2py(const bsd::kinfo_file &kf, tcp_states &tcp) {
    const char *local = reinterpret_cast<const char *>(&kf.kf_sa_local);
    const char *peer = reinterpret_cast<const char *>(&kf.kf_sa_peer);
    int family = kf.kf_sock_domain;
    if (family == AF_UNIX) {
        py_ref path(sun2py(local));
        if (!path)
            return nullptr;
        return Py_BuildValue("(iiiOsi)", kf.kf_fd, family, kf.kf_sock_type, path.get(), "",
                             QUARN_CONN_NONE);
    }
    if (family != AF_INET && family != AF_INET6)
        Py_RETURN_NONE;
    int status = QUARN_CONN_NONE;
    if (kf.kf_sock_type == SOCK_STREAM &&
        tcp.find(family, kf.kf_sock_protocol, local, peer, &status) == -1)
        return nullptr;
    std::size_t at = family == AF_INET ? 4 : 8;  // sin_addr or sin6_addr
    py_ref lpair(inaddr2py(family, local + at, load<std::uint16_t>(local + 2), false));
    if (!lpair)
        return nullptr;
    py_ref rpair(inaddr2py(family, peer + at, load<std::uint16_t>(peer + 2), true));
    if (!rpair)
        return nullptr;
    return Py_BuildValue("(iiiNNi)", kf.kf_fd, family, kf.kf_sock_type, lpair.release(),
                         rpair.release(), status);
}

// Appends the tuples of the sockets that pass both filters: 0, or -1 with
// the exception set.
int append_sockets(PyObject *list, const bsd::kinfo_file *files, int count, tcp_states &tcp,
                   PyObject *families, PyObject *types) {
    for (int i = 0; i < count; i++) {
        const bsd::kinfo_file &kf = files[i];
        if (kf.kf_type != KF_TYPE_SOCKET)
            continue;
        int rc = filter_has(families, kf.kf_sock_domain);
        if (rc == 1)
            rc = filter_has(types, kf.kf_sock_type);
        if (rc == -1)
            return -1;
        if (rc == 0)
            continue;
        py_ref item(socket2py(kf, tcp));
        if (!item)
            return -1;
        if (item.get() != Py_None && append_new(list, item.release()) == -1)
            return -1;
    }
    return 0;
}

}  // namespace

extern "C" PyObject *quarn_proc_net_connections(PyObject *, PyObject *args) {
    py_ref list(PyList_New(0));
    if (!list)
        return nullptr;
    int pid, count = 0;
    PyObject *families, *types;
    if (!PyArg_ParseTuple(args, "iOO", &pid, &families, &types))
        return nullptr;
    if (!PySequence_Check(families) || !PySequence_Check(types)) {
        PyErr_SetString(PyExc_TypeError, "arg 2 or 3 is not a sequence");
        return nullptr;
    }
    errno = 0;
    heap<bsd::kinfo_file> files(bsd::kinfo_getfile(pid, &count));
    if (files.get() == nullptr)
        return quarn_raise_for_pid(pid, "kinfo_getfile()");
    char *raw = nullptr;
    std::size_t len = 0;
    if (quarn_read_tcp_list(&raw, &len) == -1)
        return nullptr;
    heap<char> tcp_buf(raw);
    tcp_states tcp{tcp_buf.get(), len};
    if (append_sockets(list.get(), files.get(), count, tcp, families, types) == -1)
        return nullptr;
    return list.release();
}
