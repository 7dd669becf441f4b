// The system-wide connection table: the open-file table ("kern.file") and
// the PCB lists, joined through an index by kernel address.
#include "arch/freebsd/net_conn.h"

#include <new>

#include "arch/all/convert.h"
#include "arch/all/globals.h"
#include "arch/all/owners.h"
#include "arch/freebsd/pcblist.h"

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
            if (load<std::uint64_t>(rec) != xfile_size)
                continue;
            index.by_data.entries.emplace_back(
                load<std::uint64_t>(rec + offsetof(bsd::xfile, xf_data)), i);
        }
        index.by_data.finish();
        index.built = true;
    }
    int at = index.by_data.find(so);
    if (at >= 0)
        *xf = xfiles + static_cast<std::size_t>(at) * xfile_size;
    return 0;
}

int xf_fd(const char *xf) { return load<int>(xf + offsetof(bsd::xfile, xf_fd)); }
int xf_pid(const char *xf) { return load<int>(xf + offsetof(bsd::xfile, xf_pid)); }

// One inet PCB and its owner as the 7-element tuple.
PyObject *inet_conn2py(const char *pcb, bool v4, int type, int status, const char *xf) {
    int family = v4 ? AF_INET : AF_INET6;
    const char *laddr = pcb + (v4 ? offsetof(bsd::xinpcb, inp_inc.inc_laddr)
                                  : offsetof(bsd::xinpcb, inp_inc.inc6_laddr));
    const char *faddr = pcb + (v4 ? offsetof(bsd::xinpcb, inp_inc.inc_faddr)
                                  : offsetof(bsd::xinpcb, inp_inc.inc6_faddr));
    py_ref local(inaddr2py(family, laddr,
                           load<std::uint16_t>(pcb + offsetof(bsd::xinpcb, inp_inc.inc_lport)),
                           false));
    if (!local)
        return nullptr;
    py_ref remote(inaddr2py(family, faddr,
                            load<std::uint16_t>(pcb + offsetof(bsd::xinpcb, inp_inc.inc_fport)),
                            true));
    if (!remote)
        return nullptr;
    return Py_BuildValue("iiiNNii", xf_fd(xf), family, type, local.release(), remote.release(),
                         status, xf_pid(xf));
}

}  // namespace

extern "C" int quarn_collect_inet_conns(int proto, int want_v4, int want_v6, PyObject *list,
                                        const char *xfiles, int count,
                                        quarn_xfile_index *index) {
    quarn_xfile_index own;
    if (index == nullptr)
        index = &own;
    bool tcp = proto == IPPROTO_TCP;
    int type = tcp ? SOCK_STREAM : SOCK_DGRAM;
    pcb_walk walk{xinpgen_size, tcp ? sizeof(bsd::xtcpcb) : sizeof(bsd::xinpcb),
                  tcp ? "xtcpcb" : "xinpcb"};
    std::size_t pcb_at = tcp ? offsetof(bsd::xtcpcb, xt_inp) : 0;
    char *raw;
    std::size_t len;
    if (quarn_read_pcblist(tcp ? "net.inet.tcp.pcblist" : "net.inet.udp.pcblist", xinpgen_size,
                           &raw, &len) == -1)
        return -1;
    heap<char> buf(raw);
    return quarn_walk_pcblist(buf.get(), len, walk, [&](const char *rec, std::size_t) {
        const char *pcb = rec + pcb_at;
        int status = tcp ? load<int>(rec + offsetof(bsd::xtcpcb, t_state)) : QUARN_CONN_NONE;
        std::uint8_t vflag = load<std::uint8_t>(pcb + offsetof(bsd::xinpcb, inp_vflag));
        if (((vflag & INP_IPV4) && !want_v4) || ((vflag & INP_IPV6) && !want_v6))
            return 0;
        // A PCB of neither version has no family to report.
        if (!(vflag & (INP_IPV4 | INP_IPV6)))
            return 0;
        const char *xf;
        if (owner(*index, xfiles, count,
                  load<std::uint64_t>(pcb + offsetof(bsd::xinpcb, xi_socket.xso_so)), &xf) == -1)
            return -1;
        if (xf == nullptr)
            return 0;
        return append_new(list, inet_conn2py(pcb, vflag & INP_IPV4, type, status, xf));
    });
}

extern "C" int quarn_collect_unix_conns(int type, PyObject *list, const char *xfiles, int count,
                                        quarn_xfile_index *index) {
    quarn_xfile_index own;
    if (index == nullptr)
        index = &own;
    const char *name = type == SOCK_STREAM ? "net.local.stream.pcblist" : "net.local.dgram.pcblist";
    char *raw;
    std::size_t len;
    if (quarn_read_pcblist(name, xunpgen_size, &raw, &len) == -1)
        return -1;
    heap<char> buf(raw);
    pcb_walk walk{xunpgen_size, sizeof(bsd::xunpcb), "xunpcb"};
    return quarn_walk_pcblist(buf.get(), len, walk, [&](const char *rec, std::size_t) {
        const char *xf;
        if (owner(*index, xfiles, count,
                  load<std::uint64_t>(rec + offsetof(bsd::xunpcb, xu_socket.xso_so)), &xf) == -1)
            return -1;
        if (xf == nullptr)
            return 0;
        py_ref path(sun2py(rec + offsetof(bsd::xunpcb, xu_addr)));
        if (!path)
            return -1;
        return append_new(list, Py_BuildValue("(iiiOsii)", xf_fd(xf), AF_UNIX, type, path.get(),
                                              "", QUARN_CONN_NONE, xf_pid(xf)));
    });
}

extern "C" PyObject *quarn_net_connections(PyObject *, PyObject *args) {
    py_ref list(PyList_New(0));
    if (!list)
        return nullptr;
    PyObject *families, *types;
    if (!PyArg_ParseTuple(args, "OO", &families, &types))
        return nullptr;
    if (!PySequence_Check(families) || !PySequence_Check(types)) {
        PyErr_SetString(PyExc_TypeError, "arg 2 or 3 is not a sequence");
        return nullptr;
    }
    int inet, inet6, unix_, stream, dgram;
    if ((inet = filter_has(families, AF_INET)) == -1 ||
        (inet6 = filter_has(families, AF_INET6)) == -1 ||
        (unix_ = filter_has(families, AF_UNIX)) == -1 ||
        (stream = filter_has(types, SOCK_STREAM)) == -1 ||
        (dgram = filter_has(types, SOCK_DGRAM)) == -1)
        return nullptr;
    char *raw = nullptr;
    int count = 0;
    if (quarn_fetch_xfiles(&raw, &count) == -1)
        return nullptr;
    heap<char> xfiles(raw);
    quarn_xfile_index index;
    PyObject *out = list.get();
    if (stream && quarn_collect_inet_conns(IPPROTO_TCP, inet, inet6, out, xfiles.get(), count,
                                           &index) == -1)
        return nullptr;
    if (dgram && quarn_collect_inet_conns(IPPROTO_UDP, inet, inet6, out, xfiles.get(), count,
                                          &index) == -1)
        return nullptr;
    if (unix_ && (quarn_collect_unix_conns(SOCK_STREAM, out, xfiles.get(), count, &index) == -1 ||
                  quarn_collect_unix_conns(SOCK_DGRAM, out, xfiles.get(), count, &index) == -1))
        return nullptr;
    return list.release();
}
