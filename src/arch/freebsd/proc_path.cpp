// A process's executable, arguments, environment and working directory.
#include "arch/freebsd/proc_path.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "arch/all/errors.h"
#include "arch/all/str.h"
#include "arch/freebsd/proc.h"
#include "arch/posix/posix.h"
#include "arch/posix/sysctl.h"
#include "bsd.h"

// Decodes at most size bytes of a kernel string, up to its first NUL: the
// kernel's text need not be terminated within what it returned.
static PyObject *decode_bounded(const char *text, std::size_t size) {
    return PyUnicode_DecodeFSDefaultAndSize(text, static_cast<Py_ssize_t>(strnlen(text, size)));
}

extern "C" PyObject *quarn_proc_exe(PyObject *, PyObject *args) {
    int pid;
    if (!PyArg_ParseTuple(args, "i", &pid))
        return nullptr;
    int mib[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PATHNAME, pid};
    char pathname[PATH_MAX] = {};
    std::size_t size = sizeof(pathname);
    if (bsd::sysctl(mib, 4, pathname, &size, nullptr, 0) == -1) {
        if (errno == ENOENT)
            return PyUnicode_DecodeFSDefault("");  // the kernel cannot name it
        return quarn_oserror_wsyscall("sysctl(KERN_PROC_PATHNAME)");
    }
    if (size == 0 || pathname[0] == '\0') {
        int exists = quarn_pid_exists(pid);
        if (exists == 0)
            return quarn_oserror_nsp("quarn_pid_exists -> 0");
        if (exists == -1)
            return quarn_oserror();
        str_copy(pathname, sizeof(pathname), "");
    }
    return decode_bounded(pathname, size < sizeof(pathname) ? size : sizeof(pathname));
}

extern "C" PyObject *quarn_proc_cmdline(PyObject *, PyObject *args) {
    PyObject *list = PyList_New(0);
    if (list == nullptr)
        return nullptr;
    int pid;
    if (!PyArg_ParseTuple(args, "i", &pid)) {
        Py_DECREF(list);
        return nullptr;
    }
    int mib[4] = {CTL_KERN, KERN_PROC, KERN_PROC_ARGS, pid};
    char *argstr = nullptr;
    std::size_t size = 0;
    if (quarn_sysctl_malloc(mib, 4, &argstr, &size) == -1) {
        Py_DECREF(list);
        return nullptr;
    }
    // Each string ends at its NUL; a last one without it ends with the answer.
    std::size_t pos = 0;
    while (pos < size) {
        std::size_t len = strnlen(argstr + pos, size - pos);
        PyObject *arg = PyUnicode_DecodeFSDefaultAndSize(argstr + pos, static_cast<Py_ssize_t>(len));
        if (arg == nullptr || PyList_Append(list, arg) == -1) {
            Py_XDECREF(arg);
            Py_DECREF(list);
            std::free(argstr);
            return nullptr;
        }
        Py_DECREF(arg);
        pos += len + 1;
    }
    std::free(argstr);
    return list;
}

namespace {

// The open kernel memory interface, closed on every way out.
struct kvm_handle {
    bsd::kvm_t *kd;
    explicit kvm_handle(bsd::kvm_t *k) : kd(k) {}
    ~kvm_handle() { bsd::kvm_close(kd); }
    kvm_handle(const kvm_handle &) = delete;
    kvm_handle &operator=(const kvm_handle &) = delete;
};

// Raises for a null kvm_getenvv by its errno; 0 means an empty environment
// and raises nothing. Returns whether an exception is pending.
bool raise_for_getenvv(long pid, const bsd::kinfo_proc &kp, char *errbuf, std::size_t size) {
    switch (errno) {
    case 0:
        return false;
    case EPERM:
        quarn_oserror_ad("kvm_getenvv -> EPERM");
        return true;
    case ESRCH:
        quarn_oserror_nsp("kvm_getenvv -> ESRCH");
        return true;
    case ENOMEM:
        str_format(errbuf, size, "kvm_getenvv(pid=%ld, ki_uid=%d) -> ENOMEM", pid,
                   static_cast<int>(kp.ki_uid));
        quarn_oserror_ad(errbuf);
        return true;
    default:
        str_format(errbuf, size, "kvm_getenvv(pid=%ld)", pid);
        quarn_oserror_wsyscall(errbuf);
        return true;
    }
}

// Fills dict from NAME=value strings; the names are cut at their "=" in
// place, in the array the handle owns.
int fill_environ(PyObject *dict, char **envs) {
    for (std::size_t i = 0; envs[i] != nullptr; i++) {
        char *eq = std::strchr(envs[i], '=');
        if (eq == nullptr)
            continue;
        *eq = '\0';
        PyObject *value = PyUnicode_DecodeFSDefault(eq + 1);
        if (value == nullptr)
            return -1;
        int rc = PyDict_SetItemString(dict, envs[i], value);
        Py_DECREF(value);
        if (rc == -1)
            return -1;
    }
    return 0;
}

}  // namespace

