// POSIX-level parts of the module: its resource-limit constants, method
// table B with ZombieProcessError, and process liveness.
#pragma once

#include <Python.h>

extern "C" {
int quarn_posix_add_constants(PyObject *mod);
int quarn_posix_add_methods(PyObject *mod);
int quarn_pid_exists(int pid);
PyObject *quarn_raise_for_pid(int pid, const char *what);
}
