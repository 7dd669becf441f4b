// FreeBSD amd64's kvm.h, as the stand-in provides it: the kernel memory
// interface: swap totals, the handle and the calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_types.h"
#include "standin/records/sys_user.h"

namespace bsd {

// Swap totals of the kernel memory interface.
struct kvm_swap {
    char ksw_devname[32];
    u_int ksw_used;
    u_int ksw_total;
    int ksw_flags;
    u_int ksw_reserved1;
    u_int ksw_reserved2;
};
static_assert(sizeof(kvm_swap) == 52);
static_assert(offsetof(kvm_swap, ksw_used) == 32);
static_assert(offsetof(kvm_swap, ksw_total) == 36);

struct kvm_t;

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
