// The exception-raising operations and the debug log.
//
// The raising operations leave one exception pending and return no object,
// so a module function can end with "return quarn_oserror();". They leave
// errno as they found it.
#pragma once

#include <Python.h>

extern "C" {
PyObject *quarn_oserror(void);
PyObject *quarn_oserror_wsyscall(const char *what);
PyObject *quarn_oserror_nsp(const char *what);
PyObject *quarn_oserror_ad(const char *what);
PyObject *quarn_runtime_error(const char *fmt, ...);
int quarn_badargs(const char *funcname);
void convert_kvm_err(const char *what, const char *errbuf);
// After a failed read of a parameter that a machine may lack: a missing
// one (ENOENT) is raised as NotImplementedError with the message absent,
// any other failed call as OSError from its errno. A read refused without
// a failed call (a size mismatch) keeps its own exception.
PyObject *quarn_absent_or_oserror(const char *absent);
void quarn_debug_at(const char *file, int line, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
}

// Each call site shows its own file and line.
#define quarn_debug(...) quarn_debug_at(__FILE__, __LINE__, __VA_ARGS__)
