// Interface addresses and state: the address list with its text
// conversion, and the per-interface requests on a datagram socket.
#pragma once

#include <Python.h>

extern "C" {
PyObject *quarn_convert_ipaddr(const void *sa, int family);
PyObject *quarn_net_if_addrs(PyObject *self, PyObject *args);
PyObject *quarn_net_if_mtu(PyObject *self, PyObject *args);
PyObject *quarn_net_if_flags(PyObject *self, PyObject *args);
PyObject *quarn_net_if_is_running(PyObject *self, PyObject *args);
PyObject *quarn_net_if_duplex_speed(PyObject *self, PyObject *args);
int quarn_get_nic_speed(int ifm_active);
}
