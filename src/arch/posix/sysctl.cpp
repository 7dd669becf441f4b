#include "arch/posix/sysctl.h"

#include <cerrno>
#include <cstdlib>

#include "arch/all/errors.h"
#include "arch/all/str.h"
#include "arch/all/owners.h"
#include "bsd.h"

// The growing parameter reads: measured before each read, at most ten reads.
constexpr int max_reads = 10;

namespace {

using errors = quarn_table_errors;

int call(const quarn_table &t, void *buf, std::size_t *len) {
    if (t.name != nullptr)
        return bsd::sysctlbyname(t.name, buf, len, nullptr, 0);
    return bsd::sysctl(t.mib, t.miblen, buf, len, nullptr, 0);
}

// The reader named in the debug lines of the growing parameter reads.
const char *reader(const quarn_table &t) {
    return t.name != nullptr ? "quarn_sysctlbyname_malloc()" : "quarn_sysctl_malloc()";
}

// A failed kernel call, by its errno; step names it in annotated messages.
int failed(const quarn_table &t, const char *step) {
    if (t.errors != errors::annotated) {
        quarn_oserror();
        return -1;
    }
    char what[256];
    if (t.name != nullptr)
        str_format(what, sizeof(what), "sysctlbyname('%s') malloc %s", t.name, step);
    else
        str_format(what, sizeof(what), "sysctl() malloc %s", step);
    quarn_oserror_wsyscall(what);
    return -1;
}

// No buffer of the size asked for, or a measure past the bound.
int no_memory(const quarn_table &t) {
    if (t.errors != errors::errno_only) {
        PyErr_NoMemory();
        return -1;
    }
    errno = ENOMEM;
    quarn_oserror();
    return -1;
}

int retry_limit(const quarn_table &t) {
    if (t.name == nullptr) {
        quarn_runtime_error("sysctl() buffer allocation retry limit exceeded");
        return -1;
    }
    char msg[256];
    str_format(msg, sizeof(msg), "sysctlbyname('%s') buffer allocation retry limit exceeded",
               t.name);
    PyErr_SetString(PyExc_RuntimeError, msg);
    return -1;
}

// Asks the kernel for the size now needed: no buffer and a length of 0.
int measure(const quarn_table &t, std::size_t *size, const char *step) {
    *size = 0;
    if (call(t, nullptr, size) == -1)
        return failed(t, step);
    if (t.errors != errors::annotated && *size > quarn_table_bound)
        return no_memory(t);
    return 0;
}

}  // namespace

int quarn_read_table(const quarn_table &t, char **out, std::size_t *outlen) {
    bool measured = t.first == 0;
    bool annotated = t.errors == errors::annotated;
    std::size_t size = t.first;
    if (measured && measure(t, &size, "1/3") == -1)
        return -1;
    if (measured && annotated && size == 0)
        quarn_debug("%s size = 0", reader(t));
    int repeats = t.repeats;
    for (int read = 1;; read++) {
        // Zeroed, so bytes the kernel claims but did not write hold nothing
        // of an earlier read. One byte at least: an empty answer still gets
        // a buffer the caller can release.
        heap<char> buf(static_cast<char *>(std::calloc(1, size ? size : 1)));
        if (buf.get() == nullptr)
            return no_memory(t);
        std::size_t len = size;
        if (call(t, buf.get(), &len) == 0) {
            // No walk may pass the buffer on the kernel's word.
            if (len > size) {
                // Only the annotated reads refuse it, as the fixed reads do.
                if (annotated)
                    return quarn_size_mismatch(t.name, len, size);
                len = size;
            }
            int rc = t.check != nullptr ? t.check(buf.get(), len, t.unit) : 0;
            if (rc == -1)
                return -1;
            if (rc == 1 && repeats > 0) {
                repeats--;
                continue;
            }
            *out = buf.release();
            *outlen = len;
            return 0;
        }
        if (errno != ENOMEM)
            return failed(t, "3/3");
        if (!measured) {
            // What the failed read left is read again, so nothing is copied.
            if (size >= quarn_table_bound)
                return failed(t, "3/3");
            size *= 2;
            continue;
        }
        if (read >= t.reads && !annotated)
            return failed(t, "3/3");
        if (measure(t, &size, "2/3") == -1)
            return -1;
        if (annotated)
            quarn_debug("%s retry", reader(t));
        if (read >= t.reads)
            return retry_limit(t);
    }
}

int quarn_size_mismatch(const char *name, std::size_t len, std::size_t size) {
    if (name == nullptr) {
        quarn_runtime_error("sysctl() size mismatch");
        return -1;
    }
    // Set as it is, not as a format: a name may hold a '%'.
    char msg[256];
    str_format(msg, sizeof(msg), "sysctlbyname('%s') size mismatch: returned %zu, expected %zu",
               name, len, size);
    PyErr_SetString(PyExc_RuntimeError, msg);
    return -1;
}

int quarn_check_size(std::uint64_t got, std::size_t want, const char *record) {
    if (got == want)
        return 0;
    quarn_runtime_error("struct %s size mismatch", record);
    return -1;
}

extern "C" int quarn_sysctl(int *name, unsigned int namelen, void *buf, std::size_t buflen) {
    if (name == nullptr || namelen == 0 || buf == nullptr || buflen == 0)
        return quarn_badargs("quarn_sysctl");
    std::size_t len = buflen;
    if (bsd::sysctl(name, namelen, buf, &len, nullptr, 0) == -1) {
        quarn_oserror_wsyscall("sysctl()");
        return -1;
    }
    if (len > buflen)
        return quarn_size_mismatch(nullptr, len, buflen);
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
    if (len > buflen)
        return quarn_size_mismatch(name, len, buflen);
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
    quarn_table t;
    t.mib = name;
    t.miblen = namelen;
    t.reads = max_reads;
    t.errors = quarn_table_errors::annotated;
    return quarn_read_table(t, buf, buflen);
}

extern "C" int quarn_sysctlbyname_malloc(const char *name, char **buf, std::size_t *buflen) {
    if (name == nullptr || buf == nullptr || buflen == nullptr)
        return quarn_badargs("quarn_sysctlbyname_malloc");
    quarn_table t;
    t.name = name;
    t.reads = max_reads;
    t.errors = quarn_table_errors::annotated;
    return quarn_read_table(t, buf, buflen);
}

extern "C" std::int64_t quarn_sysctl_argmax(void) {
    int mib[2] = {CTL_KERN, KERN_ARGMAX};
    int argmax = 0;
    if (quarn_sysctl(mib, 2, &argmax, sizeof(argmax)) == -1)
        return 0;
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
