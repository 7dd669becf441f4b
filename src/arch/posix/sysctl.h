// Checked reads of kernel parameters: fixed-size into the caller's buffer,
// or growing into a buffer allocated here at the size the kernel reports.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

extern "C" {
int quarn_sysctl(int *name, unsigned int namelen, void *buf, std::size_t buflen);
int quarn_sysctl_malloc(int *name, unsigned int namelen, char **buf, std::size_t *buflen);
int quarn_sysctlbyname(const char *name, void *buf, std::size_t buflen);
// As quarn_sysctlbyname, and gives the bytes the kernel wrote (never more
// than buflen), for a table whose count is what actually came back.
int quarn_sysctlbyname_len(const char *name, void *buf, std::size_t buflen, std::size_t *got);
// After a failed read: 1 when a kernel call failed, so errno is its cause;
// 0 when the read was refused without one (a size mismatch, bad arguments),
// whose RuntimeError must stand rather than give way to a stale errno.
int quarn_sysctl_call_failed(void);
int quarn_sysctlbyname_malloc(const char *name, char **buf, std::size_t *buflen);
std::int64_t quarn_sysctl_argmax(void);
long quarn_getpagesize(void);
PyObject *quarn_getpagesize_pywrapper(PyObject *self, PyObject *args);
}
