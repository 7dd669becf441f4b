// inet_ntop with FreeBSD's family numbers, on the host's conversion.
// FreeBSD records first: host headers define some of their field names
// as macros.
#include "standin/freebsd.h"
#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>


namespace bsd {

const char *inet_ntop(int af, const void *src, char *dst, socklen_t size) {
    int host_af;
    if (af == af_inet)
        host_af = AF_INET;
    else if (af == af_inet6)
        host_af = AF_INET6;
    else {
        errno = EAFNOSUPPORT;
        return nullptr;
    }
    return ::inet_ntop(host_af, src, dst, size);
}

}  // namespace bsd
