// FreeBSD amd64's netdb.h, as the stand-in provides it: getnameinfo.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_socket.h"

namespace bsd {

int getnameinfo(const sockaddr *sa, unsigned int salen, char *host, std::size_t hostlen,
                char *serv, std::size_t servlen, int flags);

}  // namespace bsd
