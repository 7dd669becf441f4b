// The kernel memory interface: kvm_open, kvm_openfiles, kvm_getswapinfo,
// kvm_getprocs, kvm_getenvv, kvm_geterr and kvm_close.
//
// A handle needs no kernel image here: swap figures come from the host's
// swap table, process records from the kern.proc answers and environments
// from /proc/PID/environ. What kvm_getprocs and kvm_getenvv return is owned
// by the handle, valid until its next such call, and released by kvm_close.
// The calls log themselves and take injected steps under the key "", except
// kvm_getprocs (the argument) and kvm_getenvv (the record's ki_pid).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/host/proc_id.h"
#include "standin/inject/inject.h"
#include "standin/calls/nomem.h"
#include "standin/host/owners.h"
#include "standin/answers/answers.h"
#include "standin/calls/libutil.h"

namespace bsd {

// What an open handle holds; kvm_geterr's text lives here.
struct kvm_t {
    int flags;
    char errbuf[2048];
    std::vector<kinfo_proc> procs;
    std::string env_text;
    std::vector<char *> env;
};

}  // namespace bsd

namespace standin {
namespace {

bsd::kvm_t *new_handle(int flags) {
    auto *kd = new (std::nothrow) bsd::kvm_t;
    if (kd == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    kd->flags = flags;
    kd->errbuf[0] = '\0';
    return kd;
}

void set_error(bsd::kvm_t *kd, const char *what, int err) {
    std::snprintf(kd->errbuf, sizeof(kd->errbuf), "%s: %s", what, std::strerror(err));
}

// The largest environment read; the host bounds it far below this.
constexpr std::size_t env_limit = std::size_t(1) << 26;

// A measure beyond this is not believed (a quarter million records).
constexpr std::size_t procs_limit = std::size_t(1) << 28;

// The records of one kern.proc answer, as the library reads them: into room
// for one record first (all one process has), then measured, again while
// the answer grows, a bounded number of times.
int read_procs(int op, int arg, std::vector<bsd::kinfo_proc> &procs) {
    int mib[4] = {CTL_KERN, KERN_PROC, op, arg};
    bsd::u_int n = op == KERN_PROC_ALL ? 3 : 4;
    std::string buf;
    std::size_t size = sizeof(bsd::kinfo_proc);
    for (int attempt = 0; attempt < 10; attempt++) {
        buf.resize(size);
        std::size_t len = size;
        if (bsd::sysctl(mib, n, buf.data(), &len, nullptr, 0) == 0) {
            if (len > size)
                len = size;
            procs.resize(len / sizeof(bsd::kinfo_proc));
            if (!procs.empty())
                std::memcpy(procs.data(), buf.data(), procs.size() * sizeof(bsd::kinfo_proc));
            return 0;
        }
        if (errno != ENOMEM)
            return errno;
        if (bsd::sysctl(mib, n, nullptr, &size, nullptr, 0) == -1)
            return errno;
        if (size > procs_limit)
            return ENOMEM;
    }
    return ENOMEM;
}

// Reads a /proc file whole, at most limit bytes; 0 or the errno of the
// failure (the host's ENOENT for a gone process is ESRCH).
int read_proc_file(const char *path, std::string &out, std::size_t limit) {
    out.clear();
    fd_owner fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (fd.fd == -1)
        return errno == ENOENT ? ESRCH : errno;
    int err = 0;
    char chunk[16384];
    while (out.size() < limit) {
        ssize_t got = ::read(fd.fd, chunk, sizeof(chunk));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            err = errno == ENOENT ? ESRCH : errno;
            break;
        }
        if (got == 0)
            break;
        std::size_t take = static_cast<std::size_t>(got);
        out.append(chunk, take < limit - out.size() ? take : limit - out.size());
    }
    return err;
}

// NUL-separated strings as a NULL-terminated array into the handle; the
// text gets a final NUL if the host left it off.
void split_env(bsd::kvm_t *kd) {
    if (!kd->env_text.empty() && kd->env_text.back() != '\0')
        kd->env_text.push_back('\0');
    kd->env.clear();
    std::size_t pos = 0;
    while (pos < kd->env_text.size()) {
        kd->env.push_back(kd->env_text.data() + pos);
        pos = kd->env_text.find('\0', pos) + 1;
    }
    kd->env.push_back(nullptr);
}

bsd::u_int clamp_pages(std::uint64_t pages) {
    return pages > UINT_MAX ? UINT_MAX : static_cast<bsd::u_int>(pages);
}

void set_devname(bsd::kvm_swap &sw, const std::string &name) {
    std::size_t n = name.size() < sizeof(sw.ksw_devname) - 1 ? name.size()
                                                               : sizeof(sw.ksw_devname) - 1;
    std::memcpy(sw.ksw_devname, name.data(), n);
    sw.ksw_devname[n] = '\0';
}

// As the library does: one entry per device while there is room for it and
// the totals, the totals after the last device (or in the last entry), and
// the index of the totals as the result.
int fill_swapinfo(const std::vector<swap_device> &devs, bsd::kvm_swap *swap_ary, int swap_max) {
    bsd::kvm_swap tot;
    std::memset(&tot, 0, sizeof(tot));
    set_devname(tot, "total");
    std::uint64_t total = 0, used = 0;
    int ndev = devs.size() > INT_MAX ? INT_MAX : static_cast<int>(devs.size());
    for (int i = 0; i < ndev; i++) {
        if (i + 1 < swap_max) {
            bsd::kvm_swap &sw = swap_ary[i];
            std::memset(&sw, 0, sizeof(sw));
            set_devname(sw, devs[i].name);
            sw.ksw_total = clamp_pages(devs[i].total);
            sw.ksw_used = clamp_pages(devs[i].used);
        }
        total += devs[i].total;
        used += devs[i].used;
    }
    tot.ksw_total = clamp_pages(total);
    tot.ksw_used = clamp_pages(used);
    int ti = ndev < swap_max ? ndev : swap_max - 1;
    if (ti >= 0)
        swap_ary[ti] = tot;
    return ti;
}

}  // namespace
}  // namespace standin

