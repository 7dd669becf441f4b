// A process's CPU affinity and resource limits, read and changed.
#include "arch/freebsd/proc_ctl.h"

#include <cstdint>
#include <cstring>

#include "arch/all/convert.h"
#include "arch/all/errors.h"
#include "arch/all/owners.h"
#include "arch/posix/sysctl.h"
#include "bsd.h"

namespace {

// The mask as 64-bit words, CPU n at bit n % 64 of word n / 64.
constexpr int mask_words = 16;
constexpr long max_cpu = mask_words * 64 - 1;
static_assert(sizeof(bsd::cpuset_t) == mask_words * sizeof(std::uint64_t));

// The CPUs of a mask as a list of their numbers, lowest first.
PyObject *cpuset2py(const bsd::cpuset_t &mask) {
    std::uint64_t words[mask_words];
    std::memcpy(words, &mask, sizeof(words));
    py_ref list(PyList_New(0));
    if (!list)
        return nullptr;
    for (int cpu = 0; cpu <= max_cpu; cpu++) {
        if (!(words[cpu / 64] >> (cpu % 64) & 1))
            continue;
        if (append_new(list.get(), Py_BuildValue("i", cpu)) == -1)
            return nullptr;
    }
    return list.release();
}

// A mask from a sequence of CPU numbers: 0, or -1 with the exception set.
int py2cpuset(PyObject *cpus, bsd::cpuset_t *mask) {
    py_ref seq(PySequence_Fast(cpus, "expected a sequence or integer"));
    if (!seq)
        return -1;
    std::uint64_t words[mask_words] = {};
    Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    for (Py_ssize_t i = 0; i < n; i++) {
        long cpu = PyLong_AsLong(PySequence_Fast_GET_ITEM(seq.get(), i));
        // The mask has no bit outside 0..1023: refuse before the kernel is
        // asked rather than write past it.
        if (cpu < 0 || cpu > max_cpu) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_ValueError, "invalid CPU number %ld (must be 0 to %ld)", cpu,
                             max_cpu);
            return -1;
        }
        words[cpu / 64] |= std::uint64_t{1} << (cpu % 64);
    }
    std::memcpy(mask, words, sizeof(*mask));
    return 0;
}

// A limit pair as the (soft, hard) tuple.
PyObject *rlimit2py(const bsd::rlimit &rl) {
    return Py_BuildValue("LL", static_cast<long long>(rl.rlim_cur),
                         static_cast<long long>(rl.rlim_max));
}

// A limit pair from two integers: 0, or -1 with the exception set. -1 is a
// limit like any other; only a pending exception means failure.
int py2rlimit(PyObject *soft, PyObject *hard, bsd::rlimit *rl) {
    rl->rlim_cur = PyLong_AsLongLong(soft);
    if (rl->rlim_cur == -1 && PyErr_Occurred())
        return -1;
    rl->rlim_max = PyLong_AsLongLong(hard);
    if (rl->rlim_max == -1 && PyErr_Occurred())
        return -1;
    return 0;
}

}  // namespace

extern "C" PyObject *quarn_proc_cpu_affinity_get(PyObject *, PyObject *args) {
    int pid;
    if (!PyArg_ParseTuple(args, "i", &pid))
        return nullptr;
    bsd::cpuset_t mask;
    if (bsd::cpuset_getaffinity(CPU_LEVEL_WHICH, CPU_WHICH_PID, static_cast<bsd::id_t>(pid),
                                sizeof(mask), &mask) != 0)
        return quarn_oserror();
    return cpuset2py(mask);
}

extern "C" PyObject *quarn_proc_cpu_affinity_set(PyObject *, PyObject *args) {
    int pid;
    PyObject *py_cpus;
    if (!PyArg_ParseTuple(args, "iO", &pid, &py_cpus))
        return nullptr;
    bsd::cpuset_t mask;
    if (py2cpuset(py_cpus, &mask) == -1)
        return nullptr;
    if (bsd::cpuset_setaffinity(CPU_LEVEL_WHICH, CPU_WHICH_PID, static_cast<bsd::id_t>(pid),
                                sizeof(mask), &mask) != 0)
        return quarn_oserror();
    Py_RETURN_NONE;
}

extern "C" PyObject *quarn_proc_getrlimit(PyObject *, PyObject *args) {
    int pid, resource;
    if (!PyArg_ParseTuple(args, "ii", &pid, &resource))
        return nullptr;
    int name[5] = {CTL_KERN, KERN_PROC, KERN_PROC_RLIMIT, pid, resource};
    bsd::rlimit rlp{};  // a short answer leaves the rest zero
    if (quarn_sysctl(name, 5, &rlp, sizeof(rlp)) == -1)
        return nullptr;
    return rlimit2py(rlp);
}

extern "C" PyObject *quarn_proc_setrlimit(PyObject *, PyObject *args) {
    int pid, resource;
    PyObject *py_soft, *py_hard;
    if (!PyArg_ParseTuple(args, "iiOO", &pid, &resource, &py_soft, &py_hard))
        return nullptr;
    int name[5] = {CTL_KERN, KERN_PROC, KERN_PROC_RLIMIT, pid, resource};
    bsd::rlimit new_limit;
    if (py2rlimit(py_soft, py_hard, &new_limit) == -1)
        return nullptr;
    if (bsd::sysctl(name, 5, nullptr, nullptr, &new_limit, sizeof(new_limit)) == -1)
        return quarn_oserror();
    Py_RETURN_NONE;
}
