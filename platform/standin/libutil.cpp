// kinfo_getfile and kinfo_getvmmap: one heap array of fixed-size entries,
// released by the caller with free, or null with or without errno.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "freebsd.h"
#include "host.h"
#include "inject.h"

namespace standin {
namespace {

#define KF_FLAG_READ 0x00000001
#define KF_FLAG_WRITE 0x00000002
#define KVME_FLAG_COW 0x00000001

// A null result with errno as the failure left it.
template <class T> T *fail(int err) {
    errno = err;
    return nullptr;
}

// Copies an injected table into a heap array of its own.
template <class T> T *injected_table(const step &st, int *cntp) {
    std::size_t n = st.data().size() / sizeof(T);
    // A count claimed beyond the bytes given still has zeroed entries behind
    // it, as the real library's count always has.
    std::size_t slots = n;
    if (st.has_value && st.value > 0 && static_cast<std::size_t>(st.value) > n)
        slots = static_cast<std::size_t>(st.value);
    T *arr = static_cast<T *>(std::calloc(slots ? slots : 1, sizeof(T)));
    if (arr == nullptr)
        return fail<T>(ENOMEM);
    if (n)
        std::memcpy(arr, st.data().data(), n * sizeof(T));
    *cntp = st.has_value ? static_cast<int>(st.value) : static_cast<int>(n);
    return arr;
}

template <class T> T *to_heap(const std::vector<T> &v, int *cntp) {
    T *arr = static_cast<T *>(std::calloc(v.empty() ? 1 : v.size(), sizeof(T)));
    if (arr == nullptr)
        return fail<T>(ENOMEM);
    if (!v.empty())
        std::memcpy(arr, v.data(), v.size() * sizeof(T));
    *cntp = static_cast<int>(v.size());
    return arr;
}

// Copies a path into a FreeBSD path field, cut to fit.
void set_path(char *dst, std::size_t size, const char *src) {
    std::size_t n = std::strlen(src);
    if (n > size - 1)
        n = size - 1;
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

bool read_link(const char *path, char *buf, std::size_t size) {
    ssize_t n = ::readlink(path, buf, size - 1);
    if (n < 0)
        return false;
    buf[n] = '\0';
    return true;
}

int vnode_type(mode_t mode) {
    if (S_ISREG(mode))
        return KF_VTYPE_VREG;
    if (S_ISDIR(mode))
        return KF_VTYPE_VDIR;
    if (S_ISCHR(mode))
        return KF_VTYPE_VCHR;
    if (S_ISBLK(mode))
        return KF_VTYPE_VBLK;
    if (S_ISLNK(mode))
        return KF_VTYPE_VLNK;
    if (S_ISFIFO(mode))
        return KF_VTYPE_VFIFO;
    if (S_ISSOCK(mode))
        return KF_VTYPE_VSOCK;
    return KF_VTYPE_VNON;
}

// One entry for a link under /proc/PID (exe, cwd, root or fd/N).
bool link_entry(int pid, const char *name, int fd, bsd::kinfo_file &kf) {
    char path[64], target[4096];
    std::snprintf(path, sizeof(path), "/proc/%d/%s", pid, name);
    if (!read_link(path, target, sizeof(target)))
        return false;
    std::memset(&kf, 0, sizeof(kf));
    kf.kf_structsize = sizeof(bsd::kinfo_file);
    kf.kf_fd = fd;
    kf.kf_ref_count = 1;
    struct stat st;
    if (std::strncmp(target, "socket:[", 8) == 0) {
        kf.kf_type = KF_TYPE_SOCKET;
    } else if (std::strncmp(target, "pipe:[", 6) == 0) {
        kf.kf_type = KF_TYPE_PIPE;
    } else if (target[0] == '/' && ::stat(path, &st) == 0) {
        kf.kf_type = S_ISFIFO(st.st_mode) ? KF_TYPE_FIFO : KF_TYPE_VNODE;
        kf.kf_vnode_type = vnode_type(st.st_mode);
        kf.kf_un.kf_file.kf_file_fileid = st.st_ino;
        kf.kf_un.kf_file.kf_file_size = static_cast<std::uint64_t>(st.st_size);
        kf.kf_un.kf_file.kf_file_rdev = st.st_rdev;
        set_path(kf.kf_path, sizeof(kf.kf_path), target);
    } else {
        kf.kf_type = KF_TYPE_UNKNOWN;
    }
    if (fd >= 0) {
        std::string info;
        std::snprintf(path, sizeof(path), "/proc/%d/fdinfo/%d", pid, fd);
        if (read_file(path, info)) {
            kf.kf_offset = to_ll(field(info, "pos"));
            // The flags are octal; the low two bits are the access mode.
            unsigned long flags = std::strtoul(std::string(field(info, "flags")).c_str(), nullptr, 8);
            unsigned mode = flags & 3;
            kf.kf_flags = (mode == 0 || mode == 2 ? KF_FLAG_READ : 0) |
                          (mode == 1 || mode == 2 ? KF_FLAG_WRITE : 0);
        }
    } else {
        kf.kf_flags = KF_FLAG_READ;
    }
    return true;
}

// One mapping from its smaps header line, "start-end perms offset dev inode
// [path]", split into its first words w.
bsd::kinfo_vmentry map_entry(std::string_view line, const std::string_view *w, std::size_t nw) {
    bsd::kinfo_vmentry e;
    std::memset(&e, 0, sizeof(e));
    e.kve_structsize = sizeof(bsd::kinfo_vmentry);
    std::size_t dash = w[0].find('-');
    e.kve_start = std::strtoull(std::string(w[0].substr(0, dash)).c_str(), nullptr, 16);
    e.kve_end = std::strtoull(std::string(w[0].substr(dash + 1)).c_str(), nullptr, 16);
    e.kve_offset = std::strtoull(std::string(w[2]).c_str(), nullptr, 16);
    e.kve_vn_fileid = to_ull(w[4]);
    e.kve_protection = (w[1][0] == 'r' ? KVME_PROT_READ : 0) |
                       (w[1][1] == 'w' ? KVME_PROT_WRITE : 0) |
                       (w[1][2] == 'x' ? KVME_PROT_EXEC : 0);
    if (w[1][3] == 'p')
        e.kve_flags = KVME_FLAG_COW;
    e.kve_ref_count = 1;
    // The path is the rest of the line after the inode.
    std::string_view rest;
    if (nw == 6)
        rest = line.substr(static_cast<std::size_t>(w[5].data() - line.data()));
    if (!rest.empty() && rest[0] == '/') {
        e.kve_type = KVME_TYPE_VNODE;
        set_path(e.kve_path, sizeof(e.kve_path), std::string(rest).c_str());
    } else if (rest == "[vvar]" || rest == "[vsyscall]") {
        e.kve_type = KVME_TYPE_DEVICE;
    } else {
        e.kve_type = KVME_TYPE_DEFAULT;
    }
    return e;
}


}  // namespace
}  // namespace standin

namespace bsd {

kinfo_file *kinfo_getfile(pid_t pid, int *cntp) {
    std::string key = std::to_string(pid);
    standin::log_call("kinfo_getfile", key, "call", 0);
    standin::step st;
    if (standin::next_step("kinfo_getfile", key, st)) {
        if (st.kind == standin::step::error)
            return standin::fail<kinfo_file>(st.err);
        return standin::injected_table<kinfo_file>(st, cntp);
    }
    if (pid < 0)
        return standin::fail<kinfo_file>(EINVAL);
    if (!standin::is_process(pid))
        return standin::fail<kinfo_file>(ESRCH);
    char dir[64];
    std::snprintf(dir, sizeof(dir), "/proc/%d/fd", pid);
    // Another user's descriptors are refused, as FreeBSD refuses them.
    if (::access(dir, R_OK) != 0)
        return standin::fail<kinfo_file>(errno == ENOENT ? ESRCH : errno);
    std::vector<int> fds = standin::list_numeric(dir);

    std::vector<kinfo_file> table;
    kinfo_file kf;
    if (standin::link_entry(pid, "exe", KF_FD_TYPE_TEXT, kf))
        table.push_back(kf);
    if (standin::link_entry(pid, "cwd", KF_FD_TYPE_CWD, kf))
        table.push_back(kf);
    if (standin::link_entry(pid, "root", KF_FD_TYPE_ROOT, kf))
        table.push_back(kf);
    for (int fd : fds) {
        char name[32];
        std::snprintf(name, sizeof(name), "fd/%d", fd);
        if (standin::link_entry(pid, name, fd, kf))
            table.push_back(kf);
    }
    return standin::to_heap(table, cntp);
}

kinfo_vmentry *kinfo_getvmmap(pid_t pid, int *cntp) {
    std::string key = std::to_string(pid);
    standin::log_call("kinfo_getvmmap", key, "call", 0);
    standin::step st;
    if (standin::next_step("kinfo_getvmmap", key, st)) {
        if (st.kind == standin::step::error)
            return standin::fail<kinfo_vmentry>(st.err);
        return standin::injected_table<kinfo_vmentry>(st, cntp);
    }
    if (pid < 0)
        return standin::fail<kinfo_vmentry>(EINVAL);
    if (!standin::is_process(pid))
        return standin::fail<kinfo_vmentry>(ESRCH);
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/%d/smaps", pid);
    std::string smaps;
    if (!standin::read_file(path, smaps, std::size_t(1) << 28))
        return standin::fail<kinfo_vmentry>(ESRCH);
    long page_kb = ::sysconf(_SC_PAGESIZE) / 1024;

    std::vector<kinfo_vmentry> table;
    standin::for_each_line(smaps, [&](std::string_view line) {
        std::string_view w[6];
        std::size_t nw = standin::split_words(line, w, 6);
        if (nw >= 5 && w[0].find('-') != std::string_view::npos && w[1].size() == 4) {
            table.push_back(standin::map_entry(line, w, nw));
        } else if (!table.empty() && nw >= 2) {
            // Private pages are summed in KiB first, then made pages below.
            if (w[0] == "Rss:")
                table.back().kve_resident = static_cast<int>(standin::to_ll(w[1]) / page_kb);
            else if (w[0] == "Private_Clean:" || w[0] == "Private_Dirty:")
                table.back().kve_private_resident += static_cast<int>(standin::to_ll(w[1]));
        }
        return true;
    });
    for (kinfo_vmentry &e : table)
        e.kve_private_resident = static_cast<int>(e.kve_private_resident / page_kb);
    return standin::to_heap(table, cntp);
}

}  // namespace bsd
