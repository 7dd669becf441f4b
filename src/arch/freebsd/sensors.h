// Sensors: the ACPI battery and the CPU temperature driver.
#pragma once

#include <Python.h>

extern "C" {
PyObject *quarn_sensors_battery(PyObject *self, PyObject *args);
PyObject *quarn_sensors_cpu_temperature(PyObject *self, PyObject *args);
}
