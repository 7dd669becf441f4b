// FreeBSD constants whose names host headers also define, with other values.
// Only module code includes this, after Python.h, so the FreeBSD value wins.
#pragma once

#include "freebsd.h"

#undef _SC_PAGESIZE
#define _SC_PAGESIZE (::bsd::sc_pagesize)

#undef PATH_MAX
#define PATH_MAX PATH_MAX_FREEBSD

#undef O_RDONLY
#define O_RDONLY 0x0000

// Socket families, types and protocols (freebsd_net.h).
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
#undef SOCK_STREAM
#define SOCK_STREAM (::bsd::sock_stream)
#undef SOCK_DGRAM
#define SOCK_DGRAM (::bsd::sock_dgram)
#undef SOCK_RAW
#define SOCK_RAW (::bsd::sock_raw)
#undef SOCK_SEQPACKET
#define SOCK_SEQPACKET (::bsd::sock_seqpacket)
#undef IPPROTO_TCP
#define IPPROTO_TCP (::bsd::ipproto_tcp)
#undef IPPROTO_UDP
#define IPPROTO_UDP (::bsd::ipproto_udp)

// Resource limits (freebsd_procctl.h): FreeBSD's numbers, not the host's.
#undef RLIMIT_AS
#define RLIMIT_AS (::bsd::rlimit_as)
#undef RLIMIT_CORE
#define RLIMIT_CORE (::bsd::rlimit_core)
#undef RLIMIT_CPU
#define RLIMIT_CPU (::bsd::rlimit_cpu)
#undef RLIMIT_DATA
#define RLIMIT_DATA (::bsd::rlimit_data)
#undef RLIMIT_FSIZE
#define RLIMIT_FSIZE (::bsd::rlimit_fsize)
#undef RLIMIT_MEMLOCK
#define RLIMIT_MEMLOCK (::bsd::rlimit_memlock)
#undef RLIMIT_NOFILE
#define RLIMIT_NOFILE (::bsd::rlimit_nofile)
#undef RLIMIT_NPROC
#define RLIMIT_NPROC (::bsd::rlimit_nproc)
#undef RLIMIT_RSS
#define RLIMIT_RSS (::bsd::rlimit_rss)
#undef RLIMIT_STACK
#define RLIMIT_STACK (::bsd::rlimit_stack)
#undef RLIMIT_SWAP
#define RLIMIT_SWAP (::bsd::rlimit_swap)
#undef RLIMIT_SBSIZE
#define RLIMIT_SBSIZE (::bsd::rlimit_sbsize)
#undef RLIMIT_NPTS
#define RLIMIT_NPTS (::bsd::rlimit_npts)
#undef RLIM_INFINITY
#define RLIM_INFINITY (::bsd::rlim_infinity)
// Process priority (freebsd_procctl.h) and the kernel memory interface's
// error buffer (freebsd_kvm.h).
#undef PRIO_PROCESS
#define PRIO_PROCESS (::bsd::prio_process)
#undef _POSIX2_LINE_MAX
#define _POSIX2_LINE_MAX (::bsd::posix2_line_max)
#undef ntohs
#define ntohs(x) (::bsd::ntohs(x))
// Interface constants (freebsd_if_clash.h).
#include "freebsd_if_clash.h"
// Login record types (freebsd_utmpx.h).
#undef USER_PROCESS
#define USER_PROCESS (::bsd::ut_user_process)
