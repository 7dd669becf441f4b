// Memory figures: the kernel's page queues, swap, and the process's own
// allocator statistics.
#pragma once

#include <Python.h>

extern "C" {
PyObject *quarn_virtual_mem(PyObject *self, PyObject *args);
PyObject *quarn_swap_mem(PyObject *self, PyObject *args);
PyObject *quarn_heap_info(PyObject *self, PyObject *args);
PyObject *quarn_heap_trim(PyObject *self, PyObject *args);
}
