// The sockets of one process, from its descriptor table.
#pragma once

#include <Python.h>

extern "C" PyObject *quarn_proc_net_connections(PyObject *self, PyObject *args);
