// Per-process figures read from the one-process record.
#include "arch/all/errors.h"
#include "arch/all/str.h"
#include "arch/freebsd/proc.h"
#include "arch/posix/sysctl.h"

static double timeval_to_double(const bsd::timeval &tv) {
    return static_cast<double>(tv.tv_usec) / 1000000.0 + static_cast<double>(tv.tv_sec);
}

// Page counts are kernel data: the product wraps like the kernel's own
// arithmetic instead of overflowing.
static long pages_to_bytes(bsd::segsz_t pages, long pagesize) {
    return static_cast<long>(static_cast<unsigned long>(pages) *
                             static_cast<unsigned long>(pagesize));
}

// Copies ki_comm, bounded by the field even when the kernel left no NUL.
static void copy_comm(char *buf, std::size_t size, const bsd::kinfo_proc &kp) {
    str_format(buf, size, "%.*s", static_cast<int>(sizeof(kp.ki_comm)), kp.ki_comm);
}

extern "C" PyObject *quarn_proc_oneshot_info(PyObject *, PyObject *args) {
    long pagesize = quarn_getpagesize();
    int pid;
    if (!PyArg_ParseTuple(args, "i", &pid))
        return nullptr;
    bsd::kinfo_proc kp{};  // a short answer leaves the rest zero
    if (quarn_kinfo_proc(pid, &kp) == -1)
        return nullptr;

    char name[256];
    copy_comm(name, sizeof(name), kp);
    PyObject *py_name = PyUnicode_DecodeFSDefault(name);
    if (py_name == nullptr) {
        PyErr_Clear();
        py_name = Py_NewRef(Py_None);
    }
    PyObject *py_ppid = PyLong_FromLong(kp.ki_ppid);
    if (py_ppid == nullptr) {
        Py_DECREF(py_name);
        return nullptr;
    }
    int cpu = (kp.ki_stat == SRUN && kp.ki_oncpu != NOCPU) ? kp.ki_oncpu : kp.ki_lastcpu;

    PyObject *ret = Py_BuildValue(
        "(OillllllLdllllddddlllllbO)",
        py_ppid,
        static_cast<int>(kp.ki_stat),
        static_cast<long>(kp.ki_ruid),
        static_cast<long>(kp.ki_uid),
        static_cast<long>(kp.ki_svuid),
        static_cast<long>(kp.ki_rgid),
        static_cast<long>(kp.ki_groups[0]),
        static_cast<long>(kp.ki_svgid),
        static_cast<long long>(kp.ki_tdev),
        timeval_to_double(kp.ki_start),
        kp.ki_rusage.ru_nvcsw,
        kp.ki_rusage.ru_nivcsw,
        kp.ki_rusage.ru_inblock,
        kp.ki_rusage.ru_oublock,
        timeval_to_double(kp.ki_rusage.ru_utime),
        timeval_to_double(kp.ki_rusage.ru_stime),
        timeval_to_double(kp.ki_rusage_ch.ru_utime),
        timeval_to_double(kp.ki_rusage_ch.ru_stime),
        pages_to_bytes(kp.ki_rssize, pagesize),
        static_cast<long>(kp.ki_size),
        pages_to_bytes(kp.ki_tsize, pagesize),
        pages_to_bytes(kp.ki_dsize, pagesize),
        pages_to_bytes(kp.ki_ssize, pagesize),
        cpu,
        py_name);
    Py_DECREF(py_ppid);
    Py_DECREF(py_name);
    return ret;
}

extern "C" PyObject *quarn_proc_name(PyObject *, PyObject *args) {
    int pid;
    if (!PyArg_ParseTuple(args, "i", &pid))
        return nullptr;
    bsd::kinfo_proc kp{};  // a short answer leaves the rest zero
    if (quarn_kinfo_proc(pid, &kp) == -1)
        return nullptr;
    char name[1000];
    copy_comm(name, sizeof(name), kp);
    return PyUnicode_DecodeFSDefault(name);
}

extern "C" PyObject *quarn_proc_num_threads(PyObject *, PyObject *args) {
    int pid;
    if (!PyArg_ParseTuple(args, "i", &pid))
        return nullptr;
    bsd::kinfo_proc kp{};  // a short answer leaves the rest zero
    if (quarn_kinfo_proc(pid, &kp) == -1)
        return nullptr;
    return Py_BuildValue("l", static_cast<long>(kp.ki_numthreads));
}
