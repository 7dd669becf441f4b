// Per-process controls: CPU affinity and resource limits.
#pragma once

#include <Python.h>

extern "C" {
PyObject *quarn_proc_cpu_affinity_get(PyObject *self, PyObject *args);
PyObject *quarn_proc_cpu_affinity_set(PyObject *self, PyObject *args);
PyObject *quarn_proc_getrlimit(PyObject *self, PyObject *args);
PyObject *quarn_proc_setrlimit(PyObject *self, PyObject *args);
}
