// The kernel memory interface: kvm_open, kvm_openfiles, kvm_getprocs,
// kvm_getenvv, kvm_geterr and kvm_close (kvm_getswapinfo is in
// libkvm_swap.cpp).
//
// A handle needs no kernel image here: process records come from the
// kern.proc answers and environments from /proc/PID/environ. What kvm_getprocs and kvm_getenvv return is owned
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
#include "standin/calls/call.h"
#include "standin/host/owners.h"
#include "standin/answers/answers.h"
#include "standin/calls/kvm_handle.h"
#include "standin/calls/libutil.h"

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
    int mib[4] = {bsd::ctl_kern, bsd::kern_proc, op, arg};
    bsd::u_int n = op == bsd::kern_proc_all ? 3 : 4;
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

// kvm_open's failure: reported by the library under the caller's prefix.
struct open_failure {
    const char *errstr;
    bsd::kvm_t *failed = nullptr;
    bsd::kvm_t *error(int err) const {
        if (errstr != nullptr)
            std::fprintf(stderr, "%s: %s\n", errstr, std::strerror(err));
        errno = err;
        return nullptr;
    }
    bsd::kvm_t *out_of_memory() const { return error(ENOMEM); }
};

// kvm_openfiles' failure: "corefile: the error's text" in the caller's buffer.
struct openfiles_failure {
    char *errbuf;
    const char *core;
    bsd::kvm_t *failed = nullptr;
    bsd::kvm_t *error(int err) const {
        if (errbuf != nullptr)
            std::snprintf(errbuf, bsd::_posix2_line_max, "%s: %s", core, std::strerror(err));
        errno = err;
        return nullptr;
    }
    bsd::kvm_t *out_of_memory() const { return error(ENOMEM); }
};

// The failure of a call on a handle: its text is kept in the handle. A null
// result with errno 0 leaves the text alone, as there is nothing to say.
template <class R> struct handle_failure {
    bsd::kvm_t *kd;
    const char *what;
    bool quiet_on_zero;
    R failed;
    R error(int err) const {
        if (err != 0 || !quiet_on_zero)
            set_error(kd, what, err);
        errno = err;
        return failed;
    }
    R out_of_memory() const { return error(ENOMEM); }
};

// Only the live kernel is offered, never a crash dump nor its memory image.
bsd::kvm_t *live_open(const char *corefile, int flags, const open_failure &fail) {
    if (corefile != nullptr && std::strcmp(corefile, "/dev/null") != 0)
        return fail.error(EACCES);
    bsd::kvm_t *kd = new_handle(flags);
    return kd != nullptr ? kd : fail.error(ENOMEM);
}

// The records of one process or all, copied into the handle.
bsd::kinfo_proc *live_getprocs(bsd::kvm_t *kd, int op, int arg, int *cnt,
                               const handle_failure<bsd::kinfo_proc *> &fail) {
    int what = op & ~bsd::kern_proc_inc_thread;
    if (what != bsd::kern_proc_pid && what != bsd::kern_proc_proc && what != bsd::kern_proc_all)
        return fail.error(EINVAL);
    if (int err = read_procs(op, arg, kd->procs); err != 0)
        return fail.error(err);
    *cnt = static_cast<int>(kd->procs.size());
    // An empty answer still gives an array to point at.
    if (kd->procs.empty())
        kd->procs.resize(1);
    return kd->procs.data();
}

// A claimed count beyond the records given is padded with empty records:
// the array is always as long as the count reported, as the library's own.
bsd::kinfo_proc *injected_procs(bsd::kvm_t *kd, const step &st, int *cnt,
                                const handle_failure<bsd::kinfo_proc *> &fail) {
    std::size_t n = st.data().size() / sizeof(bsd::kinfo_proc);
    std::size_t slots;
    if (!table_slots(st, n, slots))
        return fail.error(ENOMEM);
    kd->procs.assign(slots ? slots : 1, bsd::kinfo_proc{});
    if (n)
        std::memcpy(kd->procs.data(), st.data().data(), n * sizeof(bsd::kinfo_proc));
    *cnt = table_count(st, n);
    return kd->procs.data();
}

// The environment of a process of the host, into the handle's text.
int live_environ(bsd::kvm_t *kd, bsd::pid_t pid) {
    if (!thread_group(pid))
        return ESRCH;
    host_file path("/proc/%d/environ", pid);
    int saved = errno;
    int err = read_proc_file(path.c_str(), kd->env_text, env_limit);
    errno = saved;
    // Another user's environment: the host says EACCES, FreeBSD EPERM.
    if (err == EACCES)
        err = EPERM;
    // A zombie is still a process, one whose environment is gone: the
    // host's ESRCH is an empty one, as its arguments are.
    process_stat stat;
    if (err == ESRCH && read_process_stat(pid, stat) && stat.exited) {
        err = 0;
        kd->env_text.clear();
    }
    return err;
}

// The handle's text as the array of its strings; a limit counts the bytes
// of the strings read.
char **environ_array(bsd::kvm_t *kd, int nchr) {
    if (nchr > 0 && kd->env_text.size() > static_cast<std::size_t>(nchr))
        kd->env_text.resize(static_cast<std::size_t>(nchr));
    split_env(kd);
    return kd->env.data();
}

}  // namespace
}  // namespace standin

