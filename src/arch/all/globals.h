// Process-wide state of the module: the two flags, the no-TCP-state status
// and the zombie exception class. Defined by the module entry.
#pragma once

#include <Python.h>

extern "C" {
extern int QUARN_DEBUG;
extern int QUARN_TESTING;
extern int QUARN_CONN_NONE;
extern PyObject *ZombieProcessError;
}
