// FreeBSD itself: the system headers, brought into namespace bsd.
#pragma once

#include <sys/types.h>
#include <sys/param.h>    // PATH_MAX, MAXCOMLEN
#include <sys/sysctl.h>   // sysctl, sysctlbyname, CTL_*, KERN_*
#include <sys/user.h>     // kinfo_proc, kinfo_file, kinfo_vmentry
#include <sys/proc.h>     // SIDL..SLOCK, P_INMEM, P_SYSTEM
#include <sys/vmmeter.h>  // struct vmtotal
#include <vm/vm_param.h>  // VM_METER
#include <sys/time.h>     // struct timeval
#include <sys/resource.h> // struct rusage
#include <fcntl.h>        // O_RDONLY for kvm_open
#include <kvm.h>          // kvm_open, kvm_getswapinfo, kvm_close
#include <sys/cpuset.h>   // cpuset_t, cpuset_getaffinity, CPU_LEVEL_WHICH
#include <limits.h>       // _POSIX2_LINE_MAX
#include <libutil.h>      // kinfo_getfile, kinfo_getvmmap
#include <malloc_np.h>    // mallctl
#include <signal.h>       // kill
#include <string.h>       // strlcat
#include <unistd.h>       // sysconf
#include <sys/socketvar.h> // struct xsocket
#include <sys/file.h>     // struct xfile
#include <sys/un.h>
#include <sys/unpcb.h>    // struct xunpgen, xunpcb
#include <netinet/in.h>
#include <netinet/in_pcb.h>  // struct xinpgen, xinpcb
#include <netinet/tcp_var.h> // struct xtcpcb
#include <arpa/inet.h>    // inet_ntop, ntohs
#include <sys/mount.h>    // getfsstat, struct statfs, MNT_*
#include <devstat.h>      // devstat_checkversion, devstat_getdevs
#include <utmpx.h>        // setutxent, getutxent, endutxent

namespace bsd {
using ::pid_t;
using ::uid_t;
using ::gid_t;
using ::dev_t;
using ::segsz_t;
using ::vm_size_t;
using ::u_int;
using ::timeval;
using ::rusage;
using ::kinfo_proc;
using ::kinfo_file;
using ::kinfo_vmentry;
using ::vmtotal;
using ::kvm_swap;
using ::kvm_t;

using ::strlcat;
using ::kvm_open;
using ::kvm_close;
using ::id_t;
using ::rlim_t;
using ::rlimit;
using ::cpuset_t;
using ::cpuset_setaffinity;
using ::setpriority;
using ::kvm_openfiles;
using ::kvm_geterr;
using ::xfile;
using ::xinpgen;
using ::xinpcb;
using ::xtcpcb;
using ::xunpgen;
using ::xunpcb;
using ::inet_ntop;
using ::statfs;
using ::bintime;
using ::devstat;
using ::devinfo;
using ::statinfo;
using ::devstat_checkversion;
using ::utmpx;
}  // namespace bsd
#include "freebsd_if.h"  // network interfaces
#include "record.h"      // the calls that keep their answers for a recording
