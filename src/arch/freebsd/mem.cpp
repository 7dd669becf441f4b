#include "arch/freebsd/mem.h"

#include <cerrno>
#include <cstdint>

#include "arch/all/convert.h"
#include "arch/all/errors.h"
#include "arch/all/str.h"
#include "arch/posix/sysctl.h"
#include "bsd.h"

namespace {

// The arena index that the allocator reads as "every arena".
constexpr unsigned int arenas_all = 4096;

// mallctl reports failure through its result and leaves errno alone.
PyObject *mallctl_error(int ret, const char *what) {
    errno = ret;
    return quarn_oserror_wsyscall(what);
}

}  // namespace

extern "C" PyObject *quarn_virtual_mem(PyObject *, PyObject *) {
    long pagesize = quarn_getpagesize();
    // Zeroed: a shorter answer is accepted and must not leave garbage.
    unsigned long total = 0;
    unsigned int active = 0, inactive = 0, wired = 0, cached = 0, free_count = 0;
    long buffers = 0;
    bsd::vmtotal vm = {};
    int mib[2] = {CTL_VM, VM_METER};

    if (quarn_sysctlbyname("hw.physmem", &total, sizeof(total)) == -1)
        return nullptr;
    if (quarn_sysctlbyname("vm.stats.vm.v_active_count", &active, sizeof(active)) == -1)
        return nullptr;
    if (quarn_sysctlbyname("vm.stats.vm.v_inactive_count", &inactive, sizeof(inactive)) == -1)
        return nullptr;
    if (quarn_sysctlbyname("vm.stats.vm.v_wire_count", &wired, sizeof(wired)) == -1)
        return nullptr;
    // Gone from current kernels: no cache queue is reported as an empty one.
    if (quarn_sysctlbyname("vm.stats.vm.v_cache_count", &cached, sizeof(cached)) == -1) {
        PyErr_Clear();
        cached = 0;
    }
    if (quarn_sysctlbyname("vm.stats.vm.v_free_count", &free_count, sizeof(free_count)) == -1)
        return nullptr;
    if (quarn_sysctlbyname("vfs.bufspace", &buffers, sizeof(buffers)) == -1)
        return nullptr;
    if (quarn_sysctl(mib, 2, &vm, sizeof(vm)) == -1) {
        // A size mismatch failed no call: its RuntimeError stands, where
        // errno would be whatever an earlier read left.
        if (!quarn_sysctl_call_failed())
            return nullptr;
        int err = errno;
        PyErr_Clear();  // replaced, not raised over
        errno = err;
        return quarn_oserror_wsyscall("sysctl(CTL_VM | VM_METER)");
    }

    return Py_BuildValue("KKKKKKKK",
                         static_cast<unsigned long long>(total),
                         static_cast<unsigned long long>(pages2bytes(free_count, pagesize)),
                         static_cast<unsigned long long>(pages2bytes(active, pagesize)),
                         static_cast<unsigned long long>(pages2bytes(inactive, pagesize)),
                         static_cast<unsigned long long>(pages2bytes(wired, pagesize)),
                         static_cast<unsigned long long>(pages2bytes(cached, pagesize)),
                         static_cast<unsigned long long>(buffers),
                         static_cast<unsigned long long>(
                             pages2bytes(vm.t_vmshr + vm.t_rmshr, pagesize)));
}

extern "C" PyObject *quarn_swap_mem(PyObject *, PyObject *) {
    long pagesize = quarn_getpagesize();
    bsd::kvm_t *kd = bsd::kvm_open(nullptr, "/dev/null", nullptr, O_RDONLY, "kvm_open failed");
    if (kd == nullptr)
        return quarn_runtime_error("kvm_open() syscall failed");

    // Asked for one entry, the library fills in the totals of all devices.
    bsd::kvm_swap kvmsw[1] = {};
    int ndev = bsd::kvm_getswapinfo(kd, kvmsw, 1, 0);
    bsd::kvm_close(kd);
    if (ndev < 0)
        return quarn_runtime_error("kvm_getswapinfo() syscall failed");

    unsigned int swapin = 0, swapout = 0, nodein = 0, nodeout = 0;
    if (quarn_sysctlbyname("vm.stats.vm.v_swapin", &swapin, sizeof(swapin)) == -1)
        return nullptr;
    if (quarn_sysctlbyname("vm.stats.vm.v_swapout", &swapout, sizeof(swapout)) == -1)
        return nullptr;
    if (quarn_sysctlbyname("vm.stats.vm.v_vnodein", &nodein, sizeof(nodein)) == -1)
        return nullptr;
    if (quarn_sysctlbyname("vm.stats.vm.v_vnodeout", &nodeout, sizeof(nodeout)) == -1)
        return nullptr;

    std::uint64_t total = pages2bytes(kvmsw[0].ksw_total, pagesize);
    std::uint64_t used = pages2bytes(kvmsw[0].ksw_used, pagesize);
    // A full device can report more in use than its usable size; free swap
    // is then none, not a wrapped-around figure.
    std::uint64_t free_bytes = used < total ? total - used : 0;
    // The pager sums wrap as the kernel's 32-bit counters do.
    unsigned int swap_ops = swapin + swapout;
    unsigned int vnode_ops = nodein + nodeout;
    return Py_BuildValue("(KKKII)",
                         static_cast<unsigned long long>(total),
                         static_cast<unsigned long long>(used),
                         static_cast<unsigned long long>(free_bytes),
                         swap_ops, vnode_ops);
}

extern "C" PyObject *quarn_heap_info(PyObject *, PyObject *) {
    std::uint64_t epoch = 1;
    std::uint64_t allocated = 0, mapped = 0;
    std::size_t len;
    int ret;

    ret = bsd::mallctl("thread.tcache.flush", nullptr, nullptr, nullptr, 0);
    if (ret != 0)
        return mallctl_error(ret, "mallctl('thread.tcache.flush')");

    len = sizeof(epoch);
    ret = bsd::mallctl("epoch", &epoch, &len, nullptr, 0);
    if (ret != 0)
        return mallctl_error(ret, "mallctl('epoch')");
    // Writing the epoch back refreshes the statistics snapshot.
    ret = bsd::mallctl("epoch", nullptr, nullptr, &epoch, len);
    if (ret != 0)
        return mallctl_error(ret, "mallctl('epoch') update");

    len = sizeof(allocated);
    ret = bsd::mallctl("stats.allocated", &allocated, &len, nullptr, 0);
    if (ret != 0)
        return mallctl_error(ret, "mallctl('stats.allocated')");
    len = sizeof(mapped);
    ret = bsd::mallctl("stats.mapped", &mapped, &len, nullptr, 0);
    if (ret != 0)
        return mallctl_error(ret, "mallctl('stats.mapped')");

    return Py_BuildValue("KK", static_cast<unsigned long long>(allocated),
                         static_cast<unsigned long long>(mapped));
}

extern "C" PyObject *quarn_heap_trim(PyObject *, PyObject *) {
    char name[32];
    str_format(name, sizeof(name), "arena.%u.purge", arenas_all);
    int ret = bsd::mallctl(name, nullptr, nullptr, nullptr, 0);
    if (ret != 0) {
        errno = ret;
        return quarn_oserror();
    }
    Py_RETURN_NONE;
}
