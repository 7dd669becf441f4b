// Converters from kernel values to Python values and plain numbers, each
// written once and named by direction.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bsd.h"

// A text field of a record as str: up to its first NUL, or the whole field
// when the kernel left none, never past it.
PyObject *field2py(const char *field, std::size_t size);

// Seconds, with the microseconds as the fraction.
double timeval2double(const bsd::timeval &tv);

// Pages as bytes. Page counts are kernel data: the product wraps like the
// kernel's own arithmetic instead of overflowing.
std::uint64_t pages2bytes(std::uint64_t pages, long pagesize);

// A field of kernel data, which may sit anywhere in a buffer: copied out.
template <class T> T load(const char *p) {
    T v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

// Appends a new object and drops the caller's reference to it: 0, or -1
// with the exception set (also when item is null, its maker's exception).
int append_new(PyObject *list, PyObject *item);

// The same for a dictionary entry under key.
int set_new(PyObject *dict, const char *key, PyObject *item);
