#include "arch/freebsd/proc_files.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "arch/all/convert.h"
#include "arch/all/errors.h"
#include "arch/all/owners.h"
#include "arch/all/str.h"
#include "arch/freebsd/proc.h"
#include "arch/posix/posix.h"
#include "arch/posix/sysctl.h"
#include "bsd.h"

namespace {

// The process record serves only as an existence check.
bool fetch_record(int pid) {
    bsd::kinfo_proc kp{};
    return quarn_kinfo_proc(pid, &kp) == 0;
}

// The open-file table of the process the "i" argument names; null with an
// exception pending when it cannot be read.
bsd::kinfo_file *fetch_files(PyObject *args, int *count) {
    int pid;
    if (!PyArg_ParseTuple(args, "i", &pid) || !fetch_record(pid))
        return nullptr;
    errno = 0;
    bsd::kinfo_file *files = bsd::kinfo_getfile(pid, count);
    if (files == nullptr)
        quarn_raise_for_pid(pid, "kinfo_getfile()");
    return files;
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

PyObject *open_file2py(const bsd::kinfo_file &kf) {
    py_ref path(field2py(kf.kf_path, sizeof(kf.kf_path)));
    if (!path)
        return nullptr;
    return Py_BuildValue("(Oi)", path.get(), kf.kf_fd);
}

PyObject *vmentry2py(const bsd::kinfo_vmentry &kve) {
    char addr[1000];
    char perms[4];
    range_text(addr, sizeof(addr), kve.kve_start, kve.kve_end);
    perm_text(perms, sizeof(perms), kve.kve_protection);
    py_ref path(kve.kve_path[0] != '\0' ? field2py(kve.kve_path, sizeof(kve.kve_path))
                                         : PyUnicode_DecodeFSDefault(kind_text(kve.kve_type)));
    if (!path)
        return nullptr;
    return Py_BuildValue("ssOiiii", addr, perms, path.get(), kve.kve_resident,
                         kve.kve_private_resident, kve.kve_ref_count, kve.kve_shadow_count);
}

}  // namespace

extern "C" PyObject *quarn_proc_open_files(PyObject *, PyObject *args) {
    py_ref list(PyList_New(0));
    if (!list)
        return nullptr;
    int count = 0;
    heap<bsd::kinfo_file> files(fetch_files(args, &count));
    if (files.get() == nullptr)
        return nullptr;
    for (int i = 0; i < count; i++) {
        const bsd::kinfo_file &kf = files[i];
        if (kf.kf_type != KF_TYPE_VNODE || kf.kf_vnode_type != KF_VTYPE_VREG)
            continue;
        if (append_new(list.get(), open_file2py(kf)) == -1)
            return nullptr;
    }
    return list.release();
}

extern "C" PyObject *quarn_proc_num_fds(PyObject *, PyObject *args) {
    int count = 0;
    heap<bsd::kinfo_file> files(fetch_files(args, &count));
    if (files.get() == nullptr)
        return nullptr;
    // A count of 0 or less is an empty table, not a negative number of files.
    return Py_BuildValue("i", count > 0 ? count : 0);
}

extern "C" PyObject *quarn_proc_threads(PyObject *, PyObject *args) {
    py_ref list(PyList_New(0));
    if (!list)
        return nullptr;
    int pid;
    if (!PyArg_ParseTuple(args, "i", &pid))
        return nullptr;
    int mib[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PID | KERN_PROC_INC_THREAD, pid};
    char *raw = nullptr;
    std::size_t len = 0;
    if (quarn_sysctl_malloc(mib, 4, &raw, &len) == -1)
        return nullptr;
    heap<char> buf(raw);
    if (len == 0)
        return quarn_oserror_nsp("sysctl (size = 0)");
    // A partial record at the end is ignored.
    std::size_t n = len / sizeof(bsd::kinfo_proc);
    const auto *threads = reinterpret_cast<const bsd::kinfo_proc *>(buf.get());
    for (std::size_t i = 0; i < n; i++) {
        const bsd::kinfo_proc &kp = threads[i];
        PyObject *item = Py_BuildValue("Idd", static_cast<unsigned int>(kp.ki_tid),
                                       timeval2double(kp.ki_rusage.ru_utime),
                                       timeval2double(kp.ki_rusage.ru_stime));
        if (append_new(list.get(), item) == -1)
            return nullptr;
    }
    return list.release();
}

extern "C" PyObject *quarn_proc_memory_maps(PyObject *, PyObject *args) {
    py_ref list(PyList_New(0));
    if (!list)
        return nullptr;
    int pid;
    int count = 0;
    if (!PyArg_ParseTuple(args, "i", &pid) || !fetch_record(pid))
        return nullptr;
    errno = 0;
    heap<bsd::kinfo_vmentry> map(bsd::kinfo_getvmmap(pid, &count));
    if (map.get() == nullptr)
        return quarn_raise_for_pid(pid, "kinfo_getvmmap()");
    for (int i = 0; i < count; i++) {
        if (append_new(list.get(), vmentry2py(map[i])) == -1)
            return nullptr;
    }
    return list.release();
}
