// FreeBSD amd64 kernel memory interface (kvm.h), as the stand-in provides
// it: the swap totals, the handle and the calls.
//
// _POSIX2_LINE_MAX, the size of kvm_openfiles' error buffer, is a value here
// since the host's limits.h has the macro; module code gets it from
// freebsd_clash.h.
#pragma once

#include <cstddef>
#include <cstdint>

// Included by freebsd.h, after kinfo_proc.
namespace bsd {

// Swap totals of the kernel memory interface.
struct kvm_swap {
    char ksw_devname[32];
    u_int ksw_used;
    u_int ksw_total;
    int ksw_flags;
    int ksw_reserved1;
    int ksw_reserved2;
};
static_assert(sizeof(kvm_swap) == 52);
static_assert(offsetof(kvm_swap, ksw_used) == 32);
static_assert(offsetof(kvm_swap, ksw_total) == 36);

struct kvm_t;

inline constexpr int posix2_line_max = 2048;

kvm_t *kvm_open(const char *execfile, const char *corefile, const char *swapfile, int flags,
                const char *errstr);
kvm_t *kvm_openfiles(const char *execfile, const char *corefile, const char *swapfile, int flags,
                     char *errbuf);
kinfo_proc *kvm_getprocs(kvm_t *kd, int op, int arg, int *cnt);
char **kvm_getenvv(kvm_t *kd, const kinfo_proc *p, int nchr);
char *kvm_geterr(kvm_t *kd);
int kvm_getswapinfo(kvm_t *kd, kvm_swap *swap_ary, int swap_max, int flags);
int kvm_close(kvm_t *kd);

}  // namespace bsd
