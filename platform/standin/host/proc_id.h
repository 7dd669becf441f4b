// Whether a number names a process of the host, cheaply.
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "standin/host/files.h"

namespace standin {

// A process (thread group), not a thread of one, as FreeBSD's process IDs
// are. The null signal sent to the thread pid of the group pid reaches only
// a group's leader, in one call, where reading its status file costs
// many times as much; that read is the fallback should the call be refused
// for another reason. errno is left as it was.
inline bool thread_group(int pid) {
    if (pid <= 0)
        return false;
    int saved = errno;
    long rc = ::syscall(SYS_tgkill, pid, pid, 0);
    int err = errno;
    errno = saved;
    if (rc == 0 || err == EPERM)
        return true;
    if (err == ESRCH)
        return false;
    return is_process(pid);
}

}  // namespace standin
