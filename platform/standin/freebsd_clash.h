// FreeBSD's names as macros, for module code only. Module code includes
// this after Python.h and the host headers, so FreeBSD's definition wins.
// Written by tools/standin_names.py from records/names.list: edit the list.
#pragma once

#include "standin/freebsd.h"
#include "standin/freebsd_clash_net.h"

// sys/param.h: System limits.
#undef MAXCOMLEN
#define MAXCOMLEN (::bsd::maxcomlen)
#undef NODEV
#define NODEV (::bsd::nodev)
// limits.h: Path length, and the size of kvm_openfiles' error buffer.
#undef PATH_MAX
#define PATH_MAX (::bsd::path_max)
#undef _POSIX2_LINE_MAX
#define _POSIX2_LINE_MAX (::bsd::_posix2_line_max)
// fcntl.h: Open modes.
#undef O_RDONLY
#define O_RDONLY (::bsd::o_rdonly)
// unistd.h: sysconf names.
#undef _SC_PAGESIZE
#define _SC_PAGESIZE (::bsd::_sc_pagesize)
// sys/sysctl.h: Kernel parameter names.
#undef CTL_KERN
#define CTL_KERN (::bsd::ctl_kern)
#undef CTL_VM
#define CTL_VM (::bsd::ctl_vm)
#undef CTL_NET
#define CTL_NET (::bsd::ctl_net)
#undef CTL_HW
#define CTL_HW (::bsd::ctl_hw)
#undef KERN_ARGMAX
#define KERN_ARGMAX (::bsd::kern_argmax)
#undef KERN_PROC
#define KERN_PROC (::bsd::kern_proc)
#undef KERN_BOOTTIME
#define KERN_BOOTTIME (::bsd::kern_boottime)
#undef HW_NCPU
#define HW_NCPU (::bsd::hw_ncpu)
// sys/sysctl.h: The process table and a process's own parameters.
#undef KERN_PROC_ALL
#define KERN_PROC_ALL (::bsd::kern_proc_all)
#undef KERN_PROC_PID
#define KERN_PROC_PID (::bsd::kern_proc_pid)
#undef KERN_PROC_ARGS
#define KERN_PROC_ARGS (::bsd::kern_proc_args)
#undef KERN_PROC_PROC
#define KERN_PROC_PROC (::bsd::kern_proc_proc)
#undef KERN_PROC_PATHNAME
#define KERN_PROC_PATHNAME (::bsd::kern_proc_pathname)
#undef KERN_PROC_INC_THREAD
#define KERN_PROC_INC_THREAD (::bsd::kern_proc_inc_thread)
#undef KERN_PROC_RLIMIT
#define KERN_PROC_RLIMIT (::bsd::kern_proc_rlimit)
// vm/vm_param.h: Virtual memory parameter names.
#undef VM_METER
#define VM_METER (::bsd::vm_meter)
// sys/proc.h: Process states of ki_stat.
#undef SIDL
#define SIDL (::bsd::sidl)
#undef SRUN
#define SRUN (::bsd::srun)
#undef SSLEEP
#define SSLEEP (::bsd::ssleep)
#undef SSTOP
#define SSTOP (::bsd::sstop)
#undef SZOMB
#define SZOMB (::bsd::szomb)
#undef SWAIT
#define SWAIT (::bsd::swait)
#undef SLOCK
#define SLOCK (::bsd::slock)
// sys/proc.h: Process flags of ki_flag and ki_sflag.
#undef P_CONTROLT
#define P_CONTROLT (::bsd::p_controlt)
#undef P_SYSTEM
#define P_SYSTEM (::bsd::p_system)
#undef P_INMEM
#define P_INMEM (::bsd::p_inmem)
#undef PS_INMEM
#define PS_INMEM (::bsd::ps_inmem)
// sys/proc.h: No CPU.
#undef NOCPU
#define NOCPU (::bsd::nocpu)
// sys/user.h: Sizes in kinfo_proc.
#undef KI_NGROUPS
#define KI_NGROUPS (::bsd::ki_ngroups)
#undef COMMLEN
#define COMMLEN (::bsd::commlen)
#undef TDNAMLEN
#define TDNAMLEN (::bsd::tdnamlen)
#undef WMESGLEN
#define WMESGLEN (::bsd::wmesglen)
#undef LOGNAMELEN
#define LOGNAMELEN (::bsd::lognamelen)
#undef LOCKNAMELEN
#define LOCKNAMELEN (::bsd::locknamelen)
#undef KI_EMULNAMELEN
#define KI_EMULNAMELEN (::bsd::ki_emulnamelen)
#undef LOGINCLASSLEN
#define LOGINCLASSLEN (::bsd::loginclasslen)
#undef KI_NSPARE_INT
#define KI_NSPARE_INT (::bsd::ki_nspare_int)
#undef KI_NSPARE_LONG
#define KI_NSPARE_LONG (::bsd::ki_nspare_long)
#undef KI_NSPARE_PTR
#define KI_NSPARE_PTR (::bsd::ki_nspare_ptr)
// sys/user.h: Descriptor kinds of kf_type.
#undef KF_TYPE_NONE
#define KF_TYPE_NONE (::bsd::kf_type_none)
#undef KF_TYPE_VNODE
#define KF_TYPE_VNODE (::bsd::kf_type_vnode)
#undef KF_TYPE_SOCKET
#define KF_TYPE_SOCKET (::bsd::kf_type_socket)
#undef KF_TYPE_PIPE
#define KF_TYPE_PIPE (::bsd::kf_type_pipe)
#undef KF_TYPE_FIFO
#define KF_TYPE_FIFO (::bsd::kf_type_fifo)
#undef KF_TYPE_KQUEUE
#define KF_TYPE_KQUEUE (::bsd::kf_type_kqueue)
#undef KF_TYPE_MQUEUE
#define KF_TYPE_MQUEUE (::bsd::kf_type_mqueue)
#undef KF_TYPE_SHM
#define KF_TYPE_SHM (::bsd::kf_type_shm)
#undef KF_TYPE_SEM
#define KF_TYPE_SEM (::bsd::kf_type_sem)
#undef KF_TYPE_PTS
#define KF_TYPE_PTS (::bsd::kf_type_pts)
#undef KF_TYPE_PROCDESC
#define KF_TYPE_PROCDESC (::bsd::kf_type_procdesc)
#undef KF_TYPE_DEV
#define KF_TYPE_DEV (::bsd::kf_type_dev)
#undef KF_TYPE_EVENTFD
#define KF_TYPE_EVENTFD (::bsd::kf_type_eventfd)
#undef KF_TYPE_TIMERFD
#define KF_TYPE_TIMERFD (::bsd::kf_type_timerfd)
#undef KF_TYPE_UNKNOWN
#define KF_TYPE_UNKNOWN (::bsd::kf_type_unknown)
// sys/user.h: Vnode kinds of kf_vnode_type.
#undef KF_VTYPE_VNON
#define KF_VTYPE_VNON (::bsd::kf_vtype_vnon)
#undef KF_VTYPE_VREG
#define KF_VTYPE_VREG (::bsd::kf_vtype_vreg)
#undef KF_VTYPE_VDIR
#define KF_VTYPE_VDIR (::bsd::kf_vtype_vdir)
#undef KF_VTYPE_VBLK
#define KF_VTYPE_VBLK (::bsd::kf_vtype_vblk)
#undef KF_VTYPE_VCHR
#define KF_VTYPE_VCHR (::bsd::kf_vtype_vchr)
#undef KF_VTYPE_VLNK
#define KF_VTYPE_VLNK (::bsd::kf_vtype_vlnk)
#undef KF_VTYPE_VSOCK
#define KF_VTYPE_VSOCK (::bsd::kf_vtype_vsock)
#undef KF_VTYPE_VFIFO
#define KF_VTYPE_VFIFO (::bsd::kf_vtype_vfifo)
// sys/user.h: Pseudo-descriptors of kf_fd.
#undef KF_FD_TYPE_CWD
#define KF_FD_TYPE_CWD (::bsd::kf_fd_type_cwd)
#undef KF_FD_TYPE_ROOT
#define KF_FD_TYPE_ROOT (::bsd::kf_fd_type_root)
#undef KF_FD_TYPE_JAIL
#define KF_FD_TYPE_JAIL (::bsd::kf_fd_type_jail)
#undef KF_FD_TYPE_TRACE
#define KF_FD_TYPE_TRACE (::bsd::kf_fd_type_trace)
#undef KF_FD_TYPE_TEXT
#define KF_FD_TYPE_TEXT (::bsd::kf_fd_type_text)
#undef KF_FD_TYPE_CTTY
#define KF_FD_TYPE_CTTY (::bsd::kf_fd_type_ctty)
// sys/user.h: Bits of kf_status and kf_flags.
#undef KF_ATTR_VALID
#define KF_ATTR_VALID (::bsd::kf_attr_valid)
#undef KF_FLAG_READ
#define KF_FLAG_READ (::bsd::kf_flag_read)
#undef KF_FLAG_WRITE
#define KF_FLAG_WRITE (::bsd::kf_flag_write)
#undef KF_FLAG_APPEND
#define KF_FLAG_APPEND (::bsd::kf_flag_append)
#undef KF_FLAG_ASYNC
#define KF_FLAG_ASYNC (::bsd::kf_flag_async)
#undef KF_FLAG_FSYNC
#define KF_FLAG_FSYNC (::bsd::kf_flag_fsync)
#undef KF_FLAG_NONBLOCK
#define KF_FLAG_NONBLOCK (::bsd::kf_flag_nonblock)
#undef KF_FLAG_DIRECT
#define KF_FLAG_DIRECT (::bsd::kf_flag_direct)
// sys/user.h: Short names for kinfo_file's union members.
#undef kf_vnode_type
#define kf_vnode_type kf_un.kf_file.kf_file_type
#undef kf_sock_domain
#define kf_sock_domain kf_un.kf_sock.kf_sock_domain0
#undef kf_sock_type
#define kf_sock_type kf_un.kf_sock.kf_sock_type0
#undef kf_sock_protocol
#define kf_sock_protocol kf_un.kf_sock.kf_sock_protocol0
#undef kf_sa_local
#define kf_sa_local kf_un.kf_sock.kf_sa_local
#undef kf_sa_peer
#define kf_sa_peer kf_un.kf_sock.kf_sa_peer
// sys/user.h: Memory-map entry kinds of kve_type.
#undef KVME_TYPE_NONE
#define KVME_TYPE_NONE (::bsd::kvme_type_none)
#undef KVME_TYPE_DEFAULT
#define KVME_TYPE_DEFAULT (::bsd::kvme_type_default)
#undef KVME_TYPE_VNODE
#define KVME_TYPE_VNODE (::bsd::kvme_type_vnode)
#undef KVME_TYPE_SWAP
#define KVME_TYPE_SWAP (::bsd::kvme_type_swap)
#undef KVME_TYPE_DEVICE
#define KVME_TYPE_DEVICE (::bsd::kvme_type_device)
#undef KVME_TYPE_PHYS
#define KVME_TYPE_PHYS (::bsd::kvme_type_phys)
#undef KVME_TYPE_DEAD
#define KVME_TYPE_DEAD (::bsd::kvme_type_dead)
#undef KVME_TYPE_SG
#define KVME_TYPE_SG (::bsd::kvme_type_sg)
#undef KVME_TYPE_MGTDEVICE
#define KVME_TYPE_MGTDEVICE (::bsd::kvme_type_mgtdevice)
#undef KVME_TYPE_GUARD
#define KVME_TYPE_GUARD (::bsd::kvme_type_guard)
#undef KVME_TYPE_UNKNOWN
#define KVME_TYPE_UNKNOWN (::bsd::kvme_type_unknown)
// sys/user.h: Bits of kve_protection and kve_flags.
#undef KVME_PROT_READ
#define KVME_PROT_READ (::bsd::kvme_prot_read)
#undef KVME_PROT_WRITE
#define KVME_PROT_WRITE (::bsd::kvme_prot_write)
#undef KVME_PROT_EXEC
#define KVME_PROT_EXEC (::bsd::kvme_prot_exec)
#undef KVME_FLAG_COW
#define KVME_FLAG_COW (::bsd::kvme_flag_cow)
#undef KVME_FLAG_NOCOREDUMP
#define KVME_FLAG_NOCOREDUMP (::bsd::kvme_flag_nocoredump)
#undef KVME_FLAG_GROWS_DOWN
#define KVME_FLAG_GROWS_DOWN (::bsd::kvme_flag_grows_down)
#undef KVME_FLAG_USER_WIRED
#define KVME_FLAG_USER_WIRED (::bsd::kvme_flag_user_wired)
// sys/cpuset.h: 1024 CPUs: CPU n is bit n % 64 of word n / 64.
#undef CPU_MAXSIZE
#define CPU_MAXSIZE (::bsd::cpu_maxsize)
// sys/cpuset.h: Levels and kinds of ID of the affinity calls.
#undef CPU_LEVEL_ROOT
#define CPU_LEVEL_ROOT (::bsd::cpu_level_root)
#undef CPU_LEVEL_CPUSET
#define CPU_LEVEL_CPUSET (::bsd::cpu_level_cpuset)
#undef CPU_LEVEL_WHICH
#define CPU_LEVEL_WHICH (::bsd::cpu_level_which)
#undef CPU_WHICH_TID
#define CPU_WHICH_TID (::bsd::cpu_which_tid)
#undef CPU_WHICH_PID
#define CPU_WHICH_PID (::bsd::cpu_which_pid)
// sys/resource.h: Whom getpriority and setpriority address, and the range.
#undef PRIO_PROCESS
#define PRIO_PROCESS (::bsd::prio_process)
#undef PRIO_PGRP
#define PRIO_PGRP (::bsd::prio_pgrp)
#undef PRIO_USER
#define PRIO_USER (::bsd::prio_user)
#undef PRIO_MIN
#define PRIO_MIN (::bsd::prio_min)
#undef PRIO_MAX
#define PRIO_MAX (::bsd::prio_max)
// sys/resource.h: Resource limits.
#undef RLIMIT_CPU
#define RLIMIT_CPU (::bsd::rlimit_cpu)
#undef RLIMIT_FSIZE
#define RLIMIT_FSIZE (::bsd::rlimit_fsize)
#undef RLIMIT_DATA
#define RLIMIT_DATA (::bsd::rlimit_data)
#undef RLIMIT_STACK
#define RLIMIT_STACK (::bsd::rlimit_stack)
#undef RLIMIT_CORE
#define RLIMIT_CORE (::bsd::rlimit_core)
#undef RLIMIT_RSS
#define RLIMIT_RSS (::bsd::rlimit_rss)
#undef RLIMIT_MEMLOCK
#define RLIMIT_MEMLOCK (::bsd::rlimit_memlock)
#undef RLIMIT_NPROC
#define RLIMIT_NPROC (::bsd::rlimit_nproc)
#undef RLIMIT_NOFILE
#define RLIMIT_NOFILE (::bsd::rlimit_nofile)
#undef RLIMIT_SBSIZE
#define RLIMIT_SBSIZE (::bsd::rlimit_sbsize)
#undef RLIMIT_AS
#define RLIMIT_AS (::bsd::rlimit_as)
#undef RLIMIT_NPTS
#define RLIMIT_NPTS (::bsd::rlimit_npts)
#undef RLIMIT_SWAP
#define RLIMIT_SWAP (::bsd::rlimit_swap)
#undef RLIMIT_KQUEUES
#define RLIMIT_KQUEUES (::bsd::rlimit_kqueues)
#undef RLIMIT_UMTXP
#define RLIMIT_UMTXP (::bsd::rlimit_umtxp)
#undef RLIMIT_PIPEBUF
#define RLIMIT_PIPEBUF (::bsd::rlimit_pipebuf)
#undef RLIM_NLIMITS
#define RLIM_NLIMITS (::bsd::rlim_nlimits)
#undef RLIM_INFINITY
#define RLIM_INFINITY (::bsd::rlim_infinity)
// sys/resource.h: CPU time states of kern.cp_time.
#undef CPUSTATES
#define CPUSTATES (::bsd::cpustates)
// sys/mount.h: Name sizes and the record version of statfs.
#undef MFSNAMELEN
#define MFSNAMELEN (::bsd::mfsnamelen)
#undef MNAMELEN
#define MNAMELEN (::bsd::mnamelen)
#undef STATFS_VERSION
#define STATFS_VERSION (::bsd::statfs_version)
// sys/mount.h: getfsstat modes.
#undef MNT_WAIT
#define MNT_WAIT (::bsd::mnt_wait)
#undef MNT_NOWAIT
#define MNT_NOWAIT (::bsd::mnt_nowait)
// sys/mount.h: Mount flags of f_flags.
#undef MNT_RDONLY
#define MNT_RDONLY (::bsd::mnt_rdonly)
#undef MNT_SYNCHRONOUS
#define MNT_SYNCHRONOUS (::bsd::mnt_synchronous)
#undef MNT_NOEXEC
#define MNT_NOEXEC (::bsd::mnt_noexec)
#undef MNT_NOSUID
#define MNT_NOSUID (::bsd::mnt_nosuid)
#undef MNT_NFS4ACLS
#define MNT_NFS4ACLS (::bsd::mnt_nfs4acls)
#undef MNT_UNION
#define MNT_UNION (::bsd::mnt_union)
#undef MNT_ASYNC
#define MNT_ASYNC (::bsd::mnt_async)
#undef MNT_LOCAL
#define MNT_LOCAL (::bsd::mnt_local)
#undef MNT_ROOTFS
#define MNT_ROOTFS (::bsd::mnt_rootfs)
#undef MNT_SUIDDIR
#define MNT_SUIDDIR (::bsd::mnt_suiddir)
#undef MNT_SOFTDEP
#define MNT_SOFTDEP (::bsd::mnt_softdep)
#undef MNT_NOSYMFOLLOW
#define MNT_NOSYMFOLLOW (::bsd::mnt_nosymfollow)
#undef MNT_GJOURNAL
#define MNT_GJOURNAL (::bsd::mnt_gjournal)
#undef MNT_MULTILABEL
#define MNT_MULTILABEL (::bsd::mnt_multilabel)
#undef MNT_ACLS
#define MNT_ACLS (::bsd::mnt_acls)
#undef MNT_NOATIME
#define MNT_NOATIME (::bsd::mnt_noatime)
#undef MNT_NOCLUSTERR
#define MNT_NOCLUSTERR (::bsd::mnt_noclusterr)
#undef MNT_NOCLUSTERW
#define MNT_NOCLUSTERW (::bsd::mnt_noclusterw)
// devstat.h: Device statistics: the version and sizes.
#undef DEVSTAT_VERSION
#define DEVSTAT_VERSION (::bsd::devstat_version)
#undef DEVSTAT_NAME_LEN
#define DEVSTAT_NAME_LEN (::bsd::devstat_name_len)
#undef DEVSTAT_N_TRANS_FLAGS
#define DEVSTAT_N_TRANS_FLAGS (::bsd::devstat_n_trans_flags)
// devstat.h: Transaction kinds, the indexes of the byte and operation counts.
#undef DEVSTAT_NO_DATA
#define DEVSTAT_NO_DATA (::bsd::devstat_no_data)
#undef DEVSTAT_READ
#define DEVSTAT_READ (::bsd::devstat_read)
#undef DEVSTAT_WRITE
#define DEVSTAT_WRITE (::bsd::devstat_write)
#undef DEVSTAT_FREE
#define DEVSTAT_FREE (::bsd::devstat_free)
// utmpx.h: Login record types of ut_type.
#undef EMPTY
#define EMPTY (::bsd::empty)
#undef BOOT_TIME
#define BOOT_TIME (::bsd::boot_time)
#undef OLD_TIME
#define OLD_TIME (::bsd::old_time)
#undef NEW_TIME
#define NEW_TIME (::bsd::new_time)
#undef USER_PROCESS
#define USER_PROCESS (::bsd::user_process)
#undef INIT_PROCESS
#define INIT_PROCESS (::bsd::init_process)
#undef LOGIN_PROCESS
#define LOGIN_PROCESS (::bsd::login_process)
#undef DEAD_PROCESS
#define DEAD_PROCESS (::bsd::dead_process)
#undef SHUTDOWN_TIME
#define SHUTDOWN_TIME (::bsd::shutdown_time)
