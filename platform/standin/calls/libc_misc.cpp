// The small calls: kill, sysconf and strlcat.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/inject/inject.h"
#include "standin/calls/call.h"

namespace bsd {

int kill(pid_t pid, int sig) {
    return standin::run(
        "kill", pid, {"call", static_cast<std::size_t>(sig)}, standin::fails_with(-1),
        [](const standin::step &) { return 0; },
        [&] {
            // Only the null signal passes to the host: the module never
            // sends others.
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
        },
        standin::no_checks(), standin::keeps_result("kill"));
}

long sysconf(int name) {
    return standin::run(
        "sysconf", name, {}, standin::fails_with(-1L),
        [](const standin::step &st) { return st.value; },
        [&] {
            if (name == sc_pagesize)
                return ::sysconf(_SC_PAGESIZE);
            errno = EINVAL;
            return -1L;
        },
        standin::no_checks(), standin::keeps_result("sysconf"));
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
