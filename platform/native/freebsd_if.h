// FreeBSD's interface headers, brought into namespace bsd.
#pragma once

#include <sys/types.h>
#include <sys/ioctl.h>    // ioctl
#include <sys/socket.h>   // socket, sockaddr, AF_*, PF_ROUTE
#include <net/if.h>       // ifreq, if_msghdr, if_data, IFF_*
#include <net/if_dl.h>    // sockaddr_dl
#include <net/if_media.h> // ifmediareq, IFM_*
#include <net/route.h>    // NET_RT_IFLIST, RTM_IFINFO
#include <netinet/in.h>   // sockaddr_in, sockaddr_in6
#include <ifaddrs.h>      // getifaddrs, freeifaddrs
#include <netdb.h>        // getnameinfo, NI_*
#include <unistd.h>       // close

namespace bsd {
using ::sockaddr;
using ::sockaddr_in;
using ::sockaddr_in6;
using ::sockaddr_dl;
using ::ifaddrs;
using ::ifreq;
using ::ifmediareq;
using ::if_msghdr;
using ::if_data;

using ::freeifaddrs;
using ::socket;
using ::close;
}  // namespace bsd
