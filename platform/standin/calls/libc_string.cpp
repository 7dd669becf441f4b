// strlcat, which the host's C library may not have.
#include <cstring>

#include "standin/freebsd.h"

namespace bsd {

std::size_t strlcat(char *dst, const char *src, std::size_t size) {
    std::size_t srclen = std::strlen(src);
    std::size_t dstlen = 0;
    while (dstlen < size && dst[dstlen] != '\0')
        dstlen++;
    if (dstlen == size)  // no terminator within size: nothing to append to
        return size + srclen;
    std::size_t room = size - dstlen - 1;
    std::size_t n = srclen < room ? srclen : room;
    std::memcpy(dst + dstlen, src, n);
    dst[dstlen + n] = '\0';
    return dstlen + srclen;
}

}  // namespace bsd
