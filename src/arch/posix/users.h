// The users logged in, from the login records.
#pragma once

#include <Python.h>

extern "C" PyObject *quarn_users(PyObject *self, PyObject *args);
