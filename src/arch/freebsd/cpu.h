// CPU figures of the whole machine: counts, tick counters, event counters,
// boot time, frequency and the scheduler's topology text.
#pragma once

#include <Python.h>

extern "C" {
PyObject *quarn_cpu_count_logical(PyObject *self, PyObject *args);
PyObject *quarn_cpu_times(PyObject *self, PyObject *args);
PyObject *quarn_per_cpu_times(PyObject *self, PyObject *args);
PyObject *quarn_cpu_stats(PyObject *self, PyObject *args);
PyObject *quarn_boot_time(PyObject *self, PyObject *args);
PyObject *quarn_cpu_freq(PyObject *self, PyObject *args);
PyObject *quarn_cpu_topology(PyObject *self, PyObject *args);
}
