// kern.proc's executable path (/proc/PID/exe) and argument strings
// (/proc/PID/cmdline), in FreeBSD's terms.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/host/proc_id.h"
#include "standin/answers/answers.h"

namespace standin {
namespace {

// The largest cmdline read; the host bounds arguments far below it.
constexpr std::size_t args_limit = std::size_t(1) << 24;

int pathname(int pid, std::string &out) {
    // As FreeBSD: -1 names the calling process.
    if (pid == -1)
        pid = static_cast<int>(::getpid());
    if (!thread_group(pid))
        return ESRCH;
    char target[4096];
    ssize_t n = ::readlink(host_file("/proc/%d/exe", pid).c_str(), target, sizeof(target));
    if (n < 0) {
        // A kernel thread has no executable; another user's cannot be
        // read here. Either way the path cannot be named.
        int err = errno;
        return err == ENOENT || err == EACCES || err == EPERM ? ENOENT : err == ESRCH ? ESRCH
                                                                                       : err;
    }
    // An executable that has lost its last name cannot be named, as the
    // open-file table cannot name such a file: the host's "PATH (deleted)"
    // is no path. Its answer is the empty name.
    std::string_view link(target, static_cast<std::size_t>(n));
    struct stat st;
    if (link.ends_with(" (deleted)") &&
        ::stat(host_file("/proc/%d/exe", pid).c_str(), &st) == 0 && st.st_nlink == 0)
        n = 0;
    out.assign(target, static_cast<std::size_t>(n));
    out.push_back('\0');
    return 0;
}

int args(int pid, std::string &out) {
    if (!thread_group(pid))
        return ESRCH;
    if (!read_file(host_file("/proc/%d/cmdline", pid).c_str(), out, args_limit))
        return thread_group(pid) ? EPERM : ESRCH;
    // A process that rewrote its arguments may leave the last unterminated;
    // FreeBSD's answer always ends each string.
    if (!out.empty() && out.back() != '\0')
        out.push_back('\0');
    return 0;
}

}  // namespace

int live_proc_pathname(const int *mib, unsigned n, answer &a) {
    return n == 4 ? pathname(mib[3], a.out) : EINVAL;
}

int live_proc_args(const int *mib, unsigned n, answer &a) {
    return n == 4 ? args(mib[3], a.out) : EINVAL;
}

}  // namespace standin
