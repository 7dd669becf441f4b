// kill, cpuset_getaffinity, cpuset_setaffinity, getpriority and setpriority
// over the host's signal, affinity and priority calls.
//
// FreeBSD applies a process's mask and nice value to all of its threads; the
// host keeps them per thread, so a change here is made to every thread.
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/host/proc_id.h"
#include "standin/inject/inject.h"
#include "standin/calls/call.h"
#include "standin/inject/replay.h"

namespace standin {
namespace {

// Threads that start while a change is made are caught by another pass;
// a process that keeps starting them is caught up to this many times.
constexpr int max_passes = 8;

// The largest mask accepted, as FreeBSD refuses a preposterous size.
constexpr std::size_t max_setsize = 4096;

// The process a FreeBSD ID names: -1 (affinity) or 0 (priority) is the
// caller; else it must be a process, not a thread of one. 0 when none.
int process_of(bsd::id_t id, bsd::id_t self_alias) {
    if (id == self_alias)
        return static_cast<int>(::getpid());
    if (id <= 0 || id > INT32_MAX || !thread_group(static_cast<int>(id)))
        return 0;
    return static_cast<int>(id);
}

// Calls fn(tid) for every thread of pid, until a pass finds none new. The
// first failure on a thread that still exists is the answer; a thread that
// has exited meanwhile is passed over.
template <class Fn> int for_each_thread(int pid, Fn fn) {
    std::vector<int> done;
    host_file dir("/proc/%d/task", pid);
    for (int pass = 0; pass < max_passes; pass++) {
        std::vector<int> tids = list_numeric(dir.c_str());
        if (tids.empty())
            return pass == 0 ? ESRCH : 0;
        bool fresh = false;
        for (int tid : tids) {
            bool seen = false;
            for (int d : done)
                seen = seen || d == tid;
            if (seen)
                continue;
            fresh = true;
            if (fn(tid) != 0 && errno != ESRCH)
                return errno;
            done.push_back(tid);
        }
        if (!fresh)
            return 0;
    }
    return 0;
}

// The host's CPUs that exist, as FreeBSD checks each CPU of a new mask.
bool cpu_exists(std::size_t cpu) {
    long n = ::sysconf(_SC_NPROCESSORS_CONF);
    return n > 0 && cpu < static_cast<std::size_t>(n);
}

// Under replay a new mask is what the process's mask reads from now on; a
// mask without a CPU is refused as FreeBSD refuses it. -1: not replaying.
int replay_affinity(bsd::id_t id, std::size_t setsize, const bsd::cpuset_t *mask) {
    std::string key = std::to_string(id);
    if (int err = replay_has("cpuset_getaffinity", key); err != 0)
        return err;
    const auto *bytes = reinterpret_cast<const char *>(mask);
    bool any = false;
    for (std::size_t i = 0; i < setsize; i++)
        any = any || bytes[i] != 0;
    if (!any)
        return EDEADLK;
    step st;
    st.kind = step::answer;
    st.bytes = std::make_shared<const std::string>(bytes, setsize);
    return replay_set("cpuset_getaffinity", key, std::move(st));
}

// Under replay a new nice value is what the process's priority reads.
int replay_priority(int who, int prio) {
    step st;
    st.kind = step::answer;
    st.value = prio;
    st.has_value = true;
    return replay_set("getpriority", std::to_string(who), std::move(st));
}

int live_getaffinity(bsd::cpulevel_t level, bsd::cpuwhich_t which, bsd::id_t id,
                     std::size_t setsize, bsd::cpuset_t *mask) {
    if (level != bsd::cpu_level_which || which != bsd::cpu_which_pid) {
        errno = EINVAL;
        return -1;
    }
    if (setsize < sizeof(bsd::cpuset_t) || setsize > max_setsize) {
        errno = ERANGE;
        return -1;
    }
    int pid = process_of(id, -1);
    if (pid == 0) {
        errno = ESRCH;
        return -1;
    }
    cpu_set_t host;
    if (::sched_getaffinity(pid, sizeof(host), &host) != 0)
        return -1;
    std::memset(mask, 0, setsize);
    auto *bytes = reinterpret_cast<unsigned char *>(mask);
    for (int cpu = 0; cpu < CPU_SETSIZE && cpu < bsd::cpu_maxsize; cpu++) {
        if (CPU_ISSET(cpu, &host))
            bytes[cpu / 8] |= static_cast<unsigned char>(1u << (cpu % 8));
    }
    return 0;
}

int live_setaffinity(bsd::cpulevel_t level, bsd::cpuwhich_t which, bsd::id_t id,
                     std::size_t setsize, const bsd::cpuset_t *mask) {
    if (level != bsd::cpu_level_which || which != bsd::cpu_which_pid) {
        errno = EINVAL;
        return -1;
    }
    if (setsize > max_setsize) {
        errno = ERANGE;
        return -1;
    }
    if (int err = replay_affinity(id, setsize, mask); err >= 0) {
        errno = err;
        return err == 0 ? 0 : -1;
    }
    // A short mask is welcome: the CPUs beyond it are clear.
    cpu_set_t host;
    CPU_ZERO(&host);
    const auto *bytes = reinterpret_cast<const unsigned char *>(mask);
    bool any = false;
    for (std::size_t cpu = 0; cpu < setsize * 8; cpu++) {
        if (!(bytes[cpu / 8] >> (cpu % 8) & 1))
            continue;
        if (!cpu_exists(cpu)) {
            errno = EINVAL;
            return -1;
        }
        CPU_SET(cpu, &host);
        any = true;
    }
    int pid = process_of(id, -1);
    if (pid == 0) {
        errno = ESRCH;
        return -1;
    }
    // No CPU left to run on: FreeBSD's EDEADLK where the host says EINVAL.
    if (!any) {
        errno = EDEADLK;
        return -1;
    }
    int err = for_each_thread(
        pid, [&](int tid) { return ::sched_setaffinity(tid, sizeof(host), &host); });
    if (err != 0) {
        errno = err == EINVAL ? EDEADLK : err;
        return -1;
    }
    return 0;
}

int live_getpriority(int which, int who) {
    if (which != bsd::prio_process)
        return ::getpriority(static_cast<__priority_which_t>(which), static_cast<::id_t>(who));
    int pid = process_of(who, 0);
    if (pid == 0) {
        errno = ESRCH;
        return -1;
    }
    return ::getpriority(PRIO_PROCESS, static_cast<::id_t>(pid));
}

int live_setpriority(int which, int who, int prio) {
    if (which != bsd::prio_process)
        return ::setpriority(static_cast<__priority_which_t>(which), static_cast<::id_t>(who),
                             prio);
    int pid = replaying() ? who : process_of(who, 0);
    if (pid == 0) {
        errno = ESRCH;
        return -1;
    }
    // FreeBSD holds a nice value to -20..20; the host's highest is 19.
    prio = prio < bsd::prio_min ? bsd::prio_min : prio > bsd::prio_max ? bsd::prio_max : prio;
    if (int err = replay_priority(who, prio); err >= 0) {
        errno = err;
        return err == 0 ? 0 : -1;
    }
    int err = for_each_thread(pid, [&](int tid) {
        return ::setpriority(PRIO_PROCESS, static_cast<::id_t>(tid), prio);
    });
    if (err != 0) {
        errno = err;
        return -1;
    }
    return 0;
}

// An injected answer that changes nothing and succeeds.
int succeeds(const step &) {
    return 0;
}

}  // namespace
}  // namespace standin

