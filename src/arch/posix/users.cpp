#include "arch/posix/users.h"

#include <cstring>

#include "arch/all/str.h"
#include "bsd.h"

// A name field as text: a name that fills its whole field has no NUL and
// is taken whole, never read past the field.
static PyObject *field_to_py(const char *field, std::size_t size) {
    return PyUnicode_DecodeFSDefaultAndSize(field, static_cast<Py_ssize_t>(strnlen(field, size)));
}

static PyObject *utmpx_to_py(const bsd::utmpx *ut) {
    char host[sizeof(ut->ut_host) + 1];
    std::size_t len = strnlen(ut->ut_host, sizeof(ut->ut_host));
    std::memcpy(host, ut->ut_host, len);
    host[len] = '\0';
    // The local display counts as this machine.
    if (len == 0 || std::strcmp(host, ":0") == 0 || std::strcmp(host, ":0.0") == 0)
        str_copy(host, sizeof(host), "localhost");

    PyObject *user = field_to_py(ut->ut_user, sizeof(ut->ut_user));
    if (user == nullptr)
        return nullptr;
    PyObject *line = field_to_py(ut->ut_line, sizeof(ut->ut_line));
    if (line == nullptr) {
        Py_DECREF(user);
        return nullptr;
    }
    PyObject *host_py = PyUnicode_DecodeFSDefault(host);
    if (host_py == nullptr) {
        Py_DECREF(user);
        Py_DECREF(line);
        return nullptr;
    }
    PyObject *tuple = Py_BuildValue("OOOdi", user, line, host_py,
                                    static_cast<double>(ut->ut_tv.tv_sec), ut->ut_pid);
    Py_DECREF(user);
    Py_DECREF(line);
    Py_DECREF(host_py);
    return tuple;
}

extern "C" PyObject *quarn_users(PyObject *, PyObject *) {
    PyObject *list = PyList_New(0);
    if (list == nullptr)
        return nullptr;
    bsd::setutxent();
    bsd::utmpx *ut;
    while ((ut = bsd::getutxent()) != nullptr) {
        if (ut->ut_type != USER_PROCESS)
            continue;
        PyObject *tuple = utmpx_to_py(ut);
        if (tuple == nullptr)
            goto error;
        int rc = PyList_Append(list, tuple);
        Py_DECREF(tuple);
        if (rc != 0)
            goto error;
    }
    bsd::endutxent();
    return list;

error:
    bsd::endutxent();
    Py_DECREF(list);
    return nullptr;
}
