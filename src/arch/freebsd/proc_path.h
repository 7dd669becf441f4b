// What a process runs and where: its executable, arguments, environment and
// working directory.
#pragma once

#include <Python.h>

extern "C" {
PyObject *quarn_proc_exe(PyObject *self, PyObject *args);
PyObject *quarn_proc_cmdline(PyObject *self, PyObject *args);
PyObject *quarn_proc_environ(PyObject *self, PyObject *args);
PyObject *quarn_proc_cwd(PyObject *self, PyObject *args);
}
