// FreeBSD amd64's ifaddrs.h, as the stand-in provides it: the interface address
// list.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_socket.h"

namespace bsd {

struct ifaddrs {
    ifaddrs *ifa_next;
    char *ifa_name;
    unsigned int ifa_flags;
    sockaddr *ifa_addr;
    sockaddr *ifa_netmask;
    sockaddr *ifa_dstaddr;  // also the broadcast address
    void *ifa_data;
};
static_assert(sizeof(ifaddrs) == 56);
static_assert(offsetof(ifaddrs, ifa_addr) == 24);
static_assert(offsetof(ifaddrs, ifa_dstaddr) == 40);

int getifaddrs(ifaddrs **ifap);

void freeifaddrs(ifaddrs *ifp);

}  // namespace bsd
