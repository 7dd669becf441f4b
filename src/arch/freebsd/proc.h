// The kernel's per-process record and the process list. (Its zombie test
// and proc_is_zombie are declared in arch/posix/posix.h, the one-process
// figures in proc_info.h.)
#pragma once

#include <Python.h>

#include "bsd.h"

extern "C" {
int quarn_kinfo_proc(int pid, bsd::kinfo_proc *proc);
int _quarn_pids(int **pids, int *count);

PyObject *quarn_pids(PyObject *self, PyObject *args);
}
