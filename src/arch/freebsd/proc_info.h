// Per-process figures read from the one-process record: the one-shot
// record, the name and the thread count.
#pragma once

#include <Python.h>

extern "C" {
PyObject *quarn_proc_oneshot_info(PyObject *self, PyObject *args);
PyObject *quarn_proc_name(PyObject *self, PyObject *args);
PyObject *quarn_proc_num_threads(PyObject *self, PyObject *args);
}
