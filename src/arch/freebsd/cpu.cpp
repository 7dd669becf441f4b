#include "arch/freebsd/cpu.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "arch/all/convert.h"
#include "arch/all/errors.h"
#include "arch/all/owners.h"
#include "arch/all/str.h"
#include "arch/posix/sysctl.h"
#include "bsd.h"

namespace {

// The kernel's order within one tick array (its CP_* indices).
constexpr int cp_user = 0;
constexpr int cp_nice = 1;
constexpr int cp_sys = 2;
constexpr int cp_intr = 3;
constexpr int cp_idle = 4;
constexpr int cpustates = 5;
constexpr std::size_t cp_bytes = cpustates * sizeof(long);

// The most CPUs a FreeBSD amd64 kernel runs (its MAXCPU, the bits of a
// cpuset_t): a larger count is no machine's, only a garbled answer.
constexpr int max_cpus = 1024;

// Seconds per tick: the counters run at 128 ticks a second.
constexpr double tick_seconds = 0.0078125;

int boottime_mib[2] = {CTL_KERN, KERN_BOOTTIME};

// One tick array as the (user, nice, system, idle, interrupt) tuple: idle
// before interrupt, the reverse of the kernel's order.
PyObject *cp_time2py(const long *cp) {
    return Py_BuildValue("(ddddd)",
                         static_cast<double>(cp[cp_user]) * tick_seconds,
                         static_cast<double>(cp[cp_nice]) * tick_seconds,
                         static_cast<double>(cp[cp_sys]) * tick_seconds,
                         static_cast<double>(cp[cp_idle]) * tick_seconds,
                         static_cast<double>(cp[cp_intr]) * tick_seconds);
}

}  // namespace

extern "C" PyObject *quarn_cpu_count_logical(PyObject *, PyObject *) {
    int mib[2] = {CTL_HW, HW_NCPU};
    int ncpu = 0;
    std::size_t len = sizeof(ncpu);
    if (bsd::sysctl(mib, 2, &ncpu, &len, nullptr, 0) == -1)
        Py_RETURN_NONE;
    // Part of an int is no count: unknown, rather than whatever its bytes
    // happen to make.
    if (len != sizeof(ncpu))
        Py_RETURN_NONE;
    return Py_BuildValue("i", ncpu);
}

extern "C" PyObject *quarn_cpu_times(PyObject *, PyObject *) {
    // Zeroed: a shorter answer is accepted and must not leave garbage.
    long cp_time[cpustates] = {};
    if (quarn_sysctlbyname("kern.cp_time", cp_time, sizeof(cp_time)) == -1)
        return nullptr;
    return cp_time2py(cp_time);
}

extern "C" PyObject *quarn_per_cpu_times(PyObject *, PyObject *) {
    py_ref list(PyList_New(0));
    if (!list)
        return nullptr;
    int mib[2] = {CTL_HW, HW_NCPU};
    int ncpu = 0;
    if (quarn_sysctl(mib, 2, &ncpu, sizeof(ncpu)) == -1)
        return nullptr;
    // A negative count cannot be allocated; say so without asking the
    // allocator for an absurd size.
    if (ncpu < 0)
        return PyErr_NoMemory();
    // The count only sizes the read; the tuples are those of the arrays
    // that actually came back.
    if (ncpu > max_cpus)
        ncpu = max_cpus;
    std::size_t bytes = static_cast<std::size_t>(ncpu) * cp_bytes;
    heap<long> cp_times(static_cast<long *>(std::calloc(1, bytes ? bytes : 1)));
    if (cp_times.get() == nullptr)
        return PyErr_NoMemory();
    std::size_t got = 0;
    if (quarn_sysctlbyname_len("kern.cp_times", cp_times.get(), bytes, &got) == -1)
        return nullptr;
    std::size_t cpus = got / cp_bytes;  // a partial array at the end is no CPU
    for (std::size_t cpu = 0; cpu < cpus; cpu++) {
        if (append_new(list.get(), cp_time2py(cp_times.get() + cpu * cpustates)) == -1)
            return nullptr;
    }
    return list.release();
}

extern "C" PyObject *quarn_cpu_stats(PyObject *, PyObject *) {
    unsigned int v_soft = 0, v_intr = 0, v_syscall = 0, v_trap = 0, v_swtch = 0;
    if (quarn_sysctlbyname("vm.stats.sys.v_soft", &v_soft, sizeof(v_soft)) == -1)
        return nullptr;
    if (quarn_sysctlbyname("vm.stats.sys.v_intr", &v_intr, sizeof(v_intr)) == -1)
        return nullptr;
    if (quarn_sysctlbyname("vm.stats.sys.v_syscall", &v_syscall, sizeof(v_syscall)) == -1)
        return nullptr;
    if (quarn_sysctlbyname("vm.stats.sys.v_trap", &v_trap, sizeof(v_trap)) == -1)
        return nullptr;
    if (quarn_sysctlbyname("vm.stats.sys.v_swtch", &v_swtch, sizeof(v_swtch)) == -1)
        return nullptr;
    return Py_BuildValue("IIIII", v_swtch, v_intr, v_soft, v_syscall, v_trap);
}

extern "C" PyObject *quarn_boot_time(PyObject *, PyObject *) {
    bsd::timeval boottime = {};
    if (quarn_sysctl(boottime_mib, 2, &boottime, sizeof(boottime)) == -1)
        return nullptr;
    // Whole seconds: the microseconds are dropped, not rounded.
    return Py_BuildValue("d", static_cast<double>(boottime.tv_sec));
}

extern "C" PyObject *quarn_cpu_freq(PyObject *, PyObject *args) {
    // Zero-filled first, so a read that writes nothing leaves the empty text.
    char levels[1000];
    std::memset(levels, 0, sizeof(levels));
    int cpu;
    if (!PyArg_ParseTuple(args, "i", &cpu))
        return nullptr;

    // Fits "dev.cpu.%d.freq_levels" with any int, so a name is never cut.
    char name[32];
    int freq = 0;
    str_format(name, sizeof(name), "dev.cpu.%d.freq", cpu);
    if (quarn_sysctlbyname(name, &freq, sizeof(freq)) == -1)
        return quarn_absent_or_oserror("unable to read frequency");

    str_format(name, sizeof(name), "dev.cpu.%d.freq_levels", cpu);
    if (quarn_sysctlbyname(name, levels, sizeof(levels)) == -1) {
        PyErr_Clear();
        quarn_debug("cpu freq levels failed (ignored)");
    }
    // A text that filled the whole buffer has no NUL of its own; it is cut
    // to the buffer rather than read past it.
    levels[sizeof(levels) - 1] = '\0';
    return Py_BuildValue("is", freq, levels);
}

extern "C" PyObject *quarn_cpu_topology(PyObject *, PyObject *) {
    char *buf = nullptr;
    std::size_t len = 0;
    if (quarn_sysctlbyname_malloc("kern.sched.topology_spec", &buf, &len) == -1) {
        quarn_debug("ignore sysctlbyname('kern.sched.topology_spec') error");
        PyErr_Clear();
        Py_RETURN_NONE;
    }
    // The answer need not hold a NUL (or any byte at all): the text is built
    // from a terminated copy of exactly the bytes the kernel returned.
    heap<char> answer(buf);
    heap<char> text(static_cast<char *>(std::malloc(len + 1)));
    if (text.get() == nullptr)
        return PyErr_NoMemory();
    if (len)
        std::memcpy(text.get(), answer.get(), len);
    text[len] = '\0';
    return Py_BuildValue("s", text.get());
}
