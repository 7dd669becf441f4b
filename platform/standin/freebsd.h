// FreeBSD amd64 records, constants and calls, as the stand-in provides them.
//
// Everything lives in namespace bsd so that nothing here can interpose on the
// host C library. Constants that no host header defines are plain macros, as
// on FreeBSD; the few that clash with host headers are in freebsd_clash.h,
// which only module code includes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "freebsd_net.h"
#include "freebsd_files.h"

namespace bsd {

using pid_t = std::int32_t;
using lwpid_t = std::int32_t;
using uid_t = std::uint32_t;
using gid_t = std::uint32_t;
using dev_t = std::uint64_t;
using segsz_t = std::int64_t;
using vm_size_t = std::uint64_t;
using fixpt_t = std::uint32_t;
using u_char = unsigned char;
using u_short = unsigned short;
using u_int = unsigned int;

struct timeval {
    std::int64_t tv_sec;
    std::int64_t tv_usec;
};

struct rusage {
    timeval ru_utime;
    timeval ru_stime;
    long ru_maxrss;
    long ru_ixrss;
    long ru_idrss;
    long ru_isrss;
    long ru_minflt;
    long ru_majflt;
    long ru_nswap;
    long ru_inblock;
    long ru_oublock;
    long ru_msgsnd;
    long ru_msgrcv;
    long ru_nsignals;
    long ru_nvcsw;
    long ru_nivcsw;
};

struct priority {
    u_char pri_class;
    u_char pri_level;
    u_char pri_native;
    u_char pri_user;
};

struct sigset_t {
    std::uint32_t __bits[4];
};

#define KI_NGROUPS 16
#define COMMLEN 19
#define TDNAMLEN 16
#define WMESGLEN 8
#define LOGNAMELEN 17
#define LOCKNAMELEN 8
#define KI_EMULNAMELEN 16
#define LOGINCLASSLEN 17
#define MAXCOMLEN 19
#define KI_NSPARE_INT 2
#define KI_NSPARE_LONG 12
#define KI_NSPARE_PTR 5

struct kinfo_proc {
    int ki_structsize;
    int ki_layout;
    void *ki_args;
    void *ki_paddr;
    void *ki_addr;
    void *ki_tracep;
    void *ki_textvp;
    void *ki_fd;
    void *ki_vmspace;
    const void *ki_wchan;
    pid_t ki_pid;
    pid_t ki_ppid;
    pid_t ki_pgid;
    pid_t ki_tpgid;
    pid_t ki_sid;
    pid_t ki_tsid;
    short ki_jobc;
    short ki_spare_short1;
    std::uint32_t ki_tdev_freebsd11;
    sigset_t ki_siglist;
    sigset_t ki_sigmask;
    sigset_t ki_sigignore;
    sigset_t ki_sigcatch;
    uid_t ki_uid;
    uid_t ki_ruid;
    uid_t ki_svuid;
    gid_t ki_rgid;
    gid_t ki_svgid;
    short ki_ngroups;
    short ki_spare_short2;
    gid_t ki_groups[KI_NGROUPS];
    vm_size_t ki_size;
    segsz_t ki_rssize;
    segsz_t ki_swrss;
    segsz_t ki_tsize;
    segsz_t ki_dsize;
    segsz_t ki_ssize;
    u_short ki_xstat;
    u_short ki_acflag;
    fixpt_t ki_pctcpu;
    u_int ki_estcpu;
    u_int ki_slptime;
    u_int ki_swtime;
    u_int ki_cow;
    std::uint64_t ki_runtime;
    timeval ki_start;
    timeval ki_childtime;
    long ki_flag;
    long ki_kiflag;
    int ki_traceflag;
    char ki_stat;
    signed char ki_nice;
    char ki_lock;
    char ki_rqindex;
    u_char ki_oncpu_old;
    u_char ki_lastcpu_old;
    char ki_tdname[TDNAMLEN + 1];
    char ki_wmesg[WMESGLEN + 1];
    char ki_login[LOGNAMELEN + 1];
    char ki_lockname[LOCKNAMELEN + 1];
    char ki_comm[COMMLEN + 1];
    char ki_emul[KI_EMULNAMELEN + 1];
    char ki_loginclass[LOGINCLASSLEN + 1];
    char ki_moretdname[MAXCOMLEN - TDNAMLEN + 1];
    char ki_sparestrings[46];
    int ki_spareints[KI_NSPARE_INT];
    std::uint64_t ki_tdev;
    int ki_oncpu;
    int ki_lastcpu;
    int ki_tracer;
    int ki_flag2;
    int ki_fibnum;
    u_int ki_cr_flags;
    int ki_jid;
    int ki_numthreads;
    lwpid_t ki_tid;
    priority ki_pri;
    rusage ki_rusage;
    rusage ki_rusage_ch;
    void *ki_pcb;
    void *ki_kstack;
    void *ki_udata;
    void *ki_tdaddr;
    void *ki_pd;
    void *ki_spareptrs[KI_NSPARE_PTR];
    long ki_sparelongs[KI_NSPARE_LONG];
    long ki_sflag;
    long ki_tdflags;
};

static_assert(sizeof(timeval) == 16);
static_assert(sizeof(rusage) == 144);
static_assert(sizeof(kinfo_proc) == 1088);
static_assert(offsetof(kinfo_proc, ki_pid) == 72);
static_assert(offsetof(kinfo_proc, ki_ppid) == 76);
static_assert(offsetof(kinfo_proc, ki_uid) == 168);
static_assert(offsetof(kinfo_proc, ki_ruid) == 172);
static_assert(offsetof(kinfo_proc, ki_svuid) == 176);
static_assert(offsetof(kinfo_proc, ki_rgid) == 180);
static_assert(offsetof(kinfo_proc, ki_svgid) == 184);
static_assert(offsetof(kinfo_proc, ki_groups) == 192);
static_assert(offsetof(kinfo_proc, ki_size) == 256);
static_assert(offsetof(kinfo_proc, ki_rssize) == 264);
static_assert(offsetof(kinfo_proc, ki_tsize) == 280);
static_assert(offsetof(kinfo_proc, ki_dsize) == 288);
static_assert(offsetof(kinfo_proc, ki_ssize) == 296);
static_assert(offsetof(kinfo_proc, ki_start) == 336);
static_assert(offsetof(kinfo_proc, ki_childtime) == 352);
static_assert(offsetof(kinfo_proc, ki_flag) == 368);
static_assert(offsetof(kinfo_proc, ki_stat) == 388);
static_assert(offsetof(kinfo_proc, ki_nice) == 389);
static_assert(offsetof(kinfo_proc, ki_tdname) == 394);
static_assert(offsetof(kinfo_proc, ki_comm) == 447);
static_assert(offsetof(kinfo_proc, ki_tdev) == 560);
static_assert(offsetof(kinfo_proc, ki_oncpu) == 568);
static_assert(offsetof(kinfo_proc, ki_lastcpu) == 572);
static_assert(offsetof(kinfo_proc, ki_numthreads) == 596);
static_assert(offsetof(kinfo_proc, ki_tid) == 600);
static_assert(offsetof(kinfo_proc, ki_pri) == 604);
static_assert(offsetof(kinfo_proc, ki_rusage) == 608);
static_assert(offsetof(kinfo_proc, ki_rusage_ch) == 752);
static_assert(offsetof(kinfo_proc, ki_sflag) == 1072);

// Virtual memory totals of vm.vmtotal.
struct vmtotal {
    std::uint64_t t_vm;
    std::uint64_t t_avm;
    std::uint64_t t_rm;
    std::uint64_t t_arm;
    std::uint64_t t_vmshr;
    std::uint64_t t_avmshr;
    std::uint64_t t_rmshr;
    std::uint64_t t_armshr;
    std::uint64_t t_free;
    std::int16_t t_rq;
    std::int16_t t_dw;
    std::int16_t t_pw;
    std::int16_t t_sl;
    std::int16_t t_sw;
    std::uint16_t t_pad[3];
};
static_assert(sizeof(vmtotal) == 88);
static_assert(offsetof(vmtotal, t_vmshr) == 32);
static_assert(offsetof(vmtotal, t_rmshr) == 48);
static_assert(offsetof(vmtotal, t_rq) == 72);

// Kernel parameter names.
#define CTL_KERN 1
#define CTL_VM 2
#define CTL_HW 6
#define KERN_ARGMAX 8
#define KERN_PROC 14
#define KERN_BOOTTIME 21
#define KERN_PROC_ALL 0
#define KERN_PROC_PID 1
#define KERN_PROC_PROC 8
#define KERN_PROC_INC_THREAD 0x10
#define VM_METER 1
#define HW_NCPU 3

// Process states of ki_stat.
#define SIDL 1
#define SRUN 2
#define SSLEEP 3
#define SSTOP 4
#define SZOMB 5
#define SWAIT 6
#define SLOCK 7

#define NODEV ((::bsd::dev_t)-1)
#define NOCPU (-1)

// Process flags of ki_flag and ki_sflag.
#define P_CONTROLT 0x00000002
#define P_SYSTEM 0x00000200
#define P_INMEM 0x10000000
#define PS_INMEM 0x00001

// FreeBSD's value of _SC_PAGESIZE (the host's differs).
inline constexpr int sc_pagesize = 47;

// The calls the module makes.
int sysctl(const int *name, u_int namelen, void *oldp, std::size_t *oldlenp, const void *newp,
           std::size_t newlen);
int sysctlbyname(const char *name, void *oldp, std::size_t *oldlenp, const void *newp,
                 std::size_t newlen);
int kill(pid_t pid, int sig);
long sysconf(int name);
std::size_t strlcat(char *dst, const char *src, std::size_t size);
int mallctl(const char *name, void *oldp, std::size_t *oldlenp, void *newp, std::size_t newlen);

}  // namespace bsd
#include "freebsd_kinfo.h"
#include "freebsd_kvm.h"
#include "freebsd_procctl.h"

// Open-file table and PCB list records.
#include "freebsd_socket.h"
#include "freebsd_if.h"  // network interfaces
#include "freebsd_disk.h"
#include "freebsd_utmpx.h"
