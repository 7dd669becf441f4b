#include "arch/freebsd/proc.h"

#include <cerrno>
#include <cstdlib>

#include "arch/all/convert.h"
#include "arch/all/errors.h"
#include "arch/all/owners.h"
#include "arch/posix/posix.h"
#include "arch/posix/sysctl.h"

extern "C" int quarn_kinfo_proc(int pid, bsd::kinfo_proc *proc) {
    if (pid < 0 || proc == nullptr)
        return quarn_badargs("quarn_kinfo_proc");
    int mib[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
    std::size_t size = sizeof(bsd::kinfo_proc);
    if (bsd::sysctl(mib, 4, proc, &size, nullptr, 0) == -1) {
        quarn_oserror_wsyscall("sysctl(kinfo_proc)");
        return -1;
    }
    if (size == 0) {
        quarn_oserror_nsp("sysctl(kinfo_proc), size = 0");
        return -1;
    }
    return 0;
}

extern "C" int is_zombie(int pid) {
    bsd::kinfo_proc kp{};  // a short answer leaves the rest zero
    if (quarn_kinfo_proc(pid, &kp) == -1) {
        PyErr_Clear();
        errno = 0;
        return 0;
    }
    return kp.ki_stat == SZOMB;
}

extern "C" int _quarn_pids(int **pids, int *count) {
    *pids = nullptr;
    *count = 0;
    int mib[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PROC, 0};
    char *raw = nullptr;
    std::size_t len = 0;
    if (quarn_sysctl_malloc(mib, 4, &raw, &len) == -1)
        return -1;
    heap<char> buf(raw);
    if (len == 0) {
        quarn_runtime_error("no PIDs found");
        return -1;
    }
    // A partial record at the end is ignored.
    std::size_t n = len / sizeof(bsd::kinfo_proc);
    int *ids = static_cast<int *>(std::malloc(n ? n * sizeof(int) : 1));
    if (ids == nullptr) {
        PyErr_NoMemory();
        return -1;
    }
    const auto *procs = reinterpret_cast<const bsd::kinfo_proc *>(buf.get());
    for (std::size_t i = 0; i < n; i++)
        ids[i] = procs[i].ki_pid;
    *pids = ids;
    *count = static_cast<int>(n);
    return 0;
}

extern "C" PyObject *quarn_pids(PyObject *, PyObject *) {
    py_ref list(PyList_New(0));
    if (!list)
        return nullptr;
    int *raw = nullptr;
    int count = 0;
    if (_quarn_pids(&raw, &count) == -1)
        return nullptr;
    heap<int> ids(raw);
    if (count == 0)
        return quarn_runtime_error("no PIDs found");
    for (int i = 0; i < count; i++) {
        if (append_new(list.get(), PyLong_FromLong(ids[i])) == -1)
            return nullptr;
    }
    return list.release();
}

extern "C" PyObject *quarn_proc_is_zombie(PyObject *, PyObject *args) {
    int pid;
    if (!PyArg_ParseTuple(args, "i", &pid))
        return nullptr;
    if (is_zombie(pid))
        Py_RETURN_TRUE;
    Py_RETURN_FALSE;
}
