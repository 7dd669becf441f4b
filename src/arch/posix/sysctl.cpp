#include "arch/posix/sysctl.h"

#include <cerrno>
#include <cstdlib>

#include "arch/all/errors.h"
#include "arch/all/str.h"
#include "bsd.h"

namespace {

constexpr int max_reads = 10;

// One growing read, shared by the numeric and the string form. Each form
// supplies its kernel call and its messages; the loop exists only here.
struct growing_read {
    int (*call)(const growing_read &, void *, std::size_t *);
    int *mib;
    unsigned int miblen;
    const char *name;
    const char *dbg_size0;
    const char *dbg_retry;
};

int call_mib(const growing_read &r, void *buf, std::size_t *len) {
    return bsd::sysctl(r.mib, r.miblen, buf, len, nullptr, 0);
}

int call_name(const growing_read &r, void *buf, std::size_t *len) {
    return bsd::sysctlbyname(r.name, buf, len, nullptr, 0);
}

// Raises the annotated OSError for one step ("1/3", "2/3", "3/3").
void raise_step(const growing_read &r, const char *step) {
    char what[256];
    if (r.name)
        str_format(what, sizeof(what), "sysctlbyname('%s') malloc %s", r.name, step);
    else
        str_format(what, sizeof(what), "sysctl() malloc %s", step);
    quarn_oserror_wsyscall(what);
}

// The fixed reads' size-mismatch RuntimeError, for either form of name.
void raise_size_mismatch(const growing_read &r, std::size_t len, std::size_t size) {
    if (r.name == nullptr) {
        quarn_runtime_error("sysctl() size mismatch");
        return;
    }
    char msg[256];
    str_format(msg, sizeof(msg), "sysctlbyname('%s') size mismatch: returned %zu, expected %zu",
               r.name, len, size);
    PyErr_SetString(PyExc_RuntimeError, msg);
}

int run_growing_read(const growing_read &r, char **out, std::size_t *outlen) {
    std::size_t size = 0;
    if (r.call(r, nullptr, &size) == -1) {
        raise_step(r, "1/3");
        return -1;
    }
    if (size == 0)
        quarn_debug("%s", r.dbg_size0);

    for (int attempt = 0; attempt < max_reads; attempt++) {
        char *buf = static_cast<char *>(std::calloc(1, size));
        // A zero-size answer still gets a buffer the caller can release,
        // also from an allocator whose calloc(1, 0) gives null.
        if (buf == nullptr && size == 0)
            buf = static_cast<char *>(std::calloc(1, 1));
        if (buf == nullptr) {
            PyErr_NoMemory();
            return -1;
        }
        std::size_t len = size;
        if (r.call(r, buf, &len) == 0) {
            // A kernel that claims to have written more than the buffer
            // holds is refused, as the fixed reads refuse it: no caller may
            // walk past the buffer on its word.
            if (len > size) {
                std::free(buf);
                raise_size_mismatch(r, len, size);
                return -1;
            }
            *out = buf;
            *outlen = len;
            return 0;
        }
        int err = errno;
        std::free(buf);
        errno = err;
        if (err != ENOMEM) {
            raise_step(r, "3/3");
            return -1;
        }
        // A measure passes no buffer and a length of 0.
        size = 0;
        if (r.call(r, nullptr, &size) == -1) {
            raise_step(r, "2/3");
            return -1;
        }
        quarn_debug("%s", r.dbg_retry);
    }
    if (r.name) {
        char msg[256];
        str_format(msg, sizeof(msg), "sysctlbyname('%s') buffer allocation retry limit exceeded",
                   r.name);
        PyErr_SetString(PyExc_RuntimeError, msg);
    } else {
        quarn_runtime_error("sysctl() buffer allocation retry limit exceeded");
    }
    return -1;
}

}  // namespace

extern "C" int quarn_sysctl(int *name, unsigned int namelen, void *buf, std::size_t buflen) {
    if (name == nullptr || namelen == 0 || buf == nullptr || buflen == 0)
        return quarn_badargs("quarn_sysctl");
    std::size_t len = buflen;
    if (bsd::sysctl(name, namelen, buf, &len, nullptr, 0) == -1) {
        quarn_oserror_wsyscall("sysctl()");
        return -1;
    }
    if (len > buflen) {
        quarn_runtime_error("sysctl() size mismatch");
        return -1;
    }
    return 0;
}

extern "C" int quarn_sysctlbyname_len(const char *name, void *buf, std::size_t buflen,
                                      std::size_t *got) {
    if (name == nullptr || buf == nullptr || buflen == 0)
        return quarn_badargs("quarn_sysctlbyname");
    char msg[256];
    std::size_t len = buflen;
    if (bsd::sysctlbyname(name, buf, &len, nullptr, 0) == -1) {
        str_format(msg, sizeof(msg), "sysctlbyname('%s')", name);
        quarn_oserror_wsyscall(msg);
        return -1;
    }
    if (len > buflen) {
        str_format(msg, sizeof(msg), "sysctlbyname('%s') size mismatch: returned %zu, expected %zu",
                   name, len, buflen);
        PyErr_SetString(PyExc_RuntimeError, msg);
        return -1;
    }
    if (got != nullptr)
        *got = len;
    return 0;
}

extern "C" int quarn_sysctlbyname(const char *name, void *buf, std::size_t buflen) {
    return quarn_sysctlbyname_len(name, buf, buflen, nullptr);
}

extern "C" int quarn_sysctl_call_failed(void) {
    return PyErr_ExceptionMatches(PyExc_OSError);
}

extern "C" int quarn_sysctl_malloc(int *name, unsigned int namelen, char **buf,
                                   std::size_t *buflen) {
    if (name == nullptr || namelen == 0 || buf == nullptr || buflen == nullptr)
        return quarn_badargs("quarn_sysctl_malloc");
    growing_read r{call_mib, name, namelen, nullptr, "quarn_sysctl_malloc() size = 0",
                   "quarn_sysctl_malloc() retry"};
    return run_growing_read(r, buf, buflen);
}

extern "C" int quarn_sysctlbyname_malloc(const char *name, char **buf, std::size_t *buflen) {
    if (name == nullptr || buf == nullptr || buflen == nullptr)
        return quarn_badargs("quarn_sysctlbyname_malloc");
    growing_read r{call_name, nullptr, 0, name, "quarn_sysctlbyname_malloc() size = 0",
                   "quarn_sysctlbyname_malloc() retry"};
    return run_growing_read(r, buf, buflen);
}

extern "C" std::int64_t quarn_sysctl_argmax(void) {
    int mib[2] = {CTL_KERN, KERN_ARGMAX};
    int argmax = 0;
    std::size_t len = sizeof(argmax);
    if (bsd::sysctl(mib, 2, &argmax, &len, nullptr, 0) == -1) {
        quarn_oserror_wsyscall("sysctl()");
        return 0;
    }
    if (len > sizeof(argmax)) {
        quarn_runtime_error("sysctl() size mismatch");
        return 0;
    }
    if (argmax <= 0) {
        quarn_runtime_error("sysctl(KERN_ARGMAX) return <= 0");
        return 0;
    }
    return argmax;
}

extern "C" long quarn_getpagesize(void) {
    return bsd::sysconf(_SC_PAGESIZE);
}

extern "C" PyObject *quarn_getpagesize_pywrapper(PyObject *, PyObject *) {
    return Py_BuildValue("l", bsd::sysconf(_SC_PAGESIZE));
}
