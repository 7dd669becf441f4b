// The host's interfaces in FreeBSD's terms: flags, types, counters, media
// words and socket addresses (sa_len, AF_INET6 28, sockaddr_dl).
#pragma once

#include <string>

#include "standin/freebsd.h"
#include "standin/host/interfaces.h"

namespace standin {

unsigned bsd_if_flags(unsigned host_flags);
std::uint8_t bsd_if_type(unsigned short host_type);
bsd::if_data bsd_if_data(const host_link &link);
// The active media word of an Ethernet link's settings.
int bsd_media_word(const host_media &media);

// Socket addresses as their bytes (sa_len of them).
std::string bsd_sockaddr_dl(const host_link &link);
std::string bsd_sockaddr_in(const unsigned char *bytes);
std::string bsd_sockaddr_in6(const unsigned char *bytes, std::uint32_t scope_id);
std::string bsd_netmask(bool v6, unsigned prefixlen);

// FreeBSD's errno for the host's answer to an interface request.
int bsd_if_errno(int host_err);

}  // namespace standin
