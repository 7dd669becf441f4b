// FreeBSD's names as macros, for module code only. Module code includes
// this after Python.h and the host headers, so FreeBSD's definition wins.
// Written by tools/standin_names.py from records/names.list: edit the list.
#pragma once

#include "freebsd.h"

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

// sys/socket.h: Address families.
#undef AF_UNSPEC
#define AF_UNSPEC (::bsd::af_unspec)
#undef AF_UNIX
#define AF_UNIX (::bsd::af_unix)
#undef AF_INET
#define AF_INET (::bsd::af_inet)
#undef AF_ROUTE
#define AF_ROUTE (::bsd::af_route)
#undef AF_LINK
#define AF_LINK (::bsd::af_link)
#undef AF_INET6
#define AF_INET6 (::bsd::af_inet6)
#undef PF_ROUTE
#define PF_ROUTE (::bsd::pf_route)

// sys/socket.h: Socket types.
#undef SOCK_STREAM
#define SOCK_STREAM (::bsd::sock_stream)
#undef SOCK_DGRAM
#define SOCK_DGRAM (::bsd::sock_dgram)
#undef SOCK_RAW
#define SOCK_RAW (::bsd::sock_raw)
#undef SOCK_SEQPACKET
#define SOCK_SEQPACKET (::bsd::sock_seqpacket)

// sys/socket.h: The routing sysctl's interface list.
#undef NET_RT_IFLIST
#define NET_RT_IFLIST (::bsd::net_rt_iflist)

// netinet/in.h: Protocols.
#undef IPPROTO_TCP
#define IPPROTO_TCP (::bsd::ipproto_tcp)
#undef IPPROTO_UDP
#define IPPROTO_UDP (::bsd::ipproto_udp)

// netinet/in.h: Network to host order.
#undef ntohs
#define ntohs(x) (::bsd::ntohs(x))

// sys/file.h: Open-file types of xf_type.
#undef DTYPE_VNODE
#define DTYPE_VNODE (::bsd::dtype_vnode)
#undef DTYPE_SOCKET
#define DTYPE_SOCKET (::bsd::dtype_socket)
#undef DTYPE_PIPE
#define DTYPE_PIPE (::bsd::dtype_pipe)
#undef DTYPE_FIFO
#define DTYPE_FIFO (::bsd::dtype_fifo)
#undef DTYPE_KQUEUE
#define DTYPE_KQUEUE (::bsd::dtype_kqueue)

// netinet/in_pcb.h: IP versions of inp_vflag.
#undef INP_IPV4
#define INP_IPV4 (::bsd::inp_ipv4)
#undef INP_IPV6
#define INP_IPV6 (::bsd::inp_ipv6)

// netinet/in_pcb.h: Short names for the endpoint fields.
#undef inc_fport
#define inc_fport inc_ie.ie_fport
#undef inc_lport
#define inc_lport inc_ie.ie_lport
#undef inc_faddr
#define inc_faddr inc_ie.ie_dependfaddr.id46_addr.ia46_addr4
#undef inc_laddr
#define inc_laddr inc_ie.ie_dependladdr.id46_addr.ia46_addr4
#undef inc6_faddr
#define inc6_faddr inc_ie.ie_dependfaddr.id6_addr
#undef inc6_laddr
#define inc6_laddr inc_ie.ie_dependladdr.id6_addr

// netinet/tcp.h: Name sizes in xtcpcb.
#undef TCP_FUNCTION_NAME_LEN_MAX
#define TCP_FUNCTION_NAME_LEN_MAX (::bsd::tcp_function_name_len_max)
#undef TCP_LOG_ID_LEN
#define TCP_LOG_ID_LEN (::bsd::tcp_log_id_len)
#undef TCP_CA_NAME_MAX
#define TCP_CA_NAME_MAX (::bsd::tcp_ca_name_max)

