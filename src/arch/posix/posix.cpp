#include "arch/posix/posix.h"

#include <cerrno>

#include "arch/all/constants.h"
#include "arch/all/errors.h"
#include "arch/all/globals.h"
#include "arch/posix/priority.h"
#include "arch/posix/net.h"
#include "arch/posix/sysctl.h"
#include "arch/posix/users.h"
#include "bsd.h"

// Added in this order; the resource numbers are FreeBSD's, not the host's.
static const quarn_constant posix_constants[] = {
    QUARN_CONSTANT(AF_LINK),
    QUARN_CONSTANT(RLIMIT_AS),
    QUARN_CONSTANT(RLIMIT_CORE),
    QUARN_CONSTANT(RLIMIT_CPU),
    QUARN_CONSTANT(RLIMIT_DATA),
    QUARN_CONSTANT(RLIMIT_FSIZE),
    QUARN_CONSTANT(RLIMIT_MEMLOCK),
    QUARN_CONSTANT(RLIMIT_NOFILE),
    QUARN_CONSTANT(RLIMIT_NPROC),
    QUARN_CONSTANT(RLIMIT_RSS),
    QUARN_CONSTANT(RLIMIT_STACK),
    QUARN_CONSTANT(RLIMIT_SWAP),
    QUARN_CONSTANT(RLIMIT_SBSIZE),
    QUARN_CONSTANT(RLIMIT_NPTS),
};

static PyMethodDef posix_methods[] = {
    {"getpagesize", quarn_getpagesize_pywrapper, METH_VARARGS, nullptr},
    {"net_if_addrs", quarn_net_if_addrs, METH_VARARGS, nullptr},
    {"net_if_flags", quarn_net_if_flags, METH_VARARGS, nullptr},
    {"net_if_is_running", quarn_net_if_is_running, METH_VARARGS, nullptr},
    {"net_if_mtu", quarn_net_if_mtu, METH_VARARGS, nullptr},
    {"proc_priority_get", quarn_proc_priority_get, METH_VARARGS, nullptr},
    {"proc_priority_set", quarn_proc_priority_set, METH_VARARGS, nullptr},
    {"net_if_duplex_speed", quarn_net_if_duplex_speed, METH_VARARGS, nullptr},
    {"users", quarn_users, METH_VARARGS, nullptr},
    {"proc_is_zombie", quarn_proc_is_zombie, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

extern "C" int quarn_posix_add_constants(PyObject *mod) {
    if (mod == nullptr)
        return -1;
    if (quarn_add_constants(mod, posix_constants) != 0)
        return -1;
    PyObject *infinity = PyLong_FromLong(static_cast<long>(RLIM_INFINITY));
    if (infinity == nullptr)
        return -1;
    if (PyModule_AddObject(mod, "RLIM_INFINITY", infinity)) {
        Py_DECREF(infinity);
        return -1;
    }
    return 0;
}

extern "C" int quarn_posix_add_methods(PyObject *mod) {
    for (PyMethodDef *def = posix_methods; def->ml_name != nullptr; def++) {
        PyObject *func = PyCMethod_New(def, nullptr, mod, nullptr);
        if (func == nullptr)
            return -1;
        if (PyModule_AddObject(mod, def->ml_name, func)) {
            Py_DECREF(func);
            return -1;
        }
    }
    ZombieProcessError = PyErr_NewException("_quarn_posix.ZombieProcessError", nullptr, nullptr);
    if (ZombieProcessError == nullptr)
        return -1;
    // The module gets a reference of its own; the global keeps the first.
    Py_INCREF(ZombieProcessError);
    if (PyModule_AddObject(mod, "ZombieProcessError", ZombieProcessError)) {
        Py_DECREF(ZombieProcessError);
        return -1;
    }
    return 0;
}

extern "C" int quarn_pid_exists(int pid) {
    if (pid <= 0)
        return 0;
    if (bsd::kill(pid, 0) == 0)
        return 1;
    if (errno == ESRCH)
        return 0;
    if (errno == EPERM)
        return 1;
    return -1;
}

extern "C" PyObject *quarn_raise_for_pid(int pid, const char *what) {
    if (errno != 0)
        quarn_oserror_wsyscall(what);
    else if (quarn_pid_exists(pid) == 0)
        quarn_oserror_nsp(what);
    else if (is_zombie(pid))
        PyErr_SetString(ZombieProcessError, "");
    else
        quarn_runtime_error("%s syscall failed", what);
    return nullptr;
}
