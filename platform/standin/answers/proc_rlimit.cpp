// kern.proc's resource limits from prlimit(2) and /proc/PID/limits, read
// and written, in FreeBSD's terms.
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/host/proc_id.h"
#include "standin/answers/answers.h"

namespace standin {
namespace {

// FreeBSD's resource numbers as the host's; -1 where the host has none.
int host_resource(int resource) {
    switch (resource) {
    case bsd::rlimit_cpu:
        return RLIMIT_CPU;
    case bsd::rlimit_fsize:
        return RLIMIT_FSIZE;
    case bsd::rlimit_data:
        return RLIMIT_DATA;
    case bsd::rlimit_stack:
        return RLIMIT_STACK;
    case bsd::rlimit_core:
        return RLIMIT_CORE;
    case bsd::rlimit_rss:
        return RLIMIT_RSS;
    case bsd::rlimit_memlock:
        return RLIMIT_MEMLOCK;
    case bsd::rlimit_nproc:
        return RLIMIT_NPROC;
    case bsd::rlimit_nofile:
        return RLIMIT_NOFILE;
    case bsd::rlimit_as:
        return RLIMIT_AS;
    default:  // sbsize, npts, swap, kqueues, umtxp, pipebuf
        return -1;
    }
}

bsd::rlim_t to_bsd(rlim_t v) {
    return v == RLIM_INFINITY || v > static_cast<rlim_t>(bsd::rlim_infinity)
               ? bsd::rlim_infinity
               : static_cast<bsd::rlim_t>(v);
}

// As FreeBSD: a negative limit means no limit.
rlim_t to_host(bsd::rlim_t v) {
    return v < 0 || v == bsd::rlim_infinity ? RLIM_INFINITY : static_cast<rlim_t>(v);
}

// The host's titles in /proc/PID/limits, by host resource number.
const char *limits_title(int host_res) {
    switch (host_res) {
    case RLIMIT_CPU:
        return "Max cpu time";
    case RLIMIT_FSIZE:
        return "Max file size";
    case RLIMIT_DATA:
        return "Max data size";
    case RLIMIT_STACK:
        return "Max stack size";
    case RLIMIT_CORE:
        return "Max core file size";
    case RLIMIT_RSS:
        return "Max resident set";
    case RLIMIT_NPROC:
        return "Max processes";
    case RLIMIT_NOFILE:
        return "Max open files";
    case RLIMIT_MEMLOCK:
        return "Max locked memory";
    default:
        return "Max address space";
    }
}

// Another user's limits are refused by prlimit but readable in
// /proc/PID/limits, as FreeBSD lets anyone who sees a process read them.
int limits_from_proc(int pid, int host_res, bsd::rlimit &rl) {
    std::string text;
    if (!read_file(host_file("/proc/%d/limits", pid).c_str(), text, 1 << 16))
        return ESRCH;
    std::string_view title = limits_title(host_res);
    int err = EPERM;
    for_each_line(text, [&](std::string_view line) {
        if (line.substr(0, title.size()) != title || line.size() <= title.size() ||
            line[title.size()] != ' ')
            return true;
        std::string_view w[2];
        if (split_words(line.substr(title.size()), w, 2) != 2)
            return false;
        auto value = [](std::string_view s) {
            return s == "unlimited" ? bsd::rlim_infinity
                                    : to_bsd(static_cast<rlim_t>(to_ull(s)));
        };
        rl.rlim_cur = value(w[0]);
        rl.rlim_max = value(w[1]);
        err = 0;
        return false;
    });
    return err;
}

int read_rlimit(int pid, int resource, std::string &out) {
    if (resource < 0 || resource >= bsd::rlim_nlimits)
        return EINVAL;
    if (!thread_group(pid))
        return ESRCH;
    bsd::rlimit rl{bsd::rlim_infinity, bsd::rlim_infinity};
    int host_res = host_resource(resource);
    if (host_res != -1) {
        struct rlimit hl;
        if (::prlimit(pid, static_cast<__rlimit_resource>(host_res), nullptr, &hl) == 0) {
            rl.rlim_cur = to_bsd(hl.rlim_cur);
            rl.rlim_max = to_bsd(hl.rlim_max);
        } else if (errno == EPERM) {
            if (int err = limits_from_proc(pid, host_res, rl))
                return err;
        } else {
            return errno;
        }
    }
    append_record(out, rl);
    return 0;
}

}  // namespace

int live_proc_rlimit(const int *mib, unsigned n, answer &a) {
    return n == 5 ? read_rlimit(mib[3], mib[4], a.out) : EINVAL;
}

int live_rlimit_write(const int *mib, unsigned n, const void *value, std::size_t len) {
    if (n != 5 || mib[0] != bsd::ctl_kern || mib[1] != bsd::kern_proc ||
        mib[2] != bsd::kern_proc_rlimit)
        return EPERM;
    int pid = mib[3], resource = mib[4];
    if (len != sizeof(bsd::rlimit) || resource < 0 || resource >= bsd::rlim_nlimits)
        return EINVAL;
    if (!thread_group(pid))
        return ESRCH;
    int host_res = host_resource(resource);
    // A limit the host does not keep cannot be set.
    if (host_res == -1)
        return EINVAL;
    bsd::rlimit rl;
    std::memcpy(&rl, value, sizeof(rl));
    struct rlimit hl = {to_host(rl.rlim_cur), to_host(rl.rlim_max)};
    if (::prlimit(pid, static_cast<__rlimit_resource>(host_res), &hl, nullptr) != 0)
        return errno;
    return 0;
}

}  // namespace standin
