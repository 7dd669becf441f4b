#include "arch/freebsd/proc_files.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "arch/all/errors.h"
#include "arch/all/str.h"
#include "arch/freebsd/proc.h"
#include "arch/posix/posix.h"
#include "arch/posix/sysctl.h"
#include "bsd.h"

namespace {

// Owns an array from the system utility library or a growing read, so every
// path frees it exactly once.
template <class T> struct heap_array {
    T *ptr = nullptr;
    heap_array() = default;
    explicit heap_array(T *p) : ptr(p) {}
    heap_array(const heap_array &) = delete;
    heap_array &operator=(const heap_array &) = delete;
    ~heap_array() { std::free(ptr); }
};

// The process record serves only as an existence check.
bool fetch_record(int pid) {
    bsd::kinfo_proc kp{};
    return quarn_kinfo_proc(pid, &kp) == 0;
}

// The open-file table; null with an exception pending when it cannot be read.
bsd::kinfo_file *fetch_files(int pid, int *count) {
    if (!fetch_record(pid))
        return nullptr;
    errno = 0;
    bsd::kinfo_file *files = bsd::kinfo_getfile(pid, count);
    if (files == nullptr)
        quarn_raise_for_pid(pid, "kinfo_getfile()");
    return files;
}

// A path field decoded up to its NUL, or to its end when the kernel left none.
PyObject *path2py(const char *field, std::size_t size) {
    return PyUnicode_DecodeFSDefaultAndSize(field,
                                            static_cast<Py_ssize_t>(strnlen(field, size)));
}

double timeval2double(const bsd::timeval &tv) {
    return static_cast<double>(tv.tv_usec) / 1000000.0 + static_cast<double>(tv.tv_sec);
}

const char *kind_text(int type) {
    switch (type) {
    case KVME_TYPE_NONE:
        return "[none]";
    case KVME_TYPE_DEFAULT:
        return "[default]";
    case KVME_TYPE_VNODE:
        return "[vnode]";
    case KVME_TYPE_SWAP:
        return "[swap]";
    case KVME_TYPE_DEVICE:
        return "[device]";
    case KVME_TYPE_PHYS:
        return "[phys]";
    case KVME_TYPE_DEAD:
        return "[dead]";
    case KVME_TYPE_SG:
        return "[sg]";
    case KVME_TYPE_UNKNOWN:
        return "[unknown]";
    default:
        return "[?]";
    }
}

// "0x200000-0x201000": the padded alternate form with its spaces squeezed
// out. The alternate form writes 0 without a prefix.
void range_text(char *buf, std::size_t size, std::uint64_t start, std::uint64_t end) {
    str_format(buf, size, "%#*jx-%#*jx", 16, static_cast<std::uintmax_t>(start), 16,
               static_cast<std::uintmax_t>(end));
    char *out = buf;
    for (const char *in = buf; *in != '\0'; in++) {
        if (*in != ' ')
            *out++ = *in;
    }
    *out = '\0';
}

void perm_text(char *buf, std::size_t size, int prot) {
    buf[0] = '\0';
    str_append(buf, size, (prot & KVME_PROT_READ) ? "r" : "-");
    str_append(buf, size, (prot & KVME_PROT_WRITE) ? "w" : "-");
    str_append(buf, size, (prot & KVME_PROT_EXEC) ? "x" : "-");
}

// Appends item to list and drops the own reference; false on failure.
bool append_new(PyObject *list, PyObject *item) {
    if (item == nullptr)
        return false;
    int failed = PyList_Append(list, item);
    Py_DECREF(item);
    return failed == 0;
}

PyObject *open_file2py(const bsd::kinfo_file &kf) {
    PyObject *path = path2py(kf.kf_path, sizeof(kf.kf_path));
    if (path == nullptr)
        return nullptr;
    PyObject *item = Py_BuildValue("(Oi)", path, kf.kf_fd);
    Py_DECREF(path);
    return item;
}

PyObject *vmentry2py(const bsd::kinfo_vmentry &kve) {
    char addr[1000];
    char perms[4];
    range_text(addr, sizeof(addr), kve.kve_start, kve.kve_end);
    perm_text(perms, sizeof(perms), kve.kve_protection);
    PyObject *path = kve.kve_path[0] != '\0' ? path2py(kve.kve_path, sizeof(kve.kve_path))
                                             : PyUnicode_DecodeFSDefault(kind_text(kve.kve_type));
    if (path == nullptr)
        return nullptr;
    PyObject *item = Py_BuildValue("ssOiiii", addr, perms, path, kve.kve_resident,
                                   kve.kve_private_resident, kve.kve_ref_count,
                                   kve.kve_shadow_count);
    Py_DECREF(path);
    return item;
}

}  // namespace

