// A process's scheduling priority (nice value).
#pragma once

#include <Python.h>

extern "C" {
PyObject *quarn_proc_priority_get(PyObject *self, PyObject *args);
PyObject *quarn_proc_priority_set(PyObject *self, PyObject *args);
}
