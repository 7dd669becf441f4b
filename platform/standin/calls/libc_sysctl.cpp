// sysctl and sysctlbyname with FreeBSD's semantics, answered from injected
// steps or from the live host, and sysconf.
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "standin/freebsd.h"
#include "standin/answers/answers.h"
#include "standin/calls/call.h"
#include "standin/inject/replay.h"

namespace standin {
namespace {

// A numeric name's route: its first depth elements. The most specific
// routes come first; the first that matches answers, and nothing else is
// tried.
struct mib_route {
    int level[3];
    unsigned depth;
    mib_handler handler;
};

const mib_route mib_routes[] = {
    {{bsd::ctl_kern, bsd::kern_proc, bsd::kern_proc_pathname}, 3, live_proc_pathname},
    {{bsd::ctl_kern, bsd::kern_proc, bsd::kern_proc_args}, 3, live_proc_args},
    {{bsd::ctl_kern, bsd::kern_proc, bsd::kern_proc_rlimit}, 3, live_proc_rlimit},
    // The process records (one, all, threads); any other kind is ENOENT.
    {{bsd::ctl_kern, bsd::kern_proc}, 2, live_kern_proc},
    {{bsd::ctl_kern, bsd::kern_argmax}, 2, live_argmax},
    {{bsd::ctl_kern, bsd::kern_boottime}, 2, live_boottime},
    {{bsd::ctl_hw, bsd::hw_ncpu}, 2, live_ncpu},
    {{bsd::ctl_vm, bsd::vm_meter}, 2, live_vmtotal},
    {{bsd::ctl_net, bsd::af_route}, 2, live_net_route},
};

struct name_alias {
    const char *name;
    int mib[2];
};

// Names that FreeBSD resolves to the numeric names above.
const name_alias name_aliases[] = {
    {"kern.argmax", {bsd::ctl_kern, bsd::kern_argmax}},
    {"kern.boottime", {bsd::ctl_kern, bsd::kern_boottime}},
    {"hw.ncpu", {bsd::ctl_hw, bsd::hw_ncpu}},
    {"vm.vmtotal", {bsd::ctl_vm, bsd::vm_meter}},
};

// A string name's route: the whole name, or (with a tail) every name that
// starts with head and ends with tail. One route answers each name.
struct name_route {
    const char *head;
    name_handler handler;
    const char *tail = nullptr;
};

const name_route name_routes[] = {
    {"kern.cp_time", live_cp_time},
    {"kern.cp_times", live_cp_time},
    {"kern.sched.topology_spec", live_topology_spec},
    {"vm.stats.", live_vm_stats, ""},
    {"dev.cpu.", live_cpu_dev, ".freq"},
    {"dev.cpu.", live_cpu_dev, ".freq_levels"},
    {"dev.cpu.", live_cpu_temperature, ".temperature"},
    {"dev.cpu.", live_cpu_temperature, ".coretemp.tjmax"},
    {"hw.physmem", live_mem_size},
    {"vfs.bufspace", live_mem_size},
    {"kern.file", live_kern_file},
    {"net.inet.tcp.pcblist", live_pcblist},
    {"net.inet.udp.pcblist", live_pcblist},
    {"net.local.stream.pcblist", live_pcblist},
    {"net.local.dgram.pcblist", live_pcblist},
    {"net.local.seqpacket.pcblist", live_pcblist},
    {"hw.acpi.battery.life", live_acpi},
    {"hw.acpi.battery.time", live_acpi},
    {"hw.acpi.acline", live_acpi},
};

std::string mib_key(const int *name, u_int namelen) {
    // At most 24 numbers of at most 11 characters each, and their dots.
    char buf[24 * 12];
    char *p = buf;
    for (u_int i = 0; i < namelen; i++) {
        if (i)
            *p++ = '.';
        p = std::to_chars(p, buf + sizeof(buf), name[i]).ptr;
    }
    return std::string(buf, static_cast<std::size_t>(p - buf));
}

int live_mib(const int *name, u_int namelen, answer &a) {
    for (const mib_route &r : mib_routes) {
        if (namelen < r.depth || namelen < 2)
            continue;
        bool match = true;
        for (unsigned i = 0; i < r.depth; i++)
            match = match && name[i] == r.level[i];
        if (match)
            return r.handler(name, namelen, a);
    }
    return ENOENT;
}

bool routes_to(const name_route &r, const char *name) {
    if (r.tail == nullptr)
        return std::strcmp(name, r.head) == 0;
    std::size_t len = std::strlen(name), head = std::strlen(r.head), tail = std::strlen(r.tail);
    return len >= head + tail && std::strncmp(name, r.head, head) == 0 &&
           std::strcmp(name + len - tail, r.tail) == 0;
}

int live_name(const char *name, answer &a) {
    for (const name_alias &al : name_aliases) {
        if (std::strcmp(al.name, name) == 0)
            return live_mib(al.mib, 2, a);
    }
    for (const name_route &r : name_routes) {
        if (routes_to(r, name))
            return r.handler(name, a);
    }
    return ENOENT;
}

// Hands an answer over as FreeBSD does: a measure reports the size needed; a
// buffer too short gets the first bytes, its own size as the length, and
// ENOMEM.
int deliver(const std::string &bytes, void *oldp, std::size_t *oldlenp) {
    if (oldlenp == nullptr)
        return 0;
    if (oldp == nullptr) {
        *oldlenp = bytes.size();
        return 0;
    }
    if (*oldlenp < bytes.size()) {
        std::memcpy(oldp, bytes.data(), *oldlenp);
        errno = ENOMEM;
        return -1;
    }
    std::memcpy(oldp, bytes.data(), bytes.size());
    *oldlenp = bytes.size();
    return 0;
}

// An injected answer, delivered as a live one. A value claims a length of
// its own: a kernel that says it wrote more than the buffer holds, which
// callers must refuse.
int deliver_injected(const step &st, void *oldp, std::size_t *oldlenp) {
    // A replayed measure reports the size the machine reported.
    if (st.measure >= 0 && oldp == nullptr && oldlenp != nullptr) {
        *oldlenp = static_cast<std::size_t>(st.measure);
        return 0;
    }
    int rc = deliver(st.data(), oldp, oldlenp);
    if (rc == 0 && st.has_value && oldp != nullptr && oldlenp != nullptr)
        *oldlenp = static_cast<std::size_t>(st.value);
    return rc;
}

const char *op_of(const void *oldp, const void *newp) {
    if (newp != nullptr)
        return "write";
    return oldp == nullptr ? "measure" : "read";
}

// Refuses a new value: the parameter is read-only here.
int no_write(const void *, std::size_t) {
    return EPERM;
}

// The live answer of one read or measure: built by live(a), then delivered.
template <class Live> int read_live(void *oldp, std::size_t *oldlenp, Live live) {
    answer a;
    a.measure = oldp == nullptr;
    a.room = oldp != nullptr && oldlenp != nullptr ? *oldlenp : SIZE_MAX;
    a.buffer = oldlenp != nullptr ? static_cast<char *>(oldp) : nullptr;
    int err;
    try {
        err = live(a);
    } catch (const std::bad_alloc &) {
        err = ENOMEM;  // and the caller's buffer is no longer ours to fill
    }
    if (err != 0) {
        errno = err;
        return -1;
    }
    if (a.written != SIZE_MAX) {
        if (a.overflowed) {
            errno = ENOMEM;  // the buffer holds the first bytes, as deliver leaves it
            return -1;
        }
        *oldlenp = a.written;
        return 0;
    }
    if (oldp == nullptr && a.measured != SIZE_MAX) {
        if (oldlenp != nullptr)
            *oldlenp = a.measured;
        return 0;
    }
    return deliver(a.out, oldp, oldlenp);
}

// A plain write goes to the writable parameters; reading the old value while
// writing a new one is not offered.
template <class Live, class Write>
int answer_live(void *oldp, std::size_t *oldlenp, const void *newp, std::size_t newlen,
                Live live, Write write) {
    if (newp != nullptr && oldlenp == nullptr) {
        if (int err = write(newp, newlen); err != 0) {
            errno = err;
            return -1;
        }
        return 0;
    }
    if (newp != nullptr) {
        errno = EPERM;
        return -1;
    }
    return read_live(oldp, oldlenp, live);
}

// A write under replay: the parameter answers the new value from now on
// (-1: nothing is replayed).
int replay_write(const std::string &key, const void *newp, std::size_t newlen) {
    if (!replaying())
        return -1;
    step st;
    st.kind = step::answer;
    st.bytes = std::make_shared<const std::string>(static_cast<const char *>(newp), newlen);
    return replay_set("sysctl", key, std::move(st));
}

template <class Key, class Live, class Write = decltype(&no_write)>
int sysctl_call(const Key &key, void *oldp, std::size_t *oldlenp, const void *newp,
                std::size_t newlen, Live live, Write write = no_write) {
    logged log{op_of(oldp, newp), newp != nullptr ? newlen : (oldlenp ? *oldlenp : 0)};
    return run(
        "sysctl", key, log, fails_with(-1),
        [&](const step &st) { return deliver_injected(st, oldp, oldlenp); },
        [&] {
            if (newp != nullptr && oldlenp == nullptr) {
                if (int err = replay_write(key_text(key), newp, newlen); err >= 0) {
                    errno = err;
                    return err == 0 ? 0 : -1;
                }
            }
            return answer_live(oldp, oldlenp, newp, newlen, live, write);
        },
        no_checks(),
        [&](const std::string &k, int rc) { quarn_record::sysctl(k, oldp, oldlenp, newp, rc); });
}

}  // namespace
}  // namespace standin

