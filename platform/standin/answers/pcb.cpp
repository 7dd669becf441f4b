// The protocol control-block lists and the open-file table, in FreeBSD's
// records, from the host's sockets and /proc/PID/fd.
// FreeBSD records first: host headers define some of their field names
// as macros.
#include "standin/host/sockets.h"
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "standin/host/files.h"
#include "standin/answers/answers.h"
#include "standin/host/owners.h"

namespace standin {

namespace {

// How many records of rec bytes, framed by two headers of hdr bytes, a read
// into the caller's buffer needs before it is known not to fit.
std::size_t records_to_overflow(std::size_t hdr, std::size_t rec, std::size_t read_limit) {
    if (read_limit == SIZE_MAX || read_limit < 2 * hdr)
        return read_limit == SIZE_MAX ? SIZE_MAX : 0;
    return (read_limit - 2 * hdr) / rec + 1;
}

// FreeBSD's measure of a PCB list leaves room for an eighth more records
// (at least ten), so a list that grows a little still fits the read.
std::size_t headroom(std::size_t n) {
    std::size_t extra = n / 8;
    return extra < 10 ? 10 : extra;
}

template <class Gen> Gen list_gen(std::size_t len, std::size_t count, std::uint64_t gen) {
    Gen g{};
    if constexpr (sizeof(Gen) == sizeof(bsd::xinpgen)) {
        g.xig_len = len;
        g.xig_count = static_cast<bsd::u_int>(count);
        g.xig_gen = gen;
        g.xig_sogen = gen;
    } else {
        g.xug_len = len;
        g.xug_count = static_cast<bsd::u_int>(count);
        g.xug_gen = gen;
        g.xug_sogen = gen;
    }
    return g;
}

bool is_v4_mapped(const std::uint8_t *a) {
    static const std::uint8_t prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return std::memcmp(a, prefix, 12) == 0;
}

bool is_unspecified(const std::uint8_t *a) {
    static const std::uint8_t zero[16] = {};
    return std::memcmp(a, zero, 16) == 0;
}

// The PCB of one host socket. An IPv6 socket that speaks IPv4 through a
// mapped address is an IPv4 PCB, as FreeBSD makes it; a dual-stack wildcard
// socket carries both version flags. Mapped addresses keep their full 16
// bytes, whose last four are the IPv4 address.
void fill_inpcb(const host_inet &s, int proto, int type, bsd::xinpcb &pcb) {
    pcb.xi_len = sizeof(bsd::xinpcb);
    bsd::xsocket &so = pcb.xi_socket;
    so.xso_len = sizeof(bsd::xsocket);
    so.xso_so = socket_kaddr(s.inode);
    so.so_pcb = pcb_kaddr(s.inode);
    so.xso_protocol = proto;
    so.xso_family = s.family == AF_INET6 ? bsd::af_inet6 : bsd::af_inet;
    so.so_type = static_cast<std::int16_t>(type);
    so.so_uid = s.uid;
    if (proto == bsd::ipproto_tcp && s.state == 10) {  // listening: the queues
        so.so_qlen = s.rqueue;
        so.so_qlimit = s.wqueue;
    } else {
        so.so_rcv.sb_cc = s.rqueue;
        so.so_snd.sb_cc = s.wqueue;
    }
    pcb.inp_inc.inc_ie.ie_fport = s.fport;
    pcb.inp_inc.inc_ie.ie_lport = s.lport;
    if (s.family == AF_INET) {
        std::memcpy(&pcb.inp_inc.inc_ie.ie_dependladdr.id46_addr.ia46_addr4, s.laddr, 4);
        std::memcpy(&pcb.inp_inc.inc_ie.ie_dependfaddr.id46_addr.ia46_addr4, s.faddr, 4);
        pcb.inp_vflag = bsd::inp_ipv4;
    } else {
        std::memcpy(&pcb.inp_inc.inc_ie.ie_dependladdr.id6_addr, s.laddr, 16);
        std::memcpy(&pcb.inp_inc.inc_ie.ie_dependfaddr.id6_addr, s.faddr, 16);
        if (is_v4_mapped(s.laddr) || is_v4_mapped(s.faddr))
            pcb.inp_vflag = bsd::inp_ipv4;
        else if (!s.v6only && is_unspecified(s.laddr) && is_unspecified(s.faddr))
            pcb.inp_vflag = bsd::inp_ipv4 | bsd::inp_ipv6;
        else
            pcb.inp_vflag = bsd::inp_ipv6;
    }
    pcb.inp_gencnt = s.inode;
    pcb.inp_ppcb = pcb_kaddr(s.inode);
    pcb.inp_ip_p = static_cast<std::uint8_t>(proto);
}

int inet_list(int proto, answer &a) {
    std::size_t rec = proto == bsd::ipproto_tcp ? sizeof(bsd::xtcpcb) : sizeof(bsd::xinpcb);
    std::vector<host_inet> socks;
    int err = host_inet_sockets(proto == bsd::ipproto_tcp ? IPPROTO_TCP : IPPROTO_UDP, socks,
                                a.measure ? SIZE_MAX
                                          : records_to_overflow(sizeof(bsd::xinpgen), rec, a.room));
    if (err != 0)
        return err;
    if (a.measure) {
        // A count: no record is built for a measure.
        a.measured_as(2 * sizeof(bsd::xinpgen) + (socks.size() + headroom(socks.size())) * rec);
        return 0;
    }
    std::string &out = a.out;
    std::uint64_t gen = 0;
    for (const host_inet &s : socks)
        gen = s.inode > gen ? s.inode : gen;
    out.reserve(2 * sizeof(bsd::xinpgen) + socks.size() * rec);
    append_record(out, list_gen<bsd::xinpgen>(sizeof(bsd::xinpgen), socks.size(), gen));
    for (const host_inet &s : socks) {
        if (proto == bsd::ipproto_tcp) {
            bsd::xtcpcb t{};
            t.xt_len = sizeof(t);
            fill_inpcb(s, proto, bsd::sock_stream, t.xt_inp);
            t.t_state = tcp_state(s.state);
            std::memcpy(t.xt_stack, "freebsd", 8);
            append_record(out, t);
        } else {
            bsd::xinpcb p{};
            fill_inpcb(s, proto, bsd::sock_dgram, p);
            append_record(out, p);
        }
    }
    append_record(out, list_gen<bsd::xinpgen>(sizeof(bsd::xinpgen), socks.size(), gen));
    return 0;
}

int unix_list(int type, std::string &out, bool measure) {
    std::vector<host_unix> all;
    int err = host_unix_sockets(all);
    if (err != 0)
        return err;
    std::unordered_map<std::uint32_t, const host_unix *> by_inode;
    by_inode.reserve(all.size());
    std::size_t count = 0;
    std::uint64_t gen = 0;
    for (const host_unix &s : all) {
        by_inode.emplace(s.inode, &s);
        gen = s.inode > gen ? s.inode : gen;
        count += s.type == type;
    }
    out.reserve(2 * sizeof(bsd::xunpgen) + (count + headroom(count)) * sizeof(bsd::xunpcb));
    append_record(out, list_gen<bsd::xunpgen>(sizeof(bsd::xunpgen), count, gen));
    for (const host_unix &s : all) {
        if (s.type != type)
            continue;
        bsd::xunpcb u{};
        u.xu_len = sizeof(u);
        u.xu_unpp = pcb_kaddr(s.inode);
        u.unp_conn = pcb_kaddr(s.peer);
        u.unp_gencnt = s.inode;
        unix_sockaddr(s.name, u.xu_addr);
        auto peer = by_inode.find(s.peer);
        if (s.peer != 0 && peer != by_inode.end())
            unix_sockaddr(peer->second->name, u.xu_caddr);
        bsd::xsocket &so = u.xu_socket;
        so.xso_len = sizeof(so);
        so.xso_so = socket_kaddr(s.inode);
        so.so_pcb = pcb_kaddr(s.inode);
        so.xso_family = bsd::af_unix;
        so.so_type = static_cast<std::int16_t>(type);
        append_record(out, u);
    }
    append_record(out, list_gen<bsd::xunpgen>(sizeof(bsd::xunpgen), count, gen));
    if (measure)
        out.resize(out.size() + (count / 8) * sizeof(bsd::xunpcb));
    return 0;
}

// FNV-1a: a stable stand-in address for an object that is not a socket.
std::uint64_t object_kaddr(std::string_view target) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (char c : target)
        h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    return 0xfffffa0000000000ULL | (h & 0xffffffffffULL);
}

// Appends one xfile per descriptor of a process, until out is past limit;
// nothing when its descriptors cannot be read. With count, only counts
// them: a measure reads no link.
void process_files(int pid, std::string &out, std::size_t limit, std::size_t *count) {
    int dfd = ::open(host_file("/proc/%d/fd", pid).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd == -1)
        return;
    dir_owner d(::fdopendir(dfd));
    if (d.dir == nullptr) {
        ::close(dfd);
        return;
    }
    // The descriptor folder belongs to the process's owner, as /proc/PID.
    struct stat st;
    bsd::uid_t uid = ::fstat(dfd, &st) == 0 ? st.st_uid : 0;
    const std::size_t first = out.size();
    while (dirent *e = ::readdir(d.dir)) {
        if (out.size() > limit)
            break;
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        if (count != nullptr) {
            ++*count;
            continue;
        }
        char target[256];
        ssize_t n = ::readlinkat(dfd, e->d_name, target, sizeof(target) - 1);
        if (n < 0 && errno != ENOENT) {
            // The host refuses this process's links (it checks the process,
            // not the descriptor): the process is left out, and its other
            // descriptors are not tried one by one.
            out.resize(first);
            return;
        }
        if (n < 0)
            continue;  // closed meanwhile
        std::string_view t(target, static_cast<std::size_t>(n));
        bsd::xfile xf{};
        xf.xf_size = sizeof(xf);
        xf.xf_pid = pid;
        xf.xf_uid = uid;
        xf.xf_fd = std::atoi(e->d_name);
        xf.xf_count = 1;
        if (t.substr(0, 8) == "socket:[") {
            xf.xf_type = bsd::dtype_socket;
            xf.xf_data = socket_kaddr(to_ull(t.substr(8)));
        } else if (t.substr(0, 6) == "pipe:[") {
            xf.xf_type = bsd::dtype_pipe;
            xf.xf_data = object_kaddr(t);
        } else {
            xf.xf_type = t.substr(0, 1) == "/" ? bsd::dtype_vnode : 0;
            xf.xf_data = object_kaddr(t);
        }
        append_record(out, xf);
    }
}

}  // namespace

