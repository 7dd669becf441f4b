// kinfo_getfile from the host: the kernel's pseudo-entries, then one entry
// per descriptor of /proc/PID/fd, in descriptor order.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/calls/libutil.h"
#include "standin/calls/call.h"
#include "standin/answers/answers.h"
#include "standin/host/sockets.h"

namespace standin {
namespace {

// Descriptors whose link names no file, by the start of the link's text.
struct anon_kind {
    std::string_view prefix;
    int type;
};
constexpr anon_kind anon_kinds[] = {
    {"anon_inode:[eventpoll]", bsd::kf_type_kqueue},
    {"anon_inode:inotify", bsd::kf_type_kqueue},
    {"anon_inode:[signalfd]", bsd::kf_type_kqueue},
    {"anon_inode:[fanotify]", bsd::kf_type_kqueue},
    {"anon_inode:[eventfd]", bsd::kf_type_eventfd},
    {"anon_inode:[timerfd]", bsd::kf_type_timerfd},
    {"anon_inode:[pidfd]", bsd::kf_type_procdesc},
    {"pidfd:", bsd::kf_type_procdesc},
    {"pipe:[", bsd::kf_type_pipe},
};

constexpr std::string_view deleted_suffix = " (deleted)";

int vnode_type(mode_t mode) {
    if (S_ISREG(mode))
        return bsd::kf_vtype_vreg;
    if (S_ISDIR(mode))
        return bsd::kf_vtype_vdir;
    if (S_ISCHR(mode))
        return bsd::kf_vtype_vchr;
    if (S_ISBLK(mode))
        return bsd::kf_vtype_vblk;
    if (S_ISLNK(mode))
        return bsd::kf_vtype_vlnk;
    if (S_ISFIFO(mode))
        return bsd::kf_vtype_vfifo;
    if (S_ISSOCK(mode))
        return bsd::kf_vtype_vsock;
    return bsd::kf_vtype_vnon;
}

void set_vnode(bsd::kinfo_file &kf, const struct stat &st, std::string_view path) {
    kf.kf_type = S_ISFIFO(st.st_mode) ? bsd::kf_type_fifo : bsd::kf_type_vnode;
    kf.kf_un.kf_file.kf_file_type = vnode_type(st.st_mode);
    kf.kf_un.kf_file.kf_file_fsid = st.st_dev;
    kf.kf_un.kf_file.kf_file_fileid = st.st_ino;
    kf.kf_un.kf_file.kf_file_size = static_cast<std::uint64_t>(st.st_size);
    kf.kf_un.kf_file.kf_file_rdev = st.st_rdev;
    kf.kf_un.kf_file.kf_file_nlink = st.st_nlink;
    kf.kf_un.kf_file.kf_file_mode = static_cast<std::uint16_t>(st.st_mode);
    kf.kf_status = bsd::kf_attr_valid;
    // A file that has lost its last name cannot be named, as on FreeBSD.
    if (st.st_nlink == 0 && path.ends_with(deleted_suffix))
        return;
    set_path(kf.kf_path, sizeof(kf.kf_path), path.data(), path.size());
}

// The socket's domain, type and protocol from the host's name for its
// protocol, where the connection answers left them unset.
void set_socket_kind(bsd::kinfo_file &kf, int pid, const char *name) {
    if (kf.kf_un.kf_sock.kf_sock_domain0 != 0)
        return;
    char proto[32];
    host_file path("/proc/%d/fd/%s", pid, name);
    ssize_t n = ::getxattr(path.c_str(), "system.sockprotoname", proto, sizeof(proto) - 1);
    if (n <= 0)
        return;
    proto[n] = '\0';
    std::string_view p(proto);
    bool v6 = p.ends_with("v6");
    if (v6)
        p.remove_suffix(2);
    if (p == "UNIX") {
        kf.kf_un.kf_sock.kf_sock_domain0 = bsd::af_unix;
    } else if (p == "TCP" || p == "MPTCP") {
        kf.kf_un.kf_sock.kf_sock_domain0 = v6 ? bsd::af_inet6 : bsd::af_inet;
        kf.kf_un.kf_sock.kf_sock_type0 = bsd::sock_stream;
        kf.kf_un.kf_sock.kf_sock_protocol0 = bsd::ipproto_tcp;
    } else if (p == "UDP") {
        kf.kf_un.kf_sock.kf_sock_domain0 = v6 ? bsd::af_inet6 : bsd::af_inet;
        kf.kf_un.kf_sock.kf_sock_type0 = bsd::sock_dgram;
        kf.kf_un.kf_sock.kf_sock_protocol0 = bsd::ipproto_udp;
    } else if (p == "RAW") {
        kf.kf_un.kf_sock.kf_sock_domain0 = v6 ? bsd::af_inet6 : bsd::af_inet;
        kf.kf_un.kf_sock.kf_sock_type0 = bsd::sock_raw;
    }
}

// The tty index of a pseudo-terminal master, from its fdinfo; -1 if none.
long tty_index(int procdir, const char *name) {
    char info[32];
    std::snprintf(info, sizeof(info), "fdinfo/%s", name);
    fd_owner fd(::openat(procdir, info, O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0)
        return -1;
    char buf[512];
    ssize_t n = ::read(fd.fd, buf, sizeof(buf) - 1);
    if (n <= 0)
        return -1;
    return static_cast<long>(to_ll(field(std::string_view(buf, static_cast<std::size_t>(n)),
                                         "tty-index"), -1));
}

enum fill_result { filled, gone, refused };

// Fills kf for the descriptor link dir/name (procdir: /proc/PID, for a
// descriptor's fdinfo; -1 for a pseudo-entry): gone when the link has gone
// (the descriptor was closed meanwhile), refused (errno set) when the host
// will not show it, which makes the whole table a refusal as FreeBSD's is.
// The offset and status flags are left 0: no consumer reads them, and an
// fdinfo read would cost more than the rest of the entry.
fill_result fill_entry(int pid, int dir, int procdir, const char *name, int fd,
                       bsd::kinfo_file &kf) {
    char target[PATH_MAX + 1];
    ssize_t len = ::readlinkat(dir, name, target, sizeof(target) - 1);
    if (len < 0) {
        if (errno == ENOENT)
            return gone;
        if (errno == EPERM)
            errno = EACCES;
        return refused;
    }
    target[len] = '\0';
    std::string_view link(target, static_cast<std::size_t>(len));
    kf.kf_structsize = sizeof(bsd::kinfo_file);
    kf.kf_fd = fd;
    if (procdir < 0)
        kf.kf_flags = fd == bsd::kf_fd_type_ctty ? bsd::kf_flag_read | bsd::kf_flag_write
                                                 : bsd::kf_flag_read;

    if (link.starts_with("socket:[")) {
        kf.kf_type = bsd::kf_type_socket;
        socket_file_fields(to_ull(link.substr(8)), kf);
        set_socket_kind(kf, pid, name);
        return filled;
    }
    for (const anon_kind &k : anon_kinds) {
        if (link.starts_with(k.prefix)) {
            kf.kf_type = k.type;
            return filled;
        }
    }
    if (link.empty() || link[0] != '/') {
        kf.kf_type = bsd::kf_type_unknown;
        return filled;
    }
    if (link.starts_with("/memfd:")) {
        // Anonymous shared memory, named as FreeBSD names its memfds.
        kf.kf_type = bsd::kf_type_shm;
        link.remove_prefix(1);
        if (link.ends_with(deleted_suffix))
            link.remove_suffix(deleted_suffix.size());
        set_path(kf.kf_path, sizeof(kf.kf_path), link.data(), link.size());
        return filled;
    }
    struct stat st;
    if (::fstatat(dir, name, &st, 0) != 0) {
        if (errno == ENOENT)
            return gone;
        kf.kf_type = bsd::kf_type_unknown;
        set_path(kf.kf_path, sizeof(kf.kf_path), link.data(), link.size());
        return filled;
    }
    long index;
    if (S_ISCHR(st.st_mode) && (link == "/dev/ptmx" || link == "/dev/pts/ptmx") &&
        procdir >= 0 && (index = tty_index(procdir, name)) >= 0) {
        // A pseudo-terminal master is a terminal descriptor, named by its tty.
        kf.kf_type = bsd::kf_type_pts;
        std::snprintf(kf.kf_path, sizeof(kf.kf_path), "pts/%ld", index);
        return filled;
    }
    set_vnode(kf, st, link);
    return filled;
}

// The terminal's path: Unix98 slaves are /dev/pts/N; others are named by
// the host's device table.
bool ctty_path(unsigned long long tty_nr, char *path, std::size_t size) {
    unsigned major = (tty_nr >> 8) & 0xfff;
    unsigned minor = (tty_nr & 0xff) | ((tty_nr >> 12) & 0xfff00);
    if (major >= 136 && major <= 143) {
        std::snprintf(path, size, "/dev/pts/%u", (major - 136) * 256 + minor);
        return true;
    }
    std::string text;
    if (!read_file(host_file("/sys/dev/char/%u:%u/uevent", major, minor).c_str(), text, 4096))
        return false;
    bool found = false;
    for_each_line(text, [&](std::string_view line) {
        if (!line.starts_with("DEVNAME=") || line.size() == 8)
            return true;
        line.remove_prefix(8);
        std::snprintf(path, size, "/dev/%.*s", static_cast<int>(line.size()), line.data());
        found = true;
        return false;
    });
    return found;
}

// The controlling terminal entry, when the process has one; false when the
// table cannot grow.
bool add_ctty(unsigned long long tty_nr, entry_array<bsd::kinfo_file> &table) {
    if (tty_nr == 0)
        return true;
    bsd::kinfo_file *kf = table.add();
    if (kf == nullptr)
        return false;
    kf->kf_structsize = sizeof(bsd::kinfo_file);
    kf->kf_fd = bsd::kf_fd_type_ctty;
    kf->kf_flags = bsd::kf_flag_read | bsd::kf_flag_write;
    kf->kf_type = bsd::kf_type_vnode;
    kf->kf_un.kf_file.kf_file_type = bsd::kf_vtype_vchr;
    char path[128];
    struct stat st;
    if (ctty_path(tty_nr, path, sizeof(path)) && ::stat(path, &st) == 0 && S_ISCHR(st.st_mode))
        set_vnode(*kf, st, path);
    return true;
}

// The numeric entries of an open directory, in ascending order, less the
// descriptors the answer itself holds open (when a process asks about
// itself).
std::vector<int> descriptors(DIR *d, const int *own, std::size_t nown) {
    std::vector<int> fds;
    while (dirent *e = ::readdir(d)) {
        long v = 0;
        const char *s = e->d_name;
        for (; *s >= '0' && *s <= '9' && v <= INT_MAX; s++)
            v = v * 10 + (*s - '0');
        if (*s != '\0' || s == e->d_name || v > INT_MAX ||
            std::find(own, own + nown, static_cast<int>(v)) != own + nown)
            continue;
        fds.push_back(static_cast<int>(v));
        if (fds.size() >= max_table_entries)
            break;
    }
    std::sort(fds.begin(), fds.end());
    return fds;
}

bsd::kinfo_file *live_getfile(int pid, int *cntp) {
    process_stat stat;
    if (pid < 0 || !is_process(pid) || !read_process_stat(pid, stat) || stat.exited)
        return fail<bsd::kinfo_file>(ESRCH);
    host_file path("/proc/%d", pid);
    fd_owner procdir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (procdir.fd < 0)
        return fail<bsd::kinfo_file>(ESRCH);
    // Another user's descriptors are refused, with the host's errno.
    int fd = ::openat(procdir.fd, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return fail<bsd::kinfo_file>(errno == ENOENT ? ESRCH : errno);
    dir_owner fddir(::fdopendir(fd));
    if (fddir.dir == nullptr) {
        int err = errno;
        ::close(fd);
        return fail<bsd::kinfo_file>(err);
    }
    int own[2] = {-1, -1};
    if (pid == ::getpid()) {
        own[0] = procdir.fd;
        own[1] = ::dirfd(fddir.dir);
    }
    std::vector<int> fds = descriptors(fddir.dir, own, 2);

    entry_array<bsd::kinfo_file> table;
    // FreeBSD's order: the text, the terminal, the working and root directory.
    static const struct {
        const char *name;
        int fd;
    } pseudo[] = {{"exe", bsd::kf_fd_type_text}, {nullptr, bsd::kf_fd_type_ctty},
                  {"cwd", bsd::kf_fd_type_cwd}, {"root", bsd::kf_fd_type_root}};
    for (const auto &p : pseudo) {
        if (p.name == nullptr) {
            if (!add_ctty(stat.tty_nr, table))
                return fail<bsd::kinfo_file>(ENOMEM);
            continue;
        }
        bsd::kinfo_file *kf = table.add();
        if (kf == nullptr)
            return fail<bsd::kinfo_file>(ENOMEM);
        fill_result r = fill_entry(pid, procdir.fd, -1, p.name, p.fd, *kf);
        if (r == refused)
            return fail<bsd::kinfo_file>(errno);
        if (r == gone)
            table.drop_last();  // a kernel thread has no text
    }
    int dir = ::dirfd(fddir.dir);
    // Every socket of the table is filled from one reading of the host's.
    socket_scope sockets;
    for (int n : fds) {
        char name[16];
        std::snprintf(name, sizeof(name), "%d", n);
        bsd::kinfo_file *kf = table.add();
        if (kf == nullptr)
            return fail<bsd::kinfo_file>(ENOMEM);
        fill_result r = fill_entry(pid, dir, procdir.fd, name, n, *kf);
        if (r == refused)
            return fail<bsd::kinfo_file>(errno);
        if (r == gone)
            table.drop_last();
    }
    return table.release(cntp);
}

}  // namespace

bool read_process_stat(int pid, process_stat &out) {
    fd_owner fd(::open(host_file("/proc/%d/stat", pid).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0)
        return false;
    char buf[1024];
    ssize_t n = ::read(fd.fd, buf, sizeof(buf) - 1);
    if (n <= 0)
        return false;
    std::string_view text(buf, static_cast<std::size_t>(n));
    std::size_t close = text.rfind(')');
    if (close == std::string_view::npos)
        return false;
    std::string_view f[18];  // f[0] is field 3, the state
    if (split_words(text.substr(close + 1), f, 18) < 18)
        return false;
    // A zombie whose other threads still run is not one.
    out.exited = (f[0] == "Z" || f[0] == "X") && to_ll(f[17]) <= 1;
    out.tty_nr = to_ull(f[4]);
    return true;
}

}  // namespace standin

namespace bsd {

kinfo_file *kinfo_getfile(pid_t pid, int *cntp) {
    return standin::run(
        "kinfo_getfile", pid, {}, standin::fails_with(static_cast<kinfo_file *>(nullptr)),
        [&](const standin::step &st) { return standin::injected_table<kinfo_file>(st, cntp); },
        [&] { return standin::live_getfile(pid, cntp); }, standin::no_checks(),
        [&](const std::string &k, const kinfo_file *table) {
            standin::keep_table("kinfo_getfile", k, table, cntp);
        });
}

}  // namespace bsd