// netinet/tcp_fsm.h: TCP states of t_state.
#undef TCPS_CLOSED
#define TCPS_CLOSED (::bsd::tcps_closed)
#undef TCPS_LISTEN
#define TCPS_LISTEN (::bsd::tcps_listen)
#undef TCPS_SYN_SENT
#define TCPS_SYN_SENT (::bsd::tcps_syn_sent)
#undef TCPS_SYN_RECEIVED
#define TCPS_SYN_RECEIVED (::bsd::tcps_syn_received)
#undef TCPS_ESTABLISHED
#define TCPS_ESTABLISHED (::bsd::tcps_established)
#undef TCPS_CLOSE_WAIT
#define TCPS_CLOSE_WAIT (::bsd::tcps_close_wait)
#undef TCPS_FIN_WAIT_1
#define TCPS_FIN_WAIT_1 (::bsd::tcps_fin_wait_1)
#undef TCPS_CLOSING
#define TCPS_CLOSING (::bsd::tcps_closing)
#undef TCPS_LAST_ACK
#define TCPS_LAST_ACK (::bsd::tcps_last_ack)
#undef TCPS_FIN_WAIT_2
#define TCPS_FIN_WAIT_2 (::bsd::tcps_fin_wait_2)
#undef TCPS_TIME_WAIT
#define TCPS_TIME_WAIT (::bsd::tcps_time_wait)

// net/if.h: Interface name size.
#undef IFNAMSIZ
#define IFNAMSIZ (::bsd::ifnamsiz)

// net/if.h: Interface flags (the 32-bit word; ifr_flags holds its low half).
#undef IFF_UP
#define IFF_UP (::bsd::iff_up)
#undef IFF_BROADCAST
#define IFF_BROADCAST (::bsd::iff_broadcast)
#undef IFF_DEBUG
#define IFF_DEBUG (::bsd::iff_debug)
#undef IFF_LOOPBACK
#define IFF_LOOPBACK (::bsd::iff_loopback)
#undef IFF_POINTOPOINT
#define IFF_POINTOPOINT (::bsd::iff_pointopoint)
#undef IFF_RUNNING
#define IFF_RUNNING (::bsd::iff_running)
#undef IFF_NOARP
#define IFF_NOARP (::bsd::iff_noarp)
#undef IFF_PROMISC
#define IFF_PROMISC (::bsd::iff_promisc)
#undef IFF_ALLMULTI
#define IFF_ALLMULTI (::bsd::iff_allmulti)
#undef IFF_OACTIVE
#define IFF_OACTIVE (::bsd::iff_oactive)
#undef IFF_SIMPLEX
#define IFF_SIMPLEX (::bsd::iff_simplex)
#undef IFF_LINK0
#define IFF_LINK0 (::bsd::iff_link0)
#undef IFF_LINK1
#define IFF_LINK1 (::bsd::iff_link1)
#undef IFF_LINK2
#define IFF_LINK2 (::bsd::iff_link2)
#undef IFF_MULTICAST
#define IFF_MULTICAST (::bsd::iff_multicast)
#undef IFF_PPROMISC
#define IFF_PPROMISC (::bsd::iff_ppromisc)

// net/if.h: Link states of ifi_link_state.
#undef LINK_STATE_UNKNOWN
#define LINK_STATE_UNKNOWN (::bsd::link_state_unknown)
#undef LINK_STATE_DOWN
#define LINK_STATE_DOWN (::bsd::link_state_down)
#undef LINK_STATE_UP
#define LINK_STATE_UP (::bsd::link_state_up)

// net/if.h: Short names for ifreq's union members.
#undef ifr_flags
#define ifr_flags ifr_ifru.ifru_flags[0]
#undef ifr_mtu
#define ifr_mtu ifr_ifru.ifru_mtu

// net/if_types.h: Interface types of sdl_type and ifi_type.
#undef IFT_OTHER
#define IFT_OTHER (::bsd::ift_other)
#undef IFT_ETHER
#define IFT_ETHER (::bsd::ift_ether)
#undef IFT_PPP
#define IFT_PPP (::bsd::ift_ppp)
#undef IFT_LOOP
#define IFT_LOOP (::bsd::ift_loop)
#undef IFT_IEEE80211
#define IFT_IEEE80211 (::bsd::ift_ieee80211)
#undef IFT_TUNNEL
#define IFT_TUNNEL (::bsd::ift_tunnel)

// net/route.h: Routing messages and their address bits.
#undef RTM_VERSION
#define RTM_VERSION (::bsd::rtm_version)
#undef RTM_NEWADDR
#define RTM_NEWADDR (::bsd::rtm_newaddr)
#undef RTM_IFINFO
#define RTM_IFINFO (::bsd::rtm_ifinfo)
#undef RTA_NETMASK
#define RTA_NETMASK (::bsd::rta_netmask)
#undef RTA_IFP
#define RTA_IFP (::bsd::rta_ifp)
#undef RTA_IFA
#define RTA_IFA (::bsd::rta_ifa)
#undef RTA_BRD
#define RTA_BRD (::bsd::rta_brd)

