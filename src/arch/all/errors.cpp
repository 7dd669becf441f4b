#include "arch/all/errors.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "arch/all/globals.h"
#include "arch/all/str.h"
#include "bsd.h"

// Raises OSError(err, msg); the interpreter picks the errno's subclass.
static PyObject *raise_oserror_with(int err, const char *msg) {
    PyObject *exc = PyObject_CallFunction(PyExc_OSError, "(is)", err, msg);
    // Without an object this still raises a bare OSError.
    PyErr_SetObject(PyExc_OSError, exc);
    Py_XDECREF(exc);
    return nullptr;
}

extern "C" PyObject *quarn_oserror(void) {
    int saved = errno;
    PyErr_SetFromErrno(PyExc_OSError);
    errno = saved;
    return nullptr;
}

extern "C" PyObject *quarn_oserror_wsyscall(const char *what) {
    int saved = errno;
    char msg[512];
    str_format(msg, sizeof(msg), "%s (originated from %s)", std::strerror(saved), what);
    raise_oserror_with(saved, msg);
    errno = saved;
    return nullptr;
}

// OSError(err, msg), msg made from fmt and what; errno is kept.
static PyObject *raise_forced(int err, const char *fmt, const char *what) {
    int saved = errno;
    char msg[512];
    str_format(msg, sizeof(msg), fmt, what);
    raise_oserror_with(err, msg);
    errno = saved;
    return nullptr;
}

extern "C" PyObject *quarn_oserror_nsp(const char *what) {
    return raise_forced(ESRCH, "force no such process (originated from %s)", what);
}

extern "C" PyObject *quarn_oserror_ad(const char *what) {
    return raise_forced(EACCES, "force permission denied (originated from %s)", what);
}

extern "C" PyObject *quarn_runtime_error(const char *fmt, ...) {
    int saved = errno;
    std::va_list ap;
    va_start(ap, fmt);
    PyErr_FormatV(PyExc_RuntimeError, fmt, ap);
    va_end(ap);
    errno = saved;
    return nullptr;
}

extern "C" int quarn_badargs(const char *funcname) {
    PyErr_Format(PyExc_RuntimeError, "%s() invalid args passed to function", funcname);
    return -1;
}

extern "C" void convert_kvm_err(const char *what, const char *errbuf) {
    char fullmsg[512];
    str_format(fullmsg, sizeof(fullmsg), "(originated from %s: %s)", what, errbuf);
    if (std::strstr(errbuf, "Permission denied") || std::strstr(errbuf, "Operation not permitted"))
        quarn_oserror_ad(fullmsg);
    else
        PyErr_SetString(PyExc_RuntimeError, fullmsg);  // not a format: '%' stays
}

extern "C" PyObject *quarn_absent_or_oserror(const char *absent) {
    int err = errno;
    if (!PyErr_ExceptionMatches(PyExc_OSError))
        return nullptr;
    // Replaced, not raised over.
    PyErr_Clear();
    if (err == ENOENT) {
        PyErr_SetString(PyExc_NotImplementedError, absent);
        return nullptr;
    }
    errno = err;
    return quarn_oserror();
}

extern "C" void quarn_debug_at(const char *file, int line, const char *fmt, ...) {
    if (!QUARN_DEBUG)
        return;
    int saved = errno;
    std::fprintf(stderr, "quarn-debug [%s:%d]> ", file, line);
    std::va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fprintf(stderr, "\n");
    errno = saved;
}
