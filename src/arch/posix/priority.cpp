// A process's scheduling priority (nice value), read and changed.
#include "arch/posix/priority.h"

#include <cerrno>

#include "arch/all/errors.h"
#include "bsd.h"

extern "C" PyObject *quarn_proc_priority_get(PyObject *, PyObject *args) {
    // -1 is a valid priority: only errno tells a failure.
    errno = 0;
    int pid;
    if (!PyArg_ParseTuple(args, "i", &pid))
        return nullptr;
    int priority = bsd::getpriority(PRIO_PROCESS, pid);
    if (errno != 0)
        return quarn_oserror();
    return Py_BuildValue("i", priority);
}

extern "C" PyObject *quarn_proc_priority_set(PyObject *, PyObject *args) {
    int pid, priority;
    if (!PyArg_ParseTuple(args, "ii", &pid, &priority))
        return nullptr;
    if (bsd::setpriority(PRIO_PROCESS, pid, priority) == -1)
        return quarn_oserror();
    Py_RETURN_NONE;
}
