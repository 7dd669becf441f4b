// POSIX-level parts of the module: its resource-limit constants, method
// table B with ZombieProcessError, and process liveness.
//
// Whether a process is a zombie is read from the system's own process
// record (arch/freebsd/proc.cpp); table B and quarn_raise_for_pid reach it
// through the two declarations below.
#pragma once

#include <Python.h>

extern "C" {
int quarn_posix_add_constants(PyObject *mod);
int quarn_posix_add_methods(PyObject *mod);
int quarn_pid_exists(int pid);
PyObject *quarn_raise_for_pid(int pid, const char *what);

int is_zombie(int pid);
PyObject *quarn_proc_is_zombie(PyObject *self, PyObject *args);
}
