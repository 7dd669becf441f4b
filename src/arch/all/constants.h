// Integer constants of the module, each under its platform name and with
// the platform's value, the name written once: QUARN_CONSTANT(SZOMB) is
// {"SZOMB", SZOMB}.
#pragma once

#include <Python.h>

#include <cstddef>

struct quarn_constant {
    const char *name;
    long value;
};

#define QUARN_CONSTANT(name) {#name, name}

// Adds the table's constants in its order: 0, or -1 at the first that fails.
int quarn_add_constants(PyObject *mod, const quarn_constant *table, std::size_t count);

template <std::size_t N>
int quarn_add_constants(PyObject *mod, const quarn_constant (&table)[N]) {
    return quarn_add_constants(mod, table, N);
}
