// Per-process figures read from the one-process record.
#include "arch/freebsd/proc_info.h"

#include "arch/all/convert.h"
#include "arch/all/owners.h"
#include "arch/freebsd/proc.h"
#include "arch/posix/sysctl.h"

namespace {

// The record of the process the "i" argument names: 0, or -1 with the
// exception set.
int fetch_record(PyObject *args, bsd::kinfo_proc *kp) {
    int pid;
    if (!PyArg_ParseTuple(args, "i", &pid))
        return -1;
    return quarn_kinfo_proc(pid, kp);
}

}  // namespace

extern "C" PyObject *quarn_proc_oneshot_info(PyObject *, PyObject *args) {
    long pagesize = quarn_getpagesize();
    bsd::kinfo_proc kp{};  // a short answer leaves the rest zero
    if (fetch_record(args, &kp) == -1)
        return nullptr;

    py_ref name(field2py(kp.ki_comm, sizeof(kp.ki_comm)));
    if (!name) {
        PyErr_Clear();
        name.reset(Py_NewRef(Py_None));
    }
    py_ref ppid(PyLong_FromLong(kp.ki_ppid));
    if (!ppid)
        return nullptr;
    int cpu = (kp.ki_stat == SRUN && kp.ki_oncpu != NOCPU) ? kp.ki_oncpu : kp.ki_lastcpu;

    return Py_BuildValue(
        "(OillllllLdllllddddlllllbO)",
        ppid.get(),
        static_cast<int>(kp.ki_stat),
        static_cast<long>(kp.ki_ruid),
        static_cast<long>(kp.ki_uid),
        static_cast<long>(kp.ki_svuid),
        static_cast<long>(kp.ki_rgid),
        static_cast<long>(kp.ki_groups[0]),
        static_cast<long>(kp.ki_svgid),
        static_cast<long long>(kp.ki_tdev),
        timeval2double(kp.ki_start),
        kp.ki_rusage.ru_nvcsw,
        kp.ki_rusage.ru_nivcsw,
        kp.ki_rusage.ru_inblock,
        kp.ki_rusage.ru_oublock,
        timeval2double(kp.ki_rusage.ru_utime),
        timeval2double(kp.ki_rusage.ru_stime),
        timeval2double(kp.ki_rusage_ch.ru_utime),
        timeval2double(kp.ki_rusage_ch.ru_stime),
        static_cast<long>(pages2bytes(kp.ki_rssize, pagesize)),
        static_cast<long>(kp.ki_size),
        static_cast<long>(pages2bytes(kp.ki_tsize, pagesize)),
        static_cast<long>(pages2bytes(kp.ki_dsize, pagesize)),
        static_cast<long>(pages2bytes(kp.ki_ssize, pagesize)),
        cpu,
        name.get());
}

extern "C" PyObject *quarn_proc_name(PyObject *, PyObject *args) {
    bsd::kinfo_proc kp{};  // a short answer leaves the rest zero
    if (fetch_record(args, &kp) == -1)
        return nullptr;
    return field2py(kp.ki_comm, sizeof(kp.ki_comm));
}

extern "C" PyObject *quarn_proc_num_threads(PyObject *, PyObject *args) {
    bsd::kinfo_proc kp{};  // a short answer leaves the rest zero
    if (fetch_record(args, &kp) == -1)
        return nullptr;
    return Py_BuildValue("l", static_cast<long>(kp.ki_numthreads));
}