extern "C" PyObject *quarn_proc_open_files(PyObject *, PyObject *args) {
    PyObject *list = PyList_New(0);
    if (list == nullptr)
        return nullptr;
    int pid;
    int count = 0;
    if (!PyArg_ParseTuple(args, "i", &pid)) {
        Py_DECREF(list);
        return nullptr;
    }
    heap_array<bsd::kinfo_file> files(fetch_files(pid, &count));
    if (files.ptr == nullptr) {
        Py_DECREF(list);
        return nullptr;
    }
    for (int i = 0; i < count; i++) {
        const bsd::kinfo_file &kf = files.ptr[i];
        if (kf.kf_type != KF_TYPE_VNODE || kf.kf_vnode_type != KF_VTYPE_VREG)
            continue;
        if (!append_new(list, open_file2py(kf))) {
            Py_DECREF(list);
            return nullptr;
        }
    }
    return list;
}

extern "C" PyObject *quarn_proc_num_fds(PyObject *, PyObject *args) {
    int pid;
    int count = 0;
    if (!PyArg_ParseTuple(args, "i", &pid))
        return nullptr;
    heap_array<bsd::kinfo_file> files(fetch_files(pid, &count));
    if (files.ptr == nullptr)
        return nullptr;
    // A count of 0 or less is an empty table, not a negative number of files.
    return Py_BuildValue("i", count > 0 ? count : 0);
}

extern "C" PyObject *quarn_proc_threads(PyObject *, PyObject *args) {
    PyObject *list = PyList_New(0);
    if (list == nullptr)
        return nullptr;
    int pid;
    if (!PyArg_ParseTuple(args, "i", &pid)) {
        Py_DECREF(list);
        return nullptr;
    }
    int mib[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PID | KERN_PROC_INC_THREAD, pid};
    char *raw = nullptr;
    std::size_t len = 0;
    if (quarn_sysctl_malloc(mib, 4, &raw, &len) == -1) {
        Py_DECREF(list);
        return nullptr;
    }
    heap_array<char> buf(raw);
    if (len == 0) {
        quarn_oserror_nsp("sysctl (size = 0)");
        Py_DECREF(list);
        return nullptr;
    }
    // A partial record at the end is ignored.
    std::size_t n = len / sizeof(bsd::kinfo_proc);
    const auto *threads = reinterpret_cast<const bsd::kinfo_proc *>(buf.ptr);
    for (std::size_t i = 0; i < n; i++) {
        const bsd::kinfo_proc &kp = threads[i];
        PyObject *item = Py_BuildValue("Idd", static_cast<unsigned int>(kp.ki_tid),
                                       timeval2double(kp.ki_rusage.ru_utime),
                                       timeval2double(kp.ki_rusage.ru_stime));
        if (!append_new(list, item)) {
            Py_DECREF(list);
            return nullptr;
        }
    }
    return list;
}

extern "C" PyObject *quarn_proc_memory_maps(PyObject *, PyObject *args) {
    PyObject *list = PyList_New(0);
    if (list == nullptr)
        return nullptr;
    int pid;
    int count = 0;
    if (!PyArg_ParseTuple(args, "i", &pid) || !fetch_record(pid)) {
        Py_DECREF(list);
        return nullptr;
    }
    errno = 0;
    heap_array<bsd::kinfo_vmentry> map(bsd::kinfo_getvmmap(pid, &count));
    if (map.ptr == nullptr) {
        quarn_raise_for_pid(pid, "kinfo_getvmmap()");
        Py_DECREF(list);
        return nullptr;
    }
    for (int i = 0; i < count; i++) {
        if (!append_new(list, vmentry2py(map.ptr[i]))) {
            Py_DECREF(list);
            return nullptr;
        }
    }
    return list;
}
