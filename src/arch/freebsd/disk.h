// Disks: the mounted file systems and the per-device I/O counters.
#pragma once

#include <Python.h>

#include <cstdint>

#include "bsd.h"

extern "C" {
PyObject *quarn_disk_partitions(PyObject *self, PyObject *args);
PyObject *quarn_disk_io_counters(PyObject *self, PyObject *args);
std::int64_t quarn_bintime_ms(const bsd::bintime *bt);
}