extern "C" PyObject *quarn_proc_environ(PyObject *, PyObject *args) {
    long pid;
    if (!PyArg_ParseTuple(args, "l", &pid))
        return nullptr;
    // A process ID is an int: a wider one is refused as "i" refuses it,
    // before it could be cut to another process's ID.
    if (pid > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "signed integer is greater than maximum");
        return nullptr;
    }
    if (pid < INT_MIN) {
        PyErr_SetString(PyExc_OverflowError, "signed integer is less than minimum");
        return nullptr;
    }
    char errbuf[_POSIX2_LINE_MAX];
    errbuf[0] = '\0';
    bsd::kvm_t *kd = bsd::kvm_openfiles(nullptr, "/dev/null", nullptr, O_RDONLY, errbuf);
    if (kd == nullptr) {
        errbuf[sizeof(errbuf) - 1] = '\0';
        convert_kvm_err("kvm_openfiles", errbuf);
        return nullptr;
    }
    kvm_handle handle(kd);
    PyObject *dict = PyDict_New();
    if (dict == nullptr)
        return nullptr;

    int cnt = 0;
    bsd::kinfo_proc *p = bsd::kvm_getprocs(kd, KERN_PROC_PID, static_cast<int>(pid), &cnt);
    if (p == nullptr || cnt <= 0) {
        if (p == nullptr) {
            quarn_oserror_nsp("kvm_getprocs");
        } else if (cnt < 0) {
            const char *err = bsd::kvm_geterr(kd);
            quarn_oserror_nsp(err != nullptr ? err : "");
        } else {
            quarn_oserror_nsp("kvm_getprocs: cnt==0");
        }
        Py_DECREF(dict);
        return nullptr;
    }
    // A swapped-out or system process has no environment to read.
    if ((p->ki_flag & (P_INMEM | P_SYSTEM)) != P_INMEM)
        return dict;

    // The library may fail without an errno: 0 then means no environment.
    errno = 0;
    char **envs = bsd::kvm_getenvv(kd, p, 0);
    if (envs == nullptr) {
        if (raise_for_getenvv(pid, *p, errbuf, sizeof(errbuf))) {
            Py_DECREF(dict);
            return nullptr;
        }
        return dict;
    }
    if (fill_environ(dict, envs) == -1) {
        Py_DECREF(dict);
        return nullptr;
    }
    return dict;
}

extern "C" PyObject *quarn_proc_cwd(PyObject *, PyObject *args) {
    int pid;
    if (!PyArg_ParseTuple(args, "i", &pid))
        return nullptr;
    bsd::kinfo_proc kp;
    if (quarn_kinfo_proc(pid, &kp) == -1)
        return nullptr;
    int cnt = 0;
    errno = 0;
    bsd::kinfo_file *freep = bsd::kinfo_getfile(pid, &cnt);
    if (freep == nullptr)
        return quarn_raise_for_pid(pid, "kinfo_getfile()");
    PyObject *path = nullptr;
    for (int i = 0; i < cnt; i++) {
        if (freep[i].kf_fd == KF_FD_TYPE_CWD) {
            path = decode_bounded(freep[i].kf_path, sizeof(freep[i].kf_path));
            std::free(freep);
            return path;
        }
    }
    std::free(freep);
    return PyUnicode_DecodeFSDefault("");
}
