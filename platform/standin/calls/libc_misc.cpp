// The small calls: kill, sysconf and strlcat.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/inject/inject.h"
#include "standin/calls/nomem.h"

namespace bsd {

int kill(pid_t pid, int sig) try {
    std::string key = std::to_string(pid);
    standin::log_call("kill", key, "call", static_cast<std::size_t>(sig));
    standin::step st;
    if (standin::next_step("kill", key, st)) {
        if (st.kind == standin::step::error) {
            errno = st.err;
            return -1;
        }
        return 0;
    }
    // Only the null signal passes to the host: the module never sends others.
    if (sig != 0) {
        errno = EINVAL;
        return -1;
    }
    int rc = ::kill(pid, 0);
    int err = errno;
    if (rc == -1 && err != EPERM)
        return -1;
    // A thread of another process is no process here.
    if (!standin::is_process(pid)) {
        errno = ESRCH;
        return -1;
    }
    errno = err;
    return rc;
} catch (const std::bad_alloc &) {
    return standin::no_memory(-1);
}

long sysconf(int name) {
    std::string key = std::to_string(name);
    standin::log_call("sysconf", key, "call", 0);
    standin::step st;
    if (standin::next_step("sysconf", key, st)) {
        if (st.kind == standin::step::error) {
            errno = st.err;
            return -1;
        }
        return st.value;
    }
    if (name == sc_pagesize)
        return ::sysconf(_SC_PAGESIZE);
    errno = EINVAL;
    return -1;
}

std::size_t strlcat(char *dst, const char *src, std::size_t size) {
    std::size_t srclen = std::strlen(src);
    std::size_t dstlen = 0;
    while (dstlen < size && dst[dstlen] != '\0')
        dstlen++;
    if (dstlen == size)  // no terminator within size: nothing to append to
        return size + srclen;
    std::size_t room = size - dstlen - 1;
    std::size_t n = srclen < room ? srclen : room;
    std::memcpy(dst + dstlen, src, n);
    dst[dstlen + n] = '\0';
    return dstlen + srclen;
}

}  // namespace bsd
