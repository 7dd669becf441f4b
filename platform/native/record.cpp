// FreeBSD's platform calls, each forwarded to the real one and its answer
// kept while a recording runs (platform/record/keep.h), under the keys the
// stand-in gives the same calls, so that a recording made here replays
// there. Untested on real hardware: it is built by `make cross`.
#include "bsd.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "record/keep.h"

namespace {

std::string mib_key(const int *name, u_int namelen) {
    std::string key;
    for (u_int i = 0; i < namelen; i++) {
        if (i)
            key += '.';
        key += std::to_string(name[i]);
    }
    return key;
}

void keep_result(const char *call, const std::string &key, long rc) {
    int err = errno;
    quarn_record::result(call, key, rc);
    errno = err;
}

template <class T> void keep_table(const char *call, pid_t pid, const T *table, const int *cntp) {
    int err = errno;
    std::string key = std::to_string(pid);
    if (table == nullptr)
        quarn_record::error(call, key, err);
    else
        quarn_record::answer(call, key, table, static_cast<size_t>(*cntp) * sizeof(T));
    errno = err;
}

// One socket address as the stand-in's injected list holds it: its length
// (sa_len, held to the list's byte), then its bytes.
void put_sockaddr(std::string &out, const struct sockaddr *sa) {
    size_t n = sa == nullptr ? 0 : sa->sa_len;
    n = n > 255 ? 255 : n;
    out += static_cast<char>(n);
    if (n)
        out.append(reinterpret_cast<const char *>(sa), n);
}

// "family.address in hex.scope", as the stand-in keys a name lookup.
std::string address_key(const struct sockaddr *sa, socklen_t salen) {
    int family = sa == nullptr ? -1 : sa->sa_family;
    std::string key = std::to_string(family);
    const unsigned char *addr = nullptr;
    size_t len = 0;
    uint32_t scope = 0;
    if (family == AF_INET && salen >= sizeof(sockaddr_in)) {
        addr = reinterpret_cast<const unsigned char *>(
            &reinterpret_cast<const sockaddr_in *>(sa)->sin_addr);
        len = 4;
    } else if (family == AF_INET6 && salen >= sizeof(sockaddr_in6)) {
        const auto *sin6 = reinterpret_cast<const sockaddr_in6 *>(sa);
        addr = sin6->sin6_addr.s6_addr;
        len = 16;
        scope = sin6->sin6_scope_id;
    }
    if (addr == nullptr)
        return key;
    static const char hex[] = "0123456789abcdef";
    key += '.';
    for (size_t i = 0; i < len; i++) {
        key += hex[addr[i] >> 4];
        key += hex[addr[i] & 15];
    }
    return key + "." + std::to_string(scope);
}

const char *request_label(unsigned long request) {
    if (request == SIOCGIFFLAGS)
        return "SIOCGIFFLAGS";
    if (request == SIOCGIFMTU)
        return "SIOCGIFMTU";
    if (request == SIOCGIFMEDIA)
        return "SIOCGIFMEDIA";
    return nullptr;
}

// The login records read since the database was opened.
std::mutex logins_lock;
std::string logins;
bool logins_open = false;

}  // namespace

