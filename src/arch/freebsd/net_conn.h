// The system-wide connection table, joined from the open-file table and the
// PCB lists (read in pcblist.cpp).
#pragma once

#include <Python.h>

// Open-file records by kernel address; finds the first record of an address.
struct quarn_xfile_index;

extern "C" {
int quarn_collect_inet_conns(int proto, int want_v4, int want_v6, PyObject *list,
                             const char *xfiles, int count,
                             quarn_xfile_index *index = nullptr);
int quarn_collect_unix_conns(int type, PyObject *list, const char *xfiles, int count,
                             quarn_xfile_index *index = nullptr);

PyObject *quarn_net_connections(PyObject *self, PyObject *args);
}