// sys/sockio.h: Interface requests (_IOWR encodings).
#undef SIOCGIFFLAGS
#define SIOCGIFFLAGS (::bsd::siocgifflags)
#undef SIOCGIFMTU
#define SIOCGIFMTU (::bsd::siocgifmtu)
#undef SIOCGIFMEDIA
#define SIOCGIFMEDIA (::bsd::siocgifmedia)

// net/if_media.h: Media word fields.
#undef IFM_NMASK
#define IFM_NMASK (::bsd::ifm_nmask)
#undef IFM_TMASK
#define IFM_TMASK (::bsd::ifm_tmask)
#undef IFM_ETH_XTYPE
#define IFM_ETH_XTYPE (::bsd::ifm_eth_xtype)
#undef IFM_ETHER
#define IFM_ETHER (::bsd::ifm_ether)
#undef IFM_IEEE80211
#define IFM_IEEE80211 (::bsd::ifm_ieee80211)
#undef IFM_FDX
#define IFM_FDX (::bsd::ifm_fdx)
#undef IFM_HDX
#define IFM_HDX (::bsd::ifm_hdx)
#undef IFM_AVALID
#define IFM_AVALID (::bsd::ifm_avalid)
#undef IFM_ACTIVE
#define IFM_ACTIVE (::bsd::ifm_active)

// net/if_media.h: Ethernet subtypes.
#undef IFM_NONE
#define IFM_NONE (::bsd::ifm_none)
#undef IFM_10_T
#define IFM_10_T (::bsd::ifm_10_t)
#undef IFM_10_2
#define IFM_10_2 (::bsd::ifm_10_2)
#undef IFM_10_5
#define IFM_10_5 (::bsd::ifm_10_5)
#undef IFM_100_TX
#define IFM_100_TX (::bsd::ifm_100_tx)
#undef IFM_100_FX
#define IFM_100_FX (::bsd::ifm_100_fx)
#undef IFM_1000_SX
#define IFM_1000_SX (::bsd::ifm_1000_sx)
#undef IFM_10_FL
#define IFM_10_FL (::bsd::ifm_10_fl)
#undef IFM_1000_CX
#define IFM_1000_CX (::bsd::ifm_1000_cx)
#undef IFM_1000_T
#define IFM_1000_T (::bsd::ifm_1000_t)
#undef IFM_10G_SR
#define IFM_10G_SR (::bsd::ifm_10g_sr)
#undef IFM_2500_SX
#define IFM_2500_SX (::bsd::ifm_2500_sx)
#undef IFM_10G_TWINAX
#define IFM_10G_TWINAX (::bsd::ifm_10g_twinax)
#undef IFM_UNKNOWN
#define IFM_UNKNOWN (::bsd::ifm_unknown)
#undef IFM_10G_T
#define IFM_10G_T (::bsd::ifm_10g_t)

// ifaddrs.h: A point-to-point address shares the broadcast slot.
#undef ifa_broadaddr
#define ifa_broadaddr ifa_dstaddr

// netdb.h: getnameinfo's sizes and flags.
#undef NI_MAXHOST
#define NI_MAXHOST (::bsd::ni_maxhost)
#undef NI_NUMERICHOST
#define NI_NUMERICHOST (::bsd::ni_numerichost)
#undef NI_NUMERICSCOPE
#define NI_NUMERICSCOPE (::bsd::ni_numericscope)

// netdb.h: getnameinfo's failures.
#undef EAI_FAIL
#define EAI_FAIL (::bsd::eai_fail)
#undef EAI_FAMILY
#define EAI_FAMILY (::bsd::eai_family)
#undef EAI_MEMORY
#define EAI_MEMORY (::bsd::eai_memory)
#undef EAI_OVERFLOW
#define EAI_OVERFLOW (::bsd::eai_overflow)

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

// devstat.h: Device statistics: version, sizes and transaction kinds.
#undef DEVSTAT_VERSION
#define DEVSTAT_VERSION (::bsd::devstat_version)
#undef DEVSTAT_NAME_LEN
#define DEVSTAT_NAME_LEN (::bsd::devstat_name_len)
#undef DEVSTAT_N_TRANS_FLAGS
#define DEVSTAT_N_TRANS_FLAGS (::bsd::devstat_n_trans_flags)
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
