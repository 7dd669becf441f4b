#include "arch/all/convert.h"

PyObject *field2py(const char *field, std::size_t size) {
    return PyUnicode_DecodeFSDefaultAndSize(field, static_cast<Py_ssize_t>(strnlen(field, size)));
}

double timeval2double(const bsd::timeval &tv) {
    return static_cast<double>(tv.tv_usec) / 1000000.0 + static_cast<double>(tv.tv_sec);
}

std::uint64_t pages2bytes(std::uint64_t pages, long pagesize) {
    return pages * static_cast<std::uint64_t>(pagesize);
}

int append_new(PyObject *list, PyObject *item) {
    if (item == nullptr)
        return -1;
    int rc = PyList_Append(list, item);
    Py_DECREF(item);
    return rc;
}

int set_new(PyObject *dict, const char *key, PyObject *item) {
    if (item == nullptr)
        return -1;
    int rc = PyDict_SetItemString(dict, key, item);
    Py_DECREF(item);
    return rc;
}
