// Per-interface traffic counters from the routing sysctl's interface list.
#pragma once

#include <Python.h>

extern "C" {
PyObject *quarn_net_io_counters(PyObject *self, PyObject *args);
}
