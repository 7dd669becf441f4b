#include "arch/all/str.h"

#include <Python.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "arch/all/errors.h"
#include "arch/all/globals.h"
#include "bsd.h"

// Misuse of the helpers: fatal while testing, a debug line otherwise.
static void str_report_error(const char *msg) {
    if (QUARN_TESTING) {
        std::fprintf(stderr, "CRITICAL: %s\n", msg);
        std::fflush(stderr);
        std::exit(1);
    }
    if (QUARN_DEBUG)
        quarn_debug("%s", msg);
}

extern "C" int str_format(char *buf, std::size_t size, const char *fmt, ...) {
    if (size == 0) {
        str_report_error("str_format: invalid arg 'size' = 0");
        return -1;
    }
    // Callers format between a failing call and the raise that reads errno.
    int saved = errno;
    std::va_list ap;
    va_start(ap, fmt);
    int ret = std::vsnprintf(buf, size, fmt, ap);
    va_end(ap);
    errno = saved;
    if (ret >= 0 && static_cast<std::size_t>(ret) < size)
        return ret;
    // A cut is not a misuse: callers accept the bounded text.
    if (QUARN_DEBUG)
        quarn_debug("str_format: error in format '%s'", fmt);
    buf[size - 1] = '\0';
    return -1;
}

extern "C" int str_copy(char *dst, std::size_t dst_size, const char *src) {
    if (dst_size == 0) {
        str_report_error("str_copy: invalid arg 'dst_size' = 0");
        return -1;
    }
    std::strncpy(dst, src, dst_size - 1);
    dst[dst_size - 1] = '\0';
    return 0;
}

extern "C" int str_append(char *dst, std::size_t dst_size, const char *src) {
    if (dst_size == 0 || dst == nullptr || src == nullptr) {
        str_report_error("str_append: invalid arg");
        return -1;
    }
    if (bsd::strlcat(dst, src, dst_size) >= dst_size) {
        str_report_error("str_append: truncated");
        return -1;
    }
    return 0;
}
