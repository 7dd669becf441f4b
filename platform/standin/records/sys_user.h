// FreeBSD amd64's sys/user.h, as the stand-in provides it: the process record,
// open-file entries and memory-map entries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_caprights.h"
#include "standin/records/signal.h"
#include "standin/records/sys_priority.h"
#include "standin/records/sys_resource.h"
#include "standin/records/sys_socket.h"
#include "standin/records/sys_time.h"
#include "standin/records/sys_types.h"

namespace bsd {

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
    gid_t ki_groups[bsd::ki_ngroups];  // the constant, not the member above
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
    char ki_tdname[tdnamlen + 1];
    char ki_wmesg[wmesglen + 1];
    char ki_login[lognamelen + 1];
    char ki_lockname[locknamelen + 1];
    char ki_comm[commlen + 1];
    char ki_emul[ki_emulnamelen + 1];
    char ki_loginclass[loginclasslen + 1];
    char ki_moretdname[maxcomlen - tdnamlen + 1];
    char ki_sparestrings[46];
    int ki_spareints[ki_nspare_int];
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
    void *ki_spareptrs[ki_nspare_ptr];
    long ki_sparelongs[ki_nspare_long];
    long ki_sflag;
    long ki_tdflags;
};
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

struct kinfo_file {
    int kf_structsize;
    int kf_type;
    int kf_fd;
    int kf_ref_count;
    int kf_flags;
    int kf_pad0;
    std::int64_t kf_offset;
    union {
        struct {
            std::uint32_t kf_sock_sendq;
            int kf_sock_domain0;
            int kf_sock_type0;
            int kf_sock_protocol0;
            sockaddr_storage_bsd kf_sa_local;
            sockaddr_storage_bsd kf_sa_peer;
            std::uint64_t kf_sock_pcb;
            std::uint64_t kf_sock_inpcb;
            std::uint64_t kf_sock_unpconn;
            std::uint16_t kf_sock_snd_sb_state;
            std::uint16_t kf_sock_rcv_sb_state;
            std::uint32_t kf_sock_recvq;
        } kf_sock;
        struct {
            int kf_file_type;
            int kf_spareint[3];
            std::uint64_t kf_spareint64[29];
            std::uint64_t kf_file_nlink;
            std::uint64_t kf_file_fsid;
            std::uint64_t kf_file_rdev;
            std::uint64_t kf_file_fileid;
            std::uint64_t kf_file_size;
            std::uint32_t kf_file_fsid_freebsd11;
            std::uint32_t kf_file_rdev_freebsd11;
            std::uint16_t kf_file_mode;
            std::uint16_t kf_file_pad0;
            std::uint32_t kf_file_pad1;
        } kf_file;
    } kf_un;
    std::uint16_t kf_status;
    std::uint16_t kf_pad1;
    int _kf_ispare0;
    cap_rights_t kf_cap_rights;
    std::uint64_t _kf_cap_spare;
    char kf_path[path_max];
};
static_assert(sizeof(kinfo_file) == 1392);
static_assert(offsetof(kinfo_file, kf_type) == 4);
static_assert(offsetof(kinfo_file, kf_fd) == 8);
static_assert(offsetof(kinfo_file, kf_un.kf_file.kf_file_type) == 32);
static_assert(offsetof(kinfo_file, kf_un.kf_file.kf_file_size) == 312);
static_assert(offsetof(kinfo_file, kf_un.kf_file.kf_file_mode) == 328);
static_assert(offsetof(kinfo_file, kf_un.kf_sock.kf_sock_domain0) == 36);
static_assert(offsetof(kinfo_file, kf_un.kf_sock.kf_sock_type0) == 40);
static_assert(offsetof(kinfo_file, kf_un.kf_sock.kf_sock_protocol0) == 44);
static_assert(offsetof(kinfo_file, kf_un.kf_sock.kf_sa_local) == 48);
static_assert(offsetof(kinfo_file, kf_un.kf_sock.kf_sa_peer) == 176);
static_assert(offsetof(kinfo_file, kf_path) == 368);

// Memory-map entry of kinfo_getvmmap.
struct kinfo_vmentry {
    int kve_structsize;
    int kve_type;
    std::uint64_t kve_start;
    std::uint64_t kve_end;
    std::uint64_t kve_offset;
    std::uint64_t kve_vn_fileid;
    std::uint32_t kve_vn_fsid_freebsd11;
    int kve_flags;
    int kve_resident;
    int kve_private_resident;
    int kve_protection;
    int kve_ref_count;
    int kve_shadow_count;
    int kve_vn_type;
    std::uint64_t kve_vn_size;
    std::uint32_t kve_vn_rdev_freebsd11;
    std::uint16_t kve_vn_mode;
    std::uint16_t kve_status;
    std::uint64_t kve_vn_fsid;
    std::uint64_t kve_vn_rdev;
    int _kve_ispare[8];
    char kve_path[path_max];
};
static_assert(sizeof(kinfo_vmentry) == 1160);
static_assert(offsetof(kinfo_vmentry, kve_type) == 4);
static_assert(offsetof(kinfo_vmentry, kve_start) == 8);
static_assert(offsetof(kinfo_vmentry, kve_end) == 16);
static_assert(offsetof(kinfo_vmentry, kve_resident) == 48);
static_assert(offsetof(kinfo_vmentry, kve_private_resident) == 52);
static_assert(offsetof(kinfo_vmentry, kve_protection) == 56);
static_assert(offsetof(kinfo_vmentry, kve_ref_count) == 60);
static_assert(offsetof(kinfo_vmentry, kve_shadow_count) == 64);
static_assert(offsetof(kinfo_vmentry, kve_path) == 136);

}  // namespace bsd
