// What a process holds: its open files and descriptor count (the kernel's
// open-file table), its threads and its memory map.
#pragma once

#include <Python.h>

extern "C" {
PyObject *quarn_proc_open_files(PyObject *self, PyObject *args);
PyObject *quarn_proc_num_fds(PyObject *self, PyObject *args);
PyObject *quarn_proc_threads(PyObject *self, PyObject *args);
PyObject *quarn_proc_memory_maps(PyObject *self, PyObject *args);
}
