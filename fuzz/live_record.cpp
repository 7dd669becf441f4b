#include "live_record.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "bsd.h"

namespace fuzz {
namespace {

bool numeric_name(const char *key, std::vector<int> &mib) {
    if (*key < '0' || *key > '9')
        return false;
    const char *p = key;
    while (*p) {
        char *end;
        mib.push_back(static_cast<int>(std::strtol(p, &end, 10)));
        p = *end == '.' ? end + 1 : end;
        if (end == p && *end)
            return false;
    }
    return true;
}

// A measure, then a read with some room, as a table reader does.
int read_sysctl(const char *key, std::string &data) {
    std::vector<int> mib;
    bool numeric = numeric_name(key, mib);
    auto call = [&](void *buf, std::size_t *len) {
        return numeric ? bsd::sysctl(mib.data(), static_cast<bsd::u_int>(mib.size()), buf, len,
                                     nullptr, 0)
                       : bsd::sysctlbyname(key, buf, len, nullptr, 0);
    };
    std::size_t len = 0;
    if (call(nullptr, &len) == -1)
        return errno;
    len += len / 4 + 64;
    data.assign(len, '\0');
    if (call(data.data(), &len) == -1)
        return errno;
    data.resize(len);
    return 0;
}

template <class T> int read_table(T *(*fn)(bsd::pid_t, int *), const char *key,
                                  std::string &data) {
    int cnt = 0;
    T *arr = fn(std::atoi(key), &cnt);
    if (arr == nullptr)
        return errno ? errno : ENOENT;
    if (cnt > 0)
        data.assign(reinterpret_cast<const char *>(arr), static_cast<std::size_t>(cnt) * sizeof(T));
    std::free(arr);
    return 0;
}

// getifaddrs's answer in the injected form: flags, name, then the address,
// netmask and destination, each as its length and bytes.
int read_ifaddrs(std::string &data) {
    bsd::ifaddrs *list = nullptr;
    if (bsd::getifaddrs(&list) == -1)
        return errno;
    for (bsd::ifaddrs *a = list; a != nullptr; a = a->ifa_next) {
        std::uint32_t flags = a->ifa_flags;
        data.append(reinterpret_cast<const char *>(&flags), 4);
        std::size_t n = std::strlen(a->ifa_name);
        data += static_cast<char>(n);
        data.append(a->ifa_name, n);
        for (bsd::sockaddr *sa : {a->ifa_addr, a->ifa_netmask, a->ifa_dstaddr}) {
            std::size_t len = sa ? sa->sa_len : 0;
            data += static_cast<char>(len);
            if (len)
                data.append(reinterpret_cast<const char *>(sa), len);
        }
    }
    bsd::freeifaddrs(list);
    return 0;
}

int read_fsstat(std::string &data) {
    int n = bsd::getfsstat(nullptr, 0, MNT_NOWAIT);
    if (n < 0)
        return errno;
    std::vector<bsd::statfs> fs(static_cast<std::size_t>(n) + 4);
    n = bsd::getfsstat(fs.data(), static_cast<long>(fs.size() * sizeof(bsd::statfs)), MNT_NOWAIT);
    if (n < 0)
        return errno;
    data.assign(reinterpret_cast<const char *>(fs.data()), static_cast<std::size_t>(n) * sizeof(bsd::statfs));
    return 0;
}

int read_devstat(std::string &data) {
    bsd::statinfo stats{};
    bsd::devinfo info{};
    stats.dinfo = &info;
    if (bsd::devstat_getdevs(nullptr, &stats) == -1)
        return errno;
    if (info.numdevs > 0)
        data.assign(reinterpret_cast<const char *>(info.devices),
                    static_cast<std::size_t>(info.numdevs) * sizeof(bsd::devstat));
    std::free(info.mem_ptr);
    return 0;
}

int read_utmpx(std::string &data) {
    bsd::setutxent();
    for (int i = 0; i < 1000; i++) {
        bsd::utmpx *u = bsd::getutxent();
        if (u == nullptr)
            break;
        data.append(reinterpret_cast<const char *>(u), sizeof(*u));
    }
    bsd::endutxent();
    return 0;
}

int read_whole(const std::string &path, std::string &data) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return ENOENT;
    std::ostringstream text;
    text << in.rdbuf();
    data = text.str();
    return 0;
}

// The process record for kvm_getprocs, the environment for kvm_getenvv.
int read_kvm(const slot &s, std::string &data) {
    if (s.call == "kvm_getprocs")
        return read_sysctl(("1.14.1." + s.key).c_str(), data);
    return read_whole("/proc/" + s.key + "/environ", data);
}

int read_link(const std::string &path, std::string &data) {
    char buf[4096];
    ssize_t n = ::readlink(path.c_str(), buf, sizeof(buf));
    if (n < 0)
        return errno;
    data.assign(buf, static_cast<std::size_t>(n));
    return 0;
}

// A file or link of process 1, or of QUARN_FUZZ_SEED_PID when process 1's
// is closed to us; /proc/1/fd/N (N >= 3) names the (N-3)th seed socket.
int host_entry(const slot &s, std::string &data) {
    auto read = [&](const std::string &path) {
        return s.call == "link" ? read_link(path, data) : read_whole(path, data);
    };
    const std::string fd_dir = "/proc/1/fd/";
    if (s.call == "link" && s.key.starts_with(fd_dir)) {
        int fd = seed_socket(std::atoi(s.key.c_str() + fd_dir.size()) - 3);
        if (fd >= 0)
            return read_link("/proc/self/fd/" + std::to_string(fd), data);
    }
    int err = read(s.key);
    const char *pid = std::getenv("QUARN_FUZZ_SEED_PID");
    if (err != 0 && pid != nullptr && s.key.starts_with("/proc/1/"))
        err = read("/proc/" + std::string(pid) + s.key.substr(7));
    return err;
}

}  // namespace

int live_answer(const slot &given, std::string &data) {
    // Process 1's descriptors and maps may be closed to us (a container's
    // first process): QUARN_FUZZ_SEED_PID names another process to read them from.
    slot s = given;
    const char *pid = std::getenv("QUARN_FUZZ_SEED_PID");
    if (pid != nullptr && (s.call == "kinfo_getfile" || s.call == "kinfo_getvmmap"))
        s.key = pid;
    if (s.call == "sysctl")
        return read_sysctl(s.key.c_str(), data);
    if (s.call == "file" || s.call == "link")
        return host_entry(s, data);
    if (s.call == "kinfo_getfile")
        return read_table(bsd::kinfo_getfile, s.key.c_str(), data);
    if (s.call == "kinfo_getvmmap")
        return read_table(bsd::kinfo_getvmmap, s.key.c_str(), data);
    if (s.call == "mallctl") {
        std::uint64_t v = 0;
        std::size_t len = sizeof(v);
        int rc = bsd::mallctl(s.key.c_str(), &v, &len, nullptr, 0);
        if (rc == 0)
            data.assign(reinterpret_cast<const char *>(&v), len);
        return rc;
    }
    if (s.call == "getifaddrs")
        return read_ifaddrs(data);
    if (s.call == "getfsstat")
        return read_fsstat(data);
    if (s.call == "devstat_getdevs")
        return read_devstat(data);
    if (s.call == "utmpx")
        return read_utmpx(data);
    if (s.call == "kvm_getprocs" || s.call == "kvm_getenvv")
        return read_kvm(s, data);
    // Calls with no table of their own (sysconf, kill, kvm_getswapinfo):
    // an empty answer, which takes the call's plain success.
    return 0;
}

}  // namespace fuzz
