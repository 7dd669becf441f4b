#include "arch/freebsd/pcblist.h"

#include <cstring>

#include "arch/all/str.h"
#include "bsd.h"

namespace {

constexpr std::size_t first_xfiles = xfile_size;
constexpr std::size_t first_pcblist = 8192;
// How often a PCB list whose generation counts differ is read again.
constexpr int repeat_budget = 5;
// How often proc_net_connections reads a TCP list that grew between its
// measure and its read.
constexpr int tcp_list_reads = 5;
constexpr std::size_t addr_text = 46;  // INET6_ADDRSTRLEN
constexpr int sun_path_size = 104;

// An empty table, or one whose first record is an xfile by its own size.
int check_xfiles(const char *buf, std::size_t len, std::size_t record) {
    if (len == 0)
        return 0;
    return quarn_check_size(len < sizeof(std::uint64_t) ? 0 : load<std::uint64_t>(buf), record,
                            "xfile");
}

// A header and a trailer of hdr bytes, each giving its own length (the
// message names the inet header for every list); 1 when their generation
// counts differ, the list having changed while the kernel copied it.
int check_frame(const char *buf, std::size_t len, std::size_t hdr) {
    if (len < 2 * hdr)
        return quarn_check_size(0, hdr, "xinpgen");
    const char *trailer = buf + len - hdr;
    if (quarn_check_size(load<std::uint64_t>(buf), hdr, "xinpgen") == -1 ||
        quarn_check_size(load<std::uint64_t>(trailer), hdr, "xinpgen") == -1)
        return -1;
    return load<std::uint64_t>(buf + 16) != load<std::uint64_t>(trailer + 16) ? 1 : 0;
}

}  // namespace

extern "C" int quarn_fetch_xfiles(char **buf, int *count) {
    quarn_table t;
    t.name = "kern.file";
    t.first = first_xfiles;
    t.check = check_xfiles;
    t.unit = xfile_size;
    std::size_t len = 0;
    if (quarn_read_table(t, buf, &len) == -1)
        return -1;
    *count = static_cast<int>(len / xfile_size);
    return 0;
}

int quarn_read_pcblist(const char *name, std::size_t hdr, char **buf, std::size_t *len) {
    quarn_table t;
    t.name = name;
    t.first = first_pcblist;
    t.check = check_frame;
    t.unit = hdr;
    t.repeats = repeat_budget;
    return quarn_read_table(t, buf, len);
}

int quarn_read_tcp_list(char **buf, std::size_t *len) {
    quarn_table t;
    t.name = "net.inet.tcp.pcblist";
    t.reads = tcp_list_reads;
    t.errors = quarn_table_errors::errno_only;
    return quarn_read_table(t, buf, len);
}

int filter_has(PyObject *seq, long value) {
    PyObject *num = PyLong_FromLong(value);
    if (num == nullptr)
        return -1;
    int rc = PySequence_Contains(seq, num);
    Py_DECREF(num);
    return rc;
}

PyObject *inaddr2py(int family, const char *addr, std::uint16_t port_net, bool empty_for_zero) {
    if (empty_for_zero && port_net == 0)
        return Py_BuildValue("()");
    // Copied out of the record, so inet_ntop reads aligned data.
    char copy[16];
    std::memcpy(copy, addr, family == AF_INET ? 4 : 16);
    char text[addr_text] = "";
    bsd::inet_ntop(family, copy, text, sizeof(text));
    return Py_BuildValue("(si)", text, static_cast<int>(ntohs(port_net)));
}

PyObject *sun2py(const char *sun) {
    int precision = static_cast<int>(load<std::uint8_t>(sun)) - 2;
    if (precision < 0 || precision > sun_path_size)
        precision = sun_path_size;
    return field2py(sun + 2, static_cast<std::size_t>(precision));
}
