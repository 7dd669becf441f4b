// Socket connections: the system-wide table joined from the open-file table
// and the PCB lists, and the sockets of one process.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "bsd.h"

// Open-file records by kernel address; finds the first record of an address.
struct quarn_xfile_index;

extern "C" {
int quarn_fetch_xfiles(char **buf, int *count);
int quarn_collect_inet_conns(int proto, int want_v4, int want_v6, PyObject *list,
                             const char *xfiles, int count,
                             quarn_xfile_index *index = nullptr);
int quarn_collect_unix_conns(int type, PyObject *list, const char *xfiles, int count,
                             quarn_xfile_index *index = nullptr);

PyObject *quarn_net_connections(PyObject *self, PyObject *args);
PyObject *quarn_proc_net_connections(PyObject *self, PyObject *args);
}