namespace bsd {

// Injected under the ID: an answer succeeds, an error fails with its errno.
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

// Injected under the ID: an answer is the mask's bytes (the rest zero), an
// error fails with its errno.
int cpuset_getaffinity(cpulevel_t level, cpuwhich_t which, id_t id, std::size_t setsize,
                       cpuset_t *mask) {
    return standin::run(
        "cpuset_getaffinity", id, {"call", setsize}, standin::fails_with(-1),
        [&](const standin::step &st) {
            std::memset(mask, 0, setsize);
            std::size_t n = st.data().size() < setsize ? st.data().size() : setsize;
            std::memcpy(mask, st.data().data(), n);
            return 0;
        },
        [&] { return standin::live_getaffinity(level, which, id, setsize, mask); },
        standin::no_checks(), [&](const std::string &key, int rc) {
            if (rc == 0)
                quarn_record::answer("cpuset_getaffinity", key, mask, setsize);
            else
                quarn_record::result("cpuset_getaffinity", key, rc);
        });
}

// Injected under the ID: an answer succeeds without changing anything, an
// error fails with its errno.
int cpuset_setaffinity(cpulevel_t level, cpuwhich_t which, id_t id, std::size_t setsize,
                       const cpuset_t *mask) {
    return standin::run("cpuset_setaffinity", id, {"call", setsize}, standin::fails_with(-1),
                        standin::succeeds, [&] {
                            return standin::live_setaffinity(level, which, id, setsize, mask);
                        });
}

// Injected under who: an answer returns its value, an error fails with -1
// and its errno.
int getpriority(int which, int who) {
    return standin::run(
        "getpriority", who, {}, standin::fails_with(-1),
        [](const standin::step &st) { return static_cast<int>(st.value); },
        [&] { return standin::live_getpriority(which, who); }, standin::no_checks(),
        standin::keeps_result("getpriority"));
}

// Injected under who: an answer succeeds without changing anything, an
// error fails with its errno.
int setpriority(int which, int who, int prio) {
    return standin::run("setpriority", who, {}, standin::fails_with(-1), standin::succeeds,
                        [&] { return standin::live_setpriority(which, who, prio); });
}

}  // namespace bsd
