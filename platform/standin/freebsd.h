// FreeBSD amd64's records, constants and calls, as the stand-in provides them.
//
// Everything lives in namespace bsd so that nothing here can interpose on the
// host C library. records/ holds one header for each FreeBSD header imitated;
// the constants are values of bsd, named in lower case (freebsd_names*.h),
// since the stand-in's own files also see the host's headers, where many of
// FreeBSD's names are macros with other values. Module code includes
// freebsd_clash.h instead, which adds FreeBSD's macros.
#pragma once

#include "standin/freebsd_names.h"
#include "standin/records/arpa_inet.h"
#include "standin/records/devstat.h"
#include "standin/records/ifaddrs.h"
#include "standin/records/kvm.h"
#include "standin/records/libutil.h"
#include "standin/records/malloc_np.h"
#include "standin/records/net_if.h"
#include "standin/records/net_if_dl.h"
#include "standin/records/net_if_media.h"
#include "standin/records/netdb.h"
#include "standin/records/netinet_in.h"
#include "standin/records/netinet_in_pcb.h"
#include "standin/records/netinet_tcp_var.h"
#include "standin/records/signal.h"
#include "standin/records/string.h"
#include "standin/records/sys_caprights.h"
#include "standin/records/sys_cpuset.h"
#include "standin/records/sys_file.h"
#include "standin/records/sys_ioctl.h"
#include "standin/records/sys_mount.h"
#include "standin/records/sys_priority.h"
#include "standin/records/sys_resource.h"
#include "standin/records/sys_socket.h"
#include "standin/records/sys_socketvar.h"
#include "standin/records/sys_sysctl.h"
#include "standin/records/sys_time.h"
#include "standin/records/sys_types.h"
#include "standin/records/sys_un.h"
#include "standin/records/sys_unpcb.h"
#include "standin/records/sys_user.h"
#include "standin/records/sys_vmmeter.h"
#include "standin/records/unistd.h"
#include "standin/records/utmpx.h"