int live_pcblist(const char *name, answer &a) {
    std::string_view n(name);
    if (n == "net.inet.tcp.pcblist")
        return inet_list(bsd::ipproto_tcp, a);
    if (n == "net.inet.udp.pcblist")
        return inet_list(bsd::ipproto_udp, a);
    if (n == "net.local.stream.pcblist")
        return unix_list(bsd::sock_stream, a.out, a.measure);
    if (n == "net.local.dgram.pcblist")
        return unix_list(bsd::sock_dgram, a.out, a.measure);
    if (n == "net.local.seqpacket.pcblist")
        return unix_list(bsd::sock_seqpacket, a.out, a.measure);
    return ENOENT;
}

int live_kern_file(const char *name, answer &a) {
    if (std::string_view(name) != "kern.file")
        return ENOENT;
    std::size_t limit = a.measure ? SIZE_MAX : a.room;
    std::size_t count = 0;
    for (int pid : list_numeric(host_file("/proc").c_str())) {
        process_files(pid, a.out, limit, a.measure ? &count : nullptr);
        if (a.out.size() > limit)
            break;  // cannot fit: the read fails with ENOMEM anyway
    }
    // FreeBSD's estimate: a tenth more, and some.
    if (a.measure)
        a.measured_as((count + count / 10 + 16) * sizeof(bsd::xfile));
    return 0;
}

}  // namespace standin
