// The kernel's per-process record and process list, and the module
// functions built directly on them.
#pragma once

#include <Python.h>

#include "bsd.h"

extern "C" {
int quarn_kinfo_proc(int pid, bsd::kinfo_proc *proc);
int is_zombie(int pid);
int _quarn_pids(int **pids, int *count);

PyObject *quarn_pids(PyObject *self, PyObject *args);
PyObject *quarn_proc_is_zombie(PyObject *self, PyObject *args);
PyObject *quarn_proc_oneshot_info(PyObject *self, PyObject *args);
PyObject *quarn_proc_name(PyObject *self, PyObject *args);
PyObject *quarn_proc_num_threads(PyObject *self, PyObject *args);
}
