// The kernel's socket tables: the open-file table ("kern.file") and the
// protocol control-block (PCB) lists, each read through the one table read
// and walked by one walker; an index to find a record by key; and the
// converters of the socket addresses the records hold.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "arch/all/convert.h"
#include "arch/posix/sysctl.h"

constexpr std::size_t xfile_size = 128;
constexpr std::size_t xinpgen_size = 64;
constexpr std::size_t xunpgen_size = 32;

extern "C" {
// The open-file table into *buf (the caller frees it) with its record count.
int quarn_fetch_xfiles(char **buf, int *count);
}

// A PCB list framed by a header and a trailer of hdr bytes, read again while
// their generation counts differ (a few times at most). On success the
// caller frees *buf; its *len bytes hold at least the frame.
int quarn_read_pcblist(const char *name, std::size_t hdr, char **buf, std::size_t *len);

// The TCP list as proc_net_connections reads it: measured before each read,
// read again a few times while it outgrows the measure; no frame check.
int quarn_read_tcp_list(char **buf, std::size_t *len);

// How a PCB list is walked.
struct pcb_walk {
    std::size_t hdr;     // the size of its header and trailer
    // Strict (a record name): the frame was checked on reading; from the
    // header to the trailer each record must be `size` bytes by its own
    // length field, or the walk fails with "struct <record> size mismatch".
    // Lenient (no name): from the offset the header gives, a record of hdr
    // bytes or fewer (the trailer) or one running past the data ends the
    // walk without an error.
    std::size_t size;
    const char *record;
};

// Calls visit(record, its length) for each record of the list, in order:
// 0, or -1 with an exception set, when the walk or visit fails.
template <class Visit>
int quarn_walk_pcblist(const char *buf, std::size_t len, const pcb_walk &w, Visit visit) {
    bool strict = w.record != nullptr;
    std::size_t off, end;
    if (strict) {
        off = w.hdr;
        end = len >= 2 * w.hdr ? len - w.hdr : 0;
    } else {
        off = len >= sizeof(std::uint64_t) ? load<std::uint64_t>(buf) : len;
        end = len;
    }
    while (off < end) {
        const char *rec = buf + off;
        std::size_t left = end - off;
        std::uint64_t rec_len = left >= sizeof(std::uint64_t) ? load<std::uint64_t>(rec) : 0;
        if (strict) {
            // A record cut by the trailer is as long as what is left of it.
            if (left < w.size)
                rec_len = left;
            if (quarn_check_size(rec_len, w.size, w.record) == -1)
                return -1;
        } else if (rec_len <= w.hdr || rec_len > left) {
            return 0;
        }
        off += rec_len;
        if (visit(rec, static_cast<std::size_t>(rec_len)) == -1)
            return -1;
    }
    return 0;
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

// One membership test of a filter: 1, 0, or -1 with the exception set.
int filter_has(PyObject *seq, long value);

// An inet address (4 or 16 bytes of kernel data, by family) and its port in
// network order as the (host text, port) pair, or () for a port of 0 when
// empty_for_zero is set.
PyObject *inaddr2py(int family, const char *addr, std::uint16_t port_net, bool empty_for_zero);

// The path of a sockaddr_un: at most sun_len - 2 bytes, never past sun_path,
// also when sun_len is too small to say.
PyObject *sun2py(const char *sun);