namespace bsd {

kvm_t *kvm_open(const char *execfile, const char *corefile, const char *swapfile, int flags,
                const char *errstr) {
    (void)execfile;
    (void)swapfile;
    standin::open_failure fail{errstr};
    return standin::run(
        "kvm_open", "", {}, fail,
        [&](const standin::step &) { return standin::new_handle(flags); },
        [&] { return standin::live_open(corefile, flags, fail); });
}

// Injected: an answer without bytes opens a handle; one with bytes fails
// with them as the error text; an error fails with "corefile: its text".
kvm_t *kvm_openfiles(const char *execfile, const char *corefile, const char *swapfile, int flags,
                     char *errbuf) {
    (void)execfile;
    (void)swapfile;
    const char *core = corefile != nullptr ? corefile : "/dev/mem";
    standin::openfiles_failure fail{errbuf, core};
    return standin::run(
        "kvm_openfiles", "", {}, fail,
        [&](const standin::step &st) -> kvm_t * {
            if (!st.data().empty()) {
                if (errbuf != nullptr)
                    std::snprintf(errbuf, bsd::_posix2_line_max, "%.*s",
                                  static_cast<int>(st.data().size()), st.data().data());
                errno = EINVAL;
                return nullptr;
            }
            return standin::new_handle(flags);
        },
        [&] {
            // Only the live kernel without its memory image is offered.
            if (std::strcmp(core, "/dev/null") != 0)
                return fail.error(EACCES);
            kvm_t *kd = standin::new_handle(flags);
            return kd != nullptr ? kd : fail.error(ENOMEM);
        });
}

// Injected under the argument: an answer is the records' bytes and the
// count is its value, or the number of whole records; whatever the count
// claims, the array has that many records (zero beyond the bytes). An error
// returns null with its errno and the handle's text.
kinfo_proc *kvm_getprocs(kvm_t *kd, int op, int arg, int *cnt) {
    standin::handle_failure<kinfo_proc *> fail{kd, "kvm_getprocs", false, nullptr};
    return standin::run(
        "kvm_getprocs", arg, {}, fail,
        [&](const standin::step &st) { return standin::injected_procs(kd, st, cnt, fail); },
        [&] { return standin::live_getprocs(kd, op, arg, cnt, fail); },
        [&] {
            if (kd == nullptr || cnt == nullptr)
                return EINVAL;
            kd->procs.clear();
            return 0;
        },
        [&](const std::string &k, const kinfo_proc *procs) {
            if (procs == nullptr)
                quarn_record::error("kvm_getprocs", k, errno);
            else
                quarn_record::answer("kvm_getprocs", k, procs,
                                     static_cast<std::size_t>(*cnt) * sizeof(kinfo_proc));
        });
}

// Injected under the record's ki_pid: an answer is the environment as
// NUL-separated NAME=value strings; an error returns null with its errno
// (0: null without an errno).
char **kvm_getenvv(kvm_t *kd, const kinfo_proc *p, int nchr) {
    standin::handle_failure<char **> fail{kd, "kvm_getenvv", true, nullptr};
    return standin::run(
        "kvm_getenvv", [&] { return p != nullptr ? std::to_string(p->ki_pid) : std::string(); },
        {"call", standin::count_logged(nchr)}, fail,
        [&](const standin::step &st) {
            kd->env_text = st.data();
            return standin::environ_array(kd, nchr);
        },
        [&] {
            int err = standin::live_environ(kd, p->ki_pid);
            return err != 0 ? fail.error(err) : standin::environ_array(kd, nchr);
        },
        [&] { return kd == nullptr || p == nullptr ? EINVAL : 0; },
        [&](const std::string &k, char **env) {
            if (env == nullptr)
                quarn_record::error("kvm_getenvv", k, errno);
            else
                quarn_record::answer("kvm_getenvv", k, kd->env_text.data(), kd->env_text.size());
        });
}

// Injected: an answer's bytes are the text (cut to the handle's buffer); an
// error changes nothing.
char *kvm_geterr(kvm_t *kd) {
    struct text_stays {
        kvm_t *kd;
        char *failed = nullptr;
        char *error(int) const { return kd->errbuf; }
        char *out_of_memory() const { return kd->errbuf; }
    };
    return standin::run(
        "kvm_geterr", "", {}, text_stays{kd},
        [&](const standin::step &st) {
            std::snprintf(kd->errbuf, sizeof(kd->errbuf), "%.*s",
                          static_cast<int>(st.data().size()), st.data().data());
            return kd->errbuf;
        },
        [&] { return kd->errbuf; }, [&] { return kd == nullptr ? EINVAL : 0; });
}

// Injected: an error step still releases the handle, then fails with its
// errno.
int kvm_close(kvm_t *kd) {
    struct released {
        int failed = -1;
        int error(int err) const {
            errno = err;
            return -1;
        }
        int out_of_memory() const { return error(ENOMEM); }
    };
    // The handle is released whatever is injected, so nothing leaks.
    return standin::run(
        "kvm_close", "", {}, released{}, [](const standin::step &) { return 0; },
        [] { return 0; },
        [&] {
            delete kd;
            return 0;
        });
}

}  // namespace bsd
