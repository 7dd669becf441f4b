// FreeBSD amd64's constants as values of namespace bsd, for the stand-in's
// own code: each is FreeBSD's name in lower case.
// Written by tools/standin_names.py from records/names.list: edit the list.
#pragma once

#include <cstdint>
#include "standin/freebsd_names_net.h"

namespace bsd {

// sys/param.h: System limits.
inline constexpr int maxcomlen = 19;
inline constexpr std::uint64_t nodev = static_cast<std::uint64_t>(-1);

// limits.h: Path length, and the size of kvm_openfiles' error buffer.
inline constexpr int path_max = 1024;
inline constexpr int _posix2_line_max = 2048;

// fcntl.h: Open modes.
inline constexpr int o_rdonly = 0x0000;

// unistd.h: sysconf names.
inline constexpr int _sc_pagesize = 47;

// sys/sysctl.h: Kernel parameter names.
inline constexpr int ctl_kern = 1;
inline constexpr int ctl_vm = 2;
inline constexpr int ctl_net = 4;
inline constexpr int ctl_hw = 6;
inline constexpr int kern_argmax = 8;
inline constexpr int kern_proc = 14;
inline constexpr int kern_boottime = 21;
inline constexpr int hw_ncpu = 3;

// sys/sysctl.h: The process table and a process's own parameters.
inline constexpr int kern_proc_all = 0;
inline constexpr int kern_proc_pid = 1;
inline constexpr int kern_proc_args = 7;
inline constexpr int kern_proc_proc = 8;
inline constexpr int kern_proc_pathname = 12;
inline constexpr int kern_proc_inc_thread = 0x10;
inline constexpr int kern_proc_rlimit = 37;

// vm/vm_param.h: Virtual memory parameter names.
inline constexpr int vm_meter = 1;

// sys/proc.h: Process states of ki_stat.
inline constexpr int sidl = 1;
inline constexpr int srun = 2;
inline constexpr int ssleep = 3;
inline constexpr int sstop = 4;
inline constexpr int szomb = 5;
inline constexpr int swait = 6;
inline constexpr int slock = 7;

// sys/proc.h: Process flags of ki_flag and ki_sflag.
inline constexpr int p_controlt = 0x00000002;
inline constexpr int p_system = 0x00000200;
inline constexpr int p_inmem = 0x10000000;
inline constexpr int ps_inmem = 0x00001;

// sys/proc.h: No CPU.
inline constexpr int nocpu = (-1);

// sys/user.h: Sizes in kinfo_proc.
inline constexpr int ki_ngroups = 16;
inline constexpr int commlen = 19;
inline constexpr int tdnamlen = 16;
inline constexpr int wmesglen = 8;
inline constexpr int lognamelen = 17;
inline constexpr int locknamelen = 8;
inline constexpr int ki_emulnamelen = 16;
inline constexpr int loginclasslen = 17;
inline constexpr int ki_nspare_int = 2;
inline constexpr int ki_nspare_long = 12;
inline constexpr int ki_nspare_ptr = 5;

// sys/user.h: Descriptor kinds of kf_type.
inline constexpr int kf_type_none = 0;
inline constexpr int kf_type_vnode = 1;
inline constexpr int kf_type_socket = 2;
inline constexpr int kf_type_pipe = 3;
inline constexpr int kf_type_fifo = 4;
inline constexpr int kf_type_kqueue = 5;
inline constexpr int kf_type_mqueue = 7;
inline constexpr int kf_type_shm = 8;
inline constexpr int kf_type_sem = 9;
inline constexpr int kf_type_pts = 10;
inline constexpr int kf_type_procdesc = 11;
inline constexpr int kf_type_dev = 12;
inline constexpr int kf_type_eventfd = 13;
inline constexpr int kf_type_timerfd = 14;
inline constexpr int kf_type_unknown = 255;

// sys/user.h: Vnode kinds of kf_vnode_type.
inline constexpr int kf_vtype_vnon = 0;
inline constexpr int kf_vtype_vreg = 1;
inline constexpr int kf_vtype_vdir = 2;
inline constexpr int kf_vtype_vblk = 3;
inline constexpr int kf_vtype_vchr = 4;
inline constexpr int kf_vtype_vlnk = 5;
inline constexpr int kf_vtype_vsock = 6;
inline constexpr int kf_vtype_vfifo = 7;

// sys/user.h: Pseudo-descriptors of kf_fd.
inline constexpr int kf_fd_type_cwd = -1;
inline constexpr int kf_fd_type_root = -2;
inline constexpr int kf_fd_type_jail = -3;
inline constexpr int kf_fd_type_trace = -4;
inline constexpr int kf_fd_type_text = -5;
inline constexpr int kf_fd_type_ctty = -6;

// sys/user.h: Bits of kf_status and kf_flags.
inline constexpr int kf_attr_valid = 0x0001;
inline constexpr int kf_flag_read = 0x00000001;
inline constexpr int kf_flag_write = 0x00000002;
inline constexpr int kf_flag_append = 0x00000004;
inline constexpr int kf_flag_async = 0x00000008;
inline constexpr int kf_flag_fsync = 0x00000010;
inline constexpr int kf_flag_nonblock = 0x00000020;
inline constexpr int kf_flag_direct = 0x00000040;

// sys/user.h: Memory-map entry kinds of kve_type.
inline constexpr int kvme_type_none = 0;
inline constexpr int kvme_type_default = 1;
inline constexpr int kvme_type_vnode = 2;
inline constexpr int kvme_type_swap = 3;
inline constexpr int kvme_type_device = 4;
inline constexpr int kvme_type_phys = 5;
inline constexpr int kvme_type_dead = 6;
inline constexpr int kvme_type_sg = 7;
inline constexpr int kvme_type_mgtdevice = 8;
inline constexpr int kvme_type_guard = 9;
inline constexpr int kvme_type_unknown = 255;

// sys/user.h: Bits of kve_protection and kve_flags.
inline constexpr int kvme_prot_read = 0x00000001;
inline constexpr int kvme_prot_write = 0x00000002;
inline constexpr int kvme_prot_exec = 0x00000004;
inline constexpr int kvme_flag_cow = 0x00000001;
inline constexpr int kvme_flag_nocoredump = 0x00000004;
inline constexpr int kvme_flag_grows_down = 0x00000020;
inline constexpr int kvme_flag_user_wired = 0x00000040;

// sys/cpuset.h: 1024 CPUs: CPU n is bit n % 64 of word n / 64.
inline constexpr int cpu_maxsize = 1024;

// sys/cpuset.h: Levels and kinds of ID of the affinity calls.
inline constexpr int cpu_level_root = 1;
inline constexpr int cpu_level_cpuset = 2;
inline constexpr int cpu_level_which = 3;
inline constexpr int cpu_which_tid = 1;
inline constexpr int cpu_which_pid = 2;

// sys/resource.h: Whom getpriority and setpriority address, and the range.
inline constexpr int prio_process = 0;
inline constexpr int prio_pgrp = 1;
inline constexpr int prio_user = 2;
inline constexpr int prio_min = -20;
inline constexpr int prio_max = 20;

// sys/resource.h: Resource limits.
inline constexpr int rlimit_cpu = 0;
inline constexpr int rlimit_fsize = 1;
inline constexpr int rlimit_data = 2;
inline constexpr int rlimit_stack = 3;
inline constexpr int rlimit_core = 4;
inline constexpr int rlimit_rss = 5;
inline constexpr int rlimit_memlock = 6;
inline constexpr int rlimit_nproc = 7;
inline constexpr int rlimit_nofile = 8;
inline constexpr int rlimit_sbsize = 9;
inline constexpr int rlimit_as = 10;
inline constexpr int rlimit_npts = 11;
inline constexpr int rlimit_swap = 12;
inline constexpr int rlimit_kqueues = 13;
inline constexpr int rlimit_umtxp = 14;
inline constexpr int rlimit_pipebuf = 15;
inline constexpr int rlim_nlimits = 16;
inline constexpr std::int64_t rlim_infinity = INT64_MAX;

// sys/resource.h: CPU time states of kern.cp_time.
inline constexpr int cpustates = 5;

// sys/mount.h: Name sizes and the record version of statfs.
inline constexpr int mfsnamelen = 16;
inline constexpr int mnamelen = 1024;
inline constexpr int statfs_version = 0x20140518;

// sys/mount.h: getfsstat modes.
inline constexpr int mnt_wait = 1;
inline constexpr int mnt_nowait = 2;

// sys/mount.h: Mount flags of f_flags.
inline constexpr unsigned long long mnt_rdonly = 0x0000000000000001ULL;
inline constexpr unsigned long long mnt_synchronous = 0x0000000000000002ULL;
inline constexpr unsigned long long mnt_noexec = 0x0000000000000004ULL;
inline constexpr unsigned long long mnt_nosuid = 0x0000000000000008ULL;
inline constexpr unsigned long long mnt_nfs4acls = 0x0000000000000010ULL;
inline constexpr unsigned long long mnt_union = 0x0000000000000020ULL;
inline constexpr unsigned long long mnt_async = 0x0000000000000040ULL;
inline constexpr unsigned long long mnt_local = 0x0000000000001000ULL;
inline constexpr unsigned long long mnt_rootfs = 0x0000000000004000ULL;
inline constexpr unsigned long long mnt_suiddir = 0x0000000000100000ULL;
inline constexpr unsigned long long mnt_softdep = 0x0000000000200000ULL;
inline constexpr unsigned long long mnt_nosymfollow = 0x0000000000400000ULL;
inline constexpr unsigned long long mnt_gjournal = 0x0000000002000000ULL;
inline constexpr unsigned long long mnt_multilabel = 0x0000000004000000ULL;
inline constexpr unsigned long long mnt_acls = 0x0000000008000000ULL;
inline constexpr unsigned long long mnt_noatime = 0x0000000010000000ULL;
inline constexpr unsigned long long mnt_noclusterr = 0x0000000040000000ULL;
inline constexpr unsigned long long mnt_noclusterw = 0x0000000080000000ULL;

// devstat.h: Device statistics: the version and sizes.
inline constexpr int devstat_version = 6;
inline constexpr int devstat_name_len = 16;
inline constexpr int devstat_n_trans_flags = 4;

// devstat.h: Transaction kinds, the indexes of the byte and operation counts.
enum devstat_trans_flags {
    devstat_no_data = 0,
    devstat_read = 1,
    devstat_write = 2,
    devstat_free = 3,
};

// utmpx.h: Login record types of ut_type.
inline constexpr int empty = 0;
inline constexpr int boot_time = 1;
inline constexpr int old_time = 2;
inline constexpr int new_time = 3;
inline constexpr int user_process = 4;
inline constexpr int init_process = 5;
inline constexpr int login_process = 6;
inline constexpr int dead_process = 7;
inline constexpr int shutdown_time = 8;

}  // namespace bsd
