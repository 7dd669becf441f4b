/* The floor a one-shot record call can reach: the same "i" parse and the
 * same Py_BuildValue over a table of kinfo_proc records held in memory, with
 * nothing between them. Built by bench_proc.py for comparison only; it is no
 * part of the module. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#define RECORD 1088

static char *table;
static Py_ssize_t count;

static int64_t i64(const char *rec, size_t off) {
    int64_t v;
    memcpy(&v, rec + off, sizeof(v));
    return v;
}

static int32_t i32(const char *rec, size_t off) {
    int32_t v;
    memcpy(&v, rec + off, sizeof(v));
    return v;
}

static double tv(const char *rec, size_t off) {
    return (double)i64(rec, off + 8) / 1000000.0 + (double)i64(rec, off);
}

/* load(bytes): the records, pid N at index N - 1. */
static PyObject *load(PyObject *self, PyObject *args) {
    const char *data;
    Py_ssize_t len;
    if (!PyArg_ParseTuple(args, "y#", &data, &len))
        return NULL;
    char *copy = PyMem_RawMalloc(len ? (size_t)len : 1);
    if (copy == NULL)
        return PyErr_NoMemory();
    memcpy(copy, data, (size_t)len);
    PyMem_RawFree(table);
    table = copy;
    count = len / RECORD;
    Py_RETURN_NONE;
}

static PyObject *oneshot(PyObject *self, PyObject *args) {
    long pagesize = sysconf(_SC_PAGESIZE);
    int pid;
    if (!PyArg_ParseTuple(args, "i", &pid))
        return NULL;
    if (pid < 1 || pid > count) {
        errno = ESRCH;
        return PyErr_SetFromErrno(PyExc_OSError);
    }
    char rec[RECORD];
    memcpy(rec, table + (size_t)(pid - 1) * RECORD, RECORD);
    char name[256];
    snprintf(name, sizeof(name), "%.*s", 19, rec + 447);
    PyObject *py_name = PyUnicode_DecodeFSDefault(name);
    if (py_name == NULL) {
        PyErr_Clear();
        py_name = Py_NewRef(Py_None);
    }
    PyObject *py_ppid = PyLong_FromLong(i32(rec, 76));
    if (py_ppid == NULL) {
        Py_DECREF(py_name);
        return NULL;
    }
    char stat = rec[388];
    int oncpu = i32(rec, 568), lastcpu = i32(rec, 572);
    int cpu = (stat == 2 && oncpu != -1) ? oncpu : lastcpu;
    uint32_t u[6];
    memcpy(u, rec + 168, sizeof(u));  /* uid, ruid, svuid, rgid, svgid, ngroups */
    uint32_t egid;
    memcpy(&egid, rec + 192, sizeof(egid));
    PyObject *ret = Py_BuildValue(
        "(OillllllLdllllddddlllllbO)", py_ppid, (int)stat, (long)u[1], (long)u[0],
        (long)u[2], (long)u[3], (long)egid, (long)u[4], (long long)i64(rec, 560),
        tv(rec, 336), (long)i64(rec, 736), (long)i64(rec, 744), (long)i64(rec, 696),
        (long)i64(rec, 704), tv(rec, 608), tv(rec, 624), tv(rec, 752), tv(rec, 768),
        (long)((unsigned long)i64(rec, 264) * (unsigned long)pagesize), (long)i64(rec, 256),
        (long)((unsigned long)i64(rec, 280) * (unsigned long)pagesize),
        (long)((unsigned long)i64(rec, 288) * (unsigned long)pagesize),
        (long)((unsigned long)i64(rec, 296) * (unsigned long)pagesize), cpu, py_name);
    Py_DECREF(py_ppid);
    Py_DECREF(py_name);
    return ret;
}

static PyMethodDef methods[] = {
    {"load", load, METH_VARARGS, NULL},
    {"oneshot", oneshot, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "floor_oneshot", NULL, -1, methods};

PyMODINIT_FUNC PyInit_floor_oneshot(void) {
    return PyModule_Create(&module);
}