namespace bsd {

kvm_t *kvm_open(const char *execfile, const char *corefile, const char *swapfile, int flags,
                const char *errstr) {
    (void)execfile;
    (void)swapfile;
    standin::log_call("kvm_open", "", "call", 0);
    standin::step st;
    int err = 0;
    if (standin::next_step("kvm_open", "", st)) {
        if (st.kind == standin::step::answer)
            return standin::new_handle(flags);
        err = st.err;
    } else if (corefile != nullptr && std::strcmp(corefile, "/dev/null") != 0) {
        // Only the live kernel is offered, never a crash dump.
        err = EACCES;
    } else {
        kvm_t *kd = standin::new_handle(flags);
        if (kd != nullptr)
            return kd;
        err = ENOMEM;
    }
    // The library reports its own failure under the caller's prefix.
    if (errstr != nullptr)
        std::fprintf(stderr, "%s: %s\n", errstr, std::strerror(err));
    errno = err;
    return nullptr;
}

// Injected: an answer without bytes opens a handle; one with bytes fails
// with them as the error text; an error fails with "corefile: its text".
kvm_t *kvm_openfiles(const char *execfile, const char *corefile, const char *swapfile, int flags,
                     char *errbuf) {
    (void)execfile;
    (void)swapfile;
    standin::log_call("kvm_openfiles", "", "call", 0);
    const char *core = corefile != nullptr ? corefile : "/dev/mem";
    standin::step st;
    int err = 0;
    if (standin::next_step("kvm_openfiles", "", st)) {
        if (st.kind == standin::step::answer && st.data().empty())
            return standin::new_handle(flags);
        if (st.kind == standin::step::answer) {
            if (errbuf != nullptr)
                std::snprintf(errbuf, bsd::posix2_line_max, "%.*s",
                              static_cast<int>(st.data().size()), st.data().data());
            errno = EINVAL;
            return nullptr;
        }
        err = st.err;
    } else if (std::strcmp(core, "/dev/null") != 0) {
        // Only the live kernel without its memory image is offered.
        err = EACCES;
    } else {
        kvm_t *kd = standin::new_handle(flags);
        if (kd != nullptr)
            return kd;
        err = ENOMEM;
    }
    if (errbuf != nullptr)
        std::snprintf(errbuf, bsd::posix2_line_max, "%s: %s", core, std::strerror(err));
    errno = err;
    return nullptr;
}

// Injected under the argument: an answer is the records' bytes and the
// count is its value, or the number of whole records; whatever the count
// claims, the array has that many records (zero beyond the bytes). An error
// returns null with its errno and the handle's text.
kinfo_proc *kvm_getprocs(kvm_t *kd, int op, int arg, int *cnt) {
    std::string key = std::to_string(arg);
    standin::log_call("kvm_getprocs", key, "call", 0);
    if (kd == nullptr || cnt == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    kd->procs.clear();
    standin::step st;
    int err = 0;
    bool failed = false;
    try {
        if (standin::next_step("kvm_getprocs", key, st)) {
            if (st.kind == standin::step::error) {
                err = st.err;
                failed = true;
            } else {
                // A claimed count beyond the records given is padded with
                // empty records, up to a few: the array is always as long as
                // the count reported, as the library's own.
                constexpr std::size_t pad_limit = 64;
                std::size_t n = st.data().size() / sizeof(kinfo_proc);
                std::size_t slots = n;
                if (st.has_value && st.value > 0 && static_cast<std::size_t>(st.value) > n)
                    slots = std::max(n, std::min(static_cast<std::size_t>(st.value), pad_limit));
                kd->procs.assign(slots ? slots : 1, kinfo_proc{});
                if (n)
                    std::memcpy(kd->procs.data(), st.data().data(), n * sizeof(kinfo_proc));
                long count = st.has_value ? st.value : static_cast<long>(n);
                *cnt = count > static_cast<long>(slots) ? static_cast<int>(slots)
                                                        : static_cast<int>(count);
                return kd->procs.data();
            }
        } else {
            int what = op & ~KERN_PROC_INC_THREAD;
            if (what != KERN_PROC_PID && what != KERN_PROC_PROC && what != KERN_PROC_ALL)
                err = EINVAL;
            else
                err = standin::read_procs(op, arg, kd->procs);
            failed = err != 0;
        }
    } catch (const std::bad_alloc &) {
        err = ENOMEM;
        failed = true;
    }
    if (failed) {
        standin::set_error(kd, "kvm_getprocs", err);
        errno = err;
        return nullptr;
    }
    *cnt = static_cast<int>(kd->procs.size());
    // An empty answer still gives an array to point at.
    if (kd->procs.empty())
        kd->procs.resize(1);
    return kd->procs.data();
}

// Injected under the record's ki_pid: an answer is the environment as
// NUL-separated NAME=value strings; an error returns null with its errno
// (0: null without an errno).
char **kvm_getenvv(kvm_t *kd, const kinfo_proc *p, int nchr) {
    std::string key = p != nullptr ? std::to_string(p->ki_pid) : "";
    standin::log_call("kvm_getenvv", key, "call", nchr > 0 ? static_cast<std::size_t>(nchr) : 0);
    if (kd == nullptr || p == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    standin::step st;
    int err = 0;
    bool failed = false;
    try {
        if (standin::next_step("kvm_getenvv", key, st)) {
            if (st.kind == standin::step::error) {
                err = st.err;
                failed = true;
            } else {
                kd->env_text = st.data();
            }
        } else if (!standin::thread_group(p->ki_pid)) {
            err = ESRCH;
        } else {
            standin::host_file path("/proc/%d/environ", p->ki_pid);
            int saved = errno;
            err = standin::read_proc_file(path.c_str(), kd->env_text, standin::env_limit);
            errno = saved;
            // Another user's environment: the host says EACCES, FreeBSD EPERM.
            if (err == EACCES)
                err = EPERM;
            // A zombie is still a process, one whose environment is gone:
            // the host's ESRCH is an empty one, as its arguments are.
            standin::process_stat stat;
            if (err == ESRCH && standin::read_process_stat(p->ki_pid, stat) && stat.exited) {
                err = 0;
                kd->env_text.clear();
            }
        }
        failed = failed || err != 0;
        if (!failed) {
            // A limit counts the bytes of the strings read.
            if (nchr > 0 && kd->env_text.size() > static_cast<std::size_t>(nchr))
                kd->env_text.resize(static_cast<std::size_t>(nchr));
            standin::split_env(kd);
            return kd->env.data();
        }
    } catch (const std::bad_alloc &) {
        err = ENOMEM;
    }
    if (err != 0)
        standin::set_error(kd, "kvm_getenvv", err);
    errno = err;
    return nullptr;
}

// Injected: an answer's bytes are the text (cut to the handle's buffer).
char *kvm_geterr(kvm_t *kd) {
    standin::log_call("kvm_geterr", "", "call", 0);
    if (kd == nullptr)
        return nullptr;
    standin::step st;
    if (standin::next_step("kvm_geterr", "", st) && st.kind == standin::step::answer)
        std::snprintf(kd->errbuf, sizeof(kd->errbuf), "%.*s",
                      static_cast<int>(st.data().size()), st.data().data());
    return kd->errbuf;
}

// Injected: an error step fails with its errno and -1; an answer step copies
// its data as whole kvm_swap entries (at most swap_max) and returns its
// value, or 0 without one.
int kvm_getswapinfo(kvm_t *kd, kvm_swap *swap_ary, int swap_max, int flags) try {
    (void)flags;
    standin::log_call("kvm_getswapinfo", "", "call",
                      swap_max > 0 ? static_cast<std::size_t>(swap_max) : 0);
    if (kd == nullptr || swap_ary == nullptr) {
        errno = EINVAL;
        return -1;
    }
    standin::step st;
    if (standin::next_step("kvm_getswapinfo", "", st)) {
        if (st.kind == standin::step::error) {
            errno = st.err;
            return -1;
        }
        std::size_t n = st.data().size() / sizeof(kvm_swap);
        std::size_t room = swap_max > 0 ? static_cast<std::size_t>(swap_max) : 0;
        if (n > room)
            n = room;
        if (n)
            std::memcpy(swap_ary, st.data().data(), n * sizeof(kvm_swap));
        return st.has_value ? static_cast<int>(st.value) : 0;
    }
    std::vector<standin::swap_device> devs;
    if (!standin::live_swap_devices(devs)) {
        std::snprintf(kd->errbuf, sizeof(kd->errbuf), "cannot read the swap table");
        errno = EIO;
        return -1;
    }
    return standin::fill_swapinfo(devs, swap_ary, swap_max);
} catch (const std::bad_alloc &) {
    return standin::no_memory(-1);
}

// Injected: an error step still releases the handle, then fails with its
// errno.
int kvm_close(kvm_t *kd) {
    standin::log_call("kvm_close", "", "call", 0);
    standin::step st;
    bool failed = standin::next_step("kvm_close", "", st) && st.kind == standin::step::error;
    delete kd;
    if (failed) {
        errno = st.err;
        return -1;
    }
    return 0;
}

}  // namespace bsd