namespace bsd {

int sysctl(const int *name, u_int namelen, void *oldp, size_t *oldlenp, const void *newp,
           size_t newlen) {
    int rc = ::sysctl(name, namelen, oldp, oldlenp, newp, newlen);
    if (quarn_record::on() && name != nullptr) {
        int err = errno;
        quarn_record::sysctl(mib_key(name, namelen), oldp, oldlenp, newp, rc);
        errno = err;
    }
    return rc;
}

int sysctlbyname(const char *name, void *oldp, size_t *oldlenp, const void *newp,
                 size_t newlen) {
    int rc = ::sysctlbyname(name, oldp, oldlenp, newp, newlen);
    if (quarn_record::on() && name != nullptr) {
        int err = errno;
        quarn_record::sysctl(name, oldp, oldlenp, newp, rc);
        errno = err;
    }
    return rc;
}

int kill(pid_t pid, int sig) {
    int rc = ::kill(pid, sig);
    if (quarn_record::on())
        keep_result("kill", std::to_string(pid), rc);
    return rc;
}

long sysconf(int name) {
    long rc = ::sysconf(name);
    if (quarn_record::on())
        keep_result("sysconf", std::to_string(name), rc);
    return rc;
}

kinfo_file *kinfo_getfile(pid_t pid, int *cntp) {
    kinfo_file *files = ::kinfo_getfile(pid, cntp);
    if (quarn_record::on())
        keep_table("kinfo_getfile", pid, files, cntp);
    return files;
}

kinfo_vmentry *kinfo_getvmmap(pid_t pid, int *cntp) {
    kinfo_vmentry *maps = ::kinfo_getvmmap(pid, cntp);
    if (quarn_record::on())
        keep_table("kinfo_getvmmap", pid, maps, cntp);
    return maps;
}

kinfo_proc *kvm_getprocs(kvm_t *kd, int op, int arg, int *cnt) {
    kinfo_proc *procs = ::kvm_getprocs(kd, op, arg, cnt);
    if (quarn_record::on())
        keep_table("kvm_getprocs", arg, procs, cnt);
    return procs;
}

char **kvm_getenvv(kvm_t *kd, const kinfo_proc *p, int nchr) {
    char **env = ::kvm_getenvv(kd, p, nchr);
    if (quarn_record::on() && p != nullptr) {
        int err = errno;
        std::string key = std::to_string(p->ki_pid);
        if (env == nullptr) {
            quarn_record::error("kvm_getenvv", key, err);
        } else {
            std::string text;
            for (char **e = env; *e != nullptr; e++)
                text.append(*e).append(1, '\0');
            quarn_record::answer("kvm_getenvv", key, text.data(), text.size());
        }
        errno = err;
    }
    return env;
}

int kvm_getswapinfo(kvm_t *kd, kvm_swap *swap_ary, int swap_max, int flags) {
    int n = ::kvm_getswapinfo(kd, swap_ary, swap_max, flags);
    if (quarn_record::on()) {
        int err = errno;
        if (n == -1)
            quarn_record::error("kvm_getswapinfo", "", err);
        else
            quarn_record::answer_value("kvm_getswapinfo", "", n, swap_ary,
                                       (swap_max > 0 ? static_cast<size_t>(swap_max) : 0) *
                                           sizeof(kvm_swap));
        errno = err;
    }
    return n;
}

int mallctl(const char *name, void *oldp, size_t *oldlenp, void *newp, size_t newlen) {
    int rc = ::mallctl(name, oldp, oldlenp, newp, newlen);
    if (quarn_record::on() && name != nullptr) {
        if (rc != 0)
            quarn_record::error("mallctl", name, rc);
        else if (oldp != nullptr && oldlenp != nullptr)
            quarn_record::answer("mallctl", name, oldp, *oldlenp);
        else
            quarn_record::answer("mallctl", name, nullptr, 0);
    }
    return rc;
}

int cpuset_getaffinity(cpulevel_t level, cpuwhich_t which, id_t id, size_t setsize,
                       cpuset_t *mask) {
    int rc = ::cpuset_getaffinity(level, which, id, setsize, mask);
    if (quarn_record::on()) {
        std::string key = std::to_string(id);
        if (rc == 0)
            quarn_record::answer("cpuset_getaffinity", key, mask, setsize);
        else
            keep_result("cpuset_getaffinity", key, rc);
    }
    return rc;
}

int getpriority(int which, int who) {
    int rc = ::getpriority(which, who);
    if (quarn_record::on())
        keep_result("getpriority", std::to_string(who), rc);
    return rc;
}

int getfsstat(struct statfs *buf, long bufsize, int mode) {
    int n = ::getfsstat(buf, bufsize, mode);
    if (quarn_record::on()) {
        if (n >= 0 && buf != nullptr)
            quarn_record::answer_value("getfsstat", "", n, buf,
                                       static_cast<size_t>(n) * sizeof(struct statfs));
        else
            keep_result("getfsstat", "", n);
    }
    return n;
}

int devstat_getdevs(kvm_t *kd, struct statinfo *stats) {
    int rc = ::devstat_getdevs(kd, stats);
    if (quarn_record::on()) {
        int err = errno;
        if (rc == -1 || stats == nullptr || stats->dinfo == nullptr)
            quarn_record::error("devstat_getdevs", "", err);
        else
            quarn_record::answer("devstat_getdevs", "", stats->dinfo->devices,
                                 static_cast<size_t>(stats->dinfo->numdevs) *
                                     sizeof(struct devstat));
        errno = err;
    }
    return rc;
}

void setutxent(void) {
    ::setutxent();
    std::lock_guard<std::mutex> g(logins_lock);
    logins.clear();
    logins_open = quarn_record::on();
}

struct utmpx *getutxent(void) {
    struct utmpx *u = ::getutxent();
    std::lock_guard<std::mutex> g(logins_lock);
    if (u != nullptr && logins_open)
        logins.append(reinterpret_cast<const char *>(u), sizeof(*u));
    return u;
}

void endutxent(void) {
    ::endutxent();
    std::lock_guard<std::mutex> g(logins_lock);
    if (logins_open)
        quarn_record::answer("utmpx", "", logins.data(), logins.size());
    logins.clear();
    logins_open = false;
}

int getifaddrs(struct ifaddrs **ifap) {
    int rc = ::getifaddrs(ifap);
    if (!quarn_record::on())
        return rc;
    int err = errno;
    if (rc != 0) {
        quarn_record::error("getifaddrs", "", err);
    } else {
        std::string out;
        for (const struct ifaddrs *ifa = *ifap; ifa != nullptr; ifa = ifa->ifa_next) {
            uint32_t flags = ifa->ifa_flags;
            out.append(reinterpret_cast<const char *>(&flags), 4);
            size_t n = strnlen(ifa->ifa_name, 255);
            out += static_cast<char>(n);
            out.append(ifa->ifa_name, n);
            put_sockaddr(out, ifa->ifa_addr);
            put_sockaddr(out, ifa->ifa_netmask);
            put_sockaddr(out, ifa->ifa_dstaddr);
        }
        quarn_record::answer("getifaddrs", "", out.data(), out.size());
    }
    errno = err;
    return rc;
}

int getnameinfo(const struct sockaddr *sa, socklen_t salen, char *host, size_t hostlen,
                char *serv, size_t servlen, int flags) {
    int rc = ::getnameinfo(sa, salen, host, hostlen, serv, servlen, flags);
    if (quarn_record::on()) {
        std::string key = address_key(sa, salen);
        if (rc != 0)
            quarn_record::error("getnameinfo", key, rc);
        else if (host != nullptr && hostlen > 0)
            quarn_record::answer("getnameinfo", key, host, strnlen(host, hostlen));
    }
    return rc;
}

int ioctl(int fd, unsigned long request, void *arg) {
    int rc = ::ioctl(fd, request, arg);
    const char *label = request_label(request);
    if (!quarn_record::on() || label == nullptr || arg == nullptr)
        return rc;
    int err = errno;
    const char *name = static_cast<const char *>(arg);
    std::string key = std::string(name, strnlen(name, IFNAMSIZ)) + "/" + label;
    // What follows the name, short of a media request's list pointer.
    size_t end = request == SIOCGIFMEDIA ? offsetof(struct ifmediareq, ifm_ulist)
                                         : sizeof(struct ifreq);
    if (rc == -1)
        quarn_record::error("ioctl", key, err);
    else
        quarn_record::answer("ioctl", key, name + IFNAMSIZ, end - IFNAMSIZ);
    errno = err;
    return rc;
}

}  // namespace bsd
