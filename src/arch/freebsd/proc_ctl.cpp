// A process's CPU affinity and resource limits, read and changed.
#include "arch/freebsd/proc_ctl.h"

#include <cstdint>
#include <cstring>

#include "arch/all/errors.h"
#include "arch/posix/sysctl.h"
#include "bsd.h"

// The mask as 64-bit words, CPU n at bit n % 64 of word n / 64.
constexpr int mask_words = 16;
constexpr long max_cpu = mask_words * 64 - 1;
static_assert(sizeof(bsd::cpuset_t) == mask_words * sizeof(std::uint64_t));

extern "C" PyObject *quarn_proc_cpu_affinity_get(PyObject *, PyObject *args) {
    int pid;
    if (!PyArg_ParseTuple(args, "i", &pid))
        return nullptr;
    bsd::cpuset_t mask;
    if (bsd::cpuset_getaffinity(CPU_LEVEL_WHICH, CPU_WHICH_PID, static_cast<bsd::id_t>(pid),
                                sizeof(mask), &mask) != 0)
        return quarn_oserror();
    std::uint64_t words[mask_words];
    std::memcpy(words, &mask, sizeof(words));

    PyObject *list = PyList_New(0);
    if (list == nullptr)
        return nullptr;
    for (int cpu = 0; cpu <= max_cpu; cpu++) {
        if (!(words[cpu / 64] >> (cpu % 64) & 1))
            continue;
        PyObject *n = Py_BuildValue("i", cpu);
        if (n == nullptr || PyList_Append(list, n) == -1) {
            Py_XDECREF(n);
            Py_DECREF(list);
            return nullptr;
        }
        Py_DECREF(n);
    }
    return list;
}

extern "C" PyObject *quarn_proc_cpu_affinity_set(PyObject *, PyObject *args) {
    int pid;
    PyObject *py_cpus;
    if (!PyArg_ParseTuple(args, "iO", &pid, &py_cpus))
        return nullptr;
    PyObject *seq = PySequence_Fast(py_cpus, "expected a sequence or integer");
    if (seq == nullptr)
        return nullptr;
    std::uint64_t words[mask_words] = {};
    Py_ssize_t n = PySequence_Fast_GET_SIZE(seq);
    for (Py_ssize_t i = 0; i < n; i++) {
        long cpu = PyLong_AsLong(PySequence_Fast_GET_ITEM(seq, i));
        // The mask has no bit outside 0..1023: refuse before the kernel is
        // asked rather than write past it.
        if (cpu < 0 || cpu > max_cpu) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_ValueError, "invalid CPU number %ld (must be 0 to %ld)", cpu,
                             max_cpu);
            Py_DECREF(seq);
            return nullptr;
        }
        words[cpu / 64] |= std::uint64_t{1} << (cpu % 64);
    }
    Py_DECREF(seq);
    bsd::cpuset_t mask;
    std::memcpy(&mask, words, sizeof(mask));
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
    return Py_BuildValue("LL", static_cast<long long>(rlp.rlim_cur),
                         static_cast<long long>(rlp.rlim_max));
}

extern "C" PyObject *quarn_proc_setrlimit(PyObject *, PyObject *args) {
    int pid, resource;
    PyObject *py_soft, *py_hard;
    if (!PyArg_ParseTuple(args, "iiOO", &pid, &resource, &py_soft, &py_hard))
        return nullptr;
    int name[5] = {CTL_KERN, KERN_PROC, KERN_PROC_RLIMIT, pid, resource};
    bsd::rlimit new_limit;
    // -1 is a limit like any other; only a pending exception means failure.
    new_limit.rlim_cur = PyLong_AsLongLong(py_soft);
    if (new_limit.rlim_cur == -1 && PyErr_Occurred())
        return nullptr;
    new_limit.rlim_max = PyLong_AsLongLong(py_hard);
    if (new_limit.rlim_max == -1 && PyErr_Occurred())
        return nullptr;
    if (bsd::sysctl(name, 5, nullptr, nullptr, &new_limit, sizeof(new_limit)) == -1)
        return quarn_oserror();
    Py_RETURN_NONE;
}
