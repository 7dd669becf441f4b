// sysctl and sysctlbyname with FreeBSD's semantics, answered from injected
// steps or from the live host.
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>

#include "standin/freebsd.h"
#include "standin/inject/inject.h"
#include "standin/answers/answers.h"
#include "standin/calls/nomem.h"
#include "standin/host/sockets.h"

namespace standin {
namespace {

struct mib_route {
    int top;
    int second;
    mib_handler handler;
};

// Numeric names the stand-in answers live, by their first two elements.
const mib_route mib_routes[] = {
    {CTL_KERN, KERN_PROC, live_kern_proc},
    {CTL_KERN, KERN_ARGMAX, live_argmax},
    {CTL_KERN, KERN_BOOTTIME, live_boottime},
    {CTL_HW, HW_NCPU, live_ncpu},
    {CTL_VM, VM_METER, live_vmtotal},
    {bsd::ctl_net, bsd::af_route, live_net_route},
};

struct name_alias {
    const char *name;
    int mib[2];
};

// Names that FreeBSD resolves to the numeric names above.
const name_alias name_aliases[] = {
    {"kern.argmax", {CTL_KERN, KERN_ARGMAX}},
    {"kern.boottime", {CTL_KERN, KERN_BOOTTIME}},
    {"hw.ncpu", {CTL_HW, HW_NCPU}},
    {"vm.vmtotal", {CTL_VM, VM_METER}},
};

struct name_route {
    const char *prefix;
    name_handler handler;
};

// String names without a numeric form, by prefix. Routes that share a prefix
// are tried in turn until one knows the name.
const name_route name_routes[] = {
    {"kern.cp_time", live_cp_time},
    {"kern.sched.topology_spec", live_topology_spec},
    {"vm.stats.", live_vm_stats},
    {"dev.cpu.", live_cpu_dev},
    {"dev.cpu.", live_cpu_temperature},
    {"hw.physmem", live_mem_size},
    {"vfs.bufspace", live_mem_size},
    {"kern.file", live_kern_file},
    {"net.inet.tcp.pcblist", live_pcblist},
    {"net.inet.udp.pcblist", live_pcblist},
    {"net.local.", live_pcblist},
    {"hw.acpi.", live_acpi},
};

// The room the caller's buffer gives the answer being built on this thread,
// and the size a measure found without building its answer.
thread_local std::size_t room = SIZE_MAX;
thread_local std::size_t measured = SIZE_MAX;
// The caller's buffer, for a table that writes its records there itself, and
// what it wrote: a large table is then never copied, nor held twice.
thread_local char *target = nullptr;
thread_local std::size_t written = SIZE_MAX;
thread_local bool overflowed = false;

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

int live_mib(const int *name, u_int namelen, std::string &out, bool measure) {
    if (namelen < 2)
        return ENOENT;
    for (const mib_route &r : mib_routes) {
        if (r.top == name[0] && r.second == name[1])
            return r.handler(name, namelen, out, measure);
    }
    return ENOENT;
}

int live_name(const char *name, std::string &out, bool measure) {
    for (const name_alias &a : name_aliases) {
        if (std::strcmp(a.name, name) == 0)
            return live_mib(a.mib, 2, out, measure);
    }
    for (const name_route &r : name_routes) {
        if (std::strncmp(name, r.prefix, std::strlen(r.prefix)) != 0)
            continue;
        int err = r.handler(name, out, measure);
        if (err != ENOENT)
            return err;
        out.clear();
    }
    return ENOENT;
}

// Hands an answer over as FreeBSD does: a measure reports the size needed; a
// buffer too short gets the first bytes, its own size as the length, and
// ENOMEM.
int deliver(const std::string &answer, void *oldp, std::size_t *oldlenp) {
    if (oldlenp == nullptr)
        return 0;
    if (oldp == nullptr) {
        *oldlenp = answer.size();
        return 0;
    }
    if (*oldlenp < answer.size()) {
        std::memcpy(oldp, answer.data(), *oldlenp);
        errno = ENOMEM;
        return -1;
    }
    std::memcpy(oldp, answer.data(), answer.size());
    *oldlenp = answer.size();
    return 0;
}

const char *op_of(const void *oldp, const void *newp) {
    if (newp != nullptr)
        return "write";
    return oldp == nullptr ? "measure" : "read";
}

// Refuses a new value: the parameter is read-only here.
int no_write(const void *, std::size_t) { return EPERM; }

template <class Live, class Write = decltype(&no_write)>
int answer(const std::string &key, void *oldp, std::size_t *oldlenp, const void *newp,
           std::size_t newlen, Live live, Write write = no_write) {
    log_call("sysctl", key, op_of(oldp, newp),
             newp != nullptr ? newlen : (oldlenp ? *oldlenp : 0));
    step st;
    if (next_step("sysctl", key, st)) {
        if (st.kind == step::error) {
            errno = st.err;
            return -1;
        }
        int rc = deliver(st.data(), oldp, oldlenp);
        // A value claims a length of its own: a kernel that says it wrote
        // more than the buffer holds, which callers must refuse.
        if (rc == 0 && st.has_value && oldp != nullptr && oldlenp != nullptr)
            *oldlenp = static_cast<std::size_t>(st.value);
        return rc;
    }
    // A plain write goes to the writable parameters; reading the old value
    // while writing a new one is not offered.
    if (newp != nullptr && oldlenp == nullptr) {
        int err = write(newp, newlen);
        if (err != 0) {
            errno = err;
            return -1;
        }
        return 0;
    }
    if (newp != nullptr) {
        errno = EPERM;
        return -1;
    }
    std::string data;
    room = oldp != nullptr && oldlenp != nullptr ? *oldlenp : SIZE_MAX;
    target = oldlenp != nullptr ? static_cast<char *>(oldp) : nullptr;
    measured = written = SIZE_MAX;
    overflowed = false;
    int err;
    try {
        err = live(data, oldp == nullptr);
    } catch (const std::bad_alloc &) {
        err = ENOMEM;  // and the caller's buffer is no longer ours to fill
    }
    room = SIZE_MAX;
    target = nullptr;
    if (err != 0) {
        errno = err;
        return -1;
    }
    if (written != SIZE_MAX) {
        if (overflowed) {
            errno = ENOMEM;  // the buffer holds the first bytes, as deliver leaves it
            return -1;
        }
        *oldlenp = written;
        return 0;
    }
    if (oldp == nullptr && measured != SIZE_MAX) {
        if (oldlenp != nullptr)
            *oldlenp = measured;
        return 0;
    }
    return deliver(data, oldp, oldlenp);
}

}  // namespace

std::size_t answer_room() {
    return room;
}

void answer_measured(std::size_t size) {
    measured = size;
}

char *answer_buffer() {
    return target;
}

void answer_written(std::size_t len, bool more) {
    written = len;
    overflowed = more;
}

}  // namespace standin

namespace bsd {

int sysctl(const int *name, u_int namelen, void *oldp, std::size_t *oldlenp, const void *newp,
           std::size_t newlen) try {
    // As FreeBSD: a name has 2 to 24 elements.
    if (name == nullptr || namelen < 2 || namelen > 24) {
        errno = EINVAL;
        return -1;
    }
    return standin::answer(standin::mib_key(name, namelen), oldp, oldlenp, newp, newlen,
                           [&](std::string &out, bool measure) {
                               return standin::live_mib(name, namelen, out, measure);
                           },
                           [&](const void *value, std::size_t len) {
                               return standin::live_mib_write(name, namelen, value, len);
                           });
} catch (const std::bad_alloc &) {
    return standin::no_memory(-1);
}

int sysctlbyname(const char *name, void *oldp, std::size_t *oldlenp, const void *newp,
                 std::size_t newlen) try {
    if (name == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return standin::answer(name, oldp, oldlenp, newp, newlen,
                           [&](std::string &out, bool measure) {
                               return standin::live_name(name, out, measure);
                           });
} catch (const std::bad_alloc &) {
    return standin::no_memory(-1);
}

}  // namespace bsd