namespace bsd {

int sysctl(const int *name, u_int namelen, void *oldp, std::size_t *oldlenp, const void *newp,
           std::size_t newlen) {
    // As FreeBSD: a name has 2 to 24 elements.
    if (name == nullptr || namelen < 2 || namelen > 24) {
        errno = EINVAL;
        return -1;
    }
    return standin::sysctl_call(
        [&] { return standin::mib_key(name, namelen); }, oldp, oldlenp, newp, newlen,
        [&](standin::answer &a) { return standin::live_mib(name, namelen, a); },
        [&](const void *value, std::size_t len) {
            return standin::live_rlimit_write(name, namelen, value, len);
        });
}

int sysctlbyname(const char *name, void *oldp, std::size_t *oldlenp, const void *newp,
                 std::size_t newlen) {
    if (name == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return standin::sysctl_call(name, oldp, oldlenp, newp, newlen, [&](standin::answer &a) {
        return standin::live_name(name, a);
    });
}

// Injected under the name's number: an answer returns its value, an error
// fails with its errno. Only the page size is asked for.
long sysconf(int name) {
    return standin::run(
        "sysconf", name, {}, standin::fails_with(-1L),
        [](const standin::step &st) { return st.value; },
        [&] {
            if (name == _sc_pagesize)
                return ::sysconf(_SC_PAGESIZE);
            errno = EINVAL;
            return -1L;
        },
        standin::no_checks(), standin::keeps_result("sysconf"));
}

}  // namespace bsd
