// Module entry: initialisation, method table A and the main constants.
#include <Python.h>

#include <cstdlib>

#include "arch/all/globals.h"
#include "arch/freebsd/cpu.h"
#include "arch/freebsd/disk.h"
#include "arch/freebsd/mem.h"
#include "arch/freebsd/net_conn.h"
#include "arch/freebsd/net_io.h"
#include "arch/freebsd/proc.h"
#include "arch/freebsd/proc_ctl.h"
#include "arch/freebsd/proc_path.h"
#include "arch/freebsd/sensors.h"
#include "arch/freebsd/proc_files.h"
#include "arch/posix/posix.h"

extern "C" {
int QUARN_DEBUG = 0;
int QUARN_TESTING = 0;
int QUARN_CONN_NONE = 128;
PyObject *ZombieProcessError = nullptr;
}

extern "C" int quarn_setup(void) {
    // Presence alone counts: an empty value switches a flag on too.
    if (std::getenv("QUARN_DEBUG") != nullptr)
        QUARN_DEBUG = 1;
    if (std::getenv("QUARN_TESTING") != nullptr)
        QUARN_TESTING = 1;
    return 0;
}

extern "C" PyObject *quarn_set_debug(PyObject *, PyObject *args) {
    PyObject *value;
    if (!PyArg_ParseTuple(args, "O", &value))
        return nullptr;
    int truth = PyObject_IsTrue(value);
    if (truth == -1)
        return nullptr;
    QUARN_DEBUG = truth;
    Py_RETURN_NONE;
}

extern "C" PyObject *quarn_check_pid_range(PyObject *, PyObject *args) {
    int pid;
    if (!PyArg_ParseTuple(args, "i", &pid))
        return nullptr;
    if (pid < 0) {
        PyErr_SetString(PyExc_ValueError, "pid must be a positive integer");
        return nullptr;
    }
    Py_RETURN_NONE;
}

static PyMethodDef mod_methods[] = {
    {"proc_cmdline", quarn_proc_cmdline, METH_VARARGS, nullptr},
    {"proc_cwd", quarn_proc_cwd, METH_VARARGS, nullptr},
    {"proc_environ", quarn_proc_environ, METH_VARARGS, nullptr},
    {"proc_name", quarn_proc_name, METH_VARARGS, nullptr},
    {"proc_num_fds", quarn_proc_num_fds, METH_VARARGS, nullptr},
    {"proc_oneshot_info", quarn_proc_oneshot_info, METH_VARARGS, nullptr},
    {"proc_open_files", quarn_proc_open_files, METH_VARARGS, nullptr},
    {"proc_threads", quarn_proc_threads, METH_VARARGS, nullptr},
    {"proc_num_threads", quarn_proc_num_threads, METH_VARARGS, nullptr},
    {"proc_cpu_affinity_get", quarn_proc_cpu_affinity_get, METH_VARARGS, nullptr},
    {"proc_cpu_affinity_set", quarn_proc_cpu_affinity_set, METH_VARARGS, nullptr},
    {"proc_exe", quarn_proc_exe, METH_VARARGS, nullptr},
    {"proc_getrlimit", quarn_proc_getrlimit, METH_VARARGS, nullptr},
    {"proc_memory_maps", quarn_proc_memory_maps, METH_VARARGS, nullptr},
    {"proc_net_connections", quarn_proc_net_connections, METH_VARARGS, nullptr},
    {"proc_setrlimit", quarn_proc_setrlimit, METH_VARARGS, nullptr},
    {"boot_time", quarn_boot_time, METH_VARARGS, nullptr},
    {"cpu_count_logical", quarn_cpu_count_logical, METH_VARARGS, nullptr},
    {"cpu_stats", quarn_cpu_stats, METH_VARARGS, nullptr},
    {"cpu_times", quarn_cpu_times, METH_VARARGS, nullptr},
    {"disk_io_counters", quarn_disk_io_counters, METH_VARARGS, nullptr},
    {"disk_partitions", quarn_disk_partitions, METH_VARARGS, nullptr},
    {"net_connections", quarn_net_connections, METH_VARARGS, nullptr},
    {"net_io_counters", quarn_net_io_counters, METH_VARARGS, nullptr},
    {"per_cpu_times", quarn_per_cpu_times, METH_VARARGS, nullptr},
    {"pids", quarn_pids, METH_VARARGS, nullptr},
    {"swap_mem", quarn_swap_mem, METH_VARARGS, nullptr},
    {"heap_info", quarn_heap_info, METH_VARARGS, nullptr},
    {"heap_trim", quarn_heap_trim, METH_VARARGS, nullptr},
    {"virtual_mem", quarn_virtual_mem, METH_VARARGS, nullptr},
    {"cpu_freq", quarn_cpu_freq, METH_VARARGS, nullptr},
    {"cpu_topology", quarn_cpu_topology, METH_VARARGS, nullptr},
    {"sensors_battery", quarn_sensors_battery, METH_VARARGS, nullptr},
    {"sensors_cpu_temperature", quarn_sensors_cpu_temperature, METH_VARARGS, nullptr},
    {"check_pid_range", quarn_check_pid_range, METH_VARARGS, nullptr},
    {"set_debug", quarn_set_debug, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

static struct PyModuleDef moduledef = {
    PyModuleDef_HEAD_INIT, "_quarn_bsd", nullptr, -1, mod_methods, nullptr, nullptr, nullptr,
    nullptr,
};

// Added in this order, after the POSIX constants and table B.
static const struct {
    const char *name;
    long value;
} main_constants[] = {
    {"version", 722},
    {"SIDL", 1},
    {"SRUN", 2},
    {"SSLEEP", 3},
    {"SSTOP", 4},
    {"SZOMB", 5},
    {"SWAIT", 6},
    {"SLOCK", 7},
    {"TCPS_CLOSED", 0},
    {"TCPS_CLOSING", 7},
    {"TCPS_CLOSE_WAIT", 5},
    {"TCPS_LISTEN", 1},
    {"TCPS_ESTABLISHED", 4},
    {"TCPS_SYN_SENT", 2},
    {"TCPS_SYN_RECEIVED", 3},
    {"TCPS_FIN_WAIT_1", 6},
    {"TCPS_FIN_WAIT_2", 9},
    {"TCPS_LAST_ACK", 8},
    {"TCPS_TIME_WAIT", 10},
    {"QUARN_CONN_NONE", 128},
};

// PyMODINIT_FUNC already gives C linkage and default visibility.
PyMODINIT_FUNC PyInit__quarn_bsd(void) {
    PyObject *mod = PyModule_Create2(&moduledef, 1013);
    if (mod == nullptr)
        return nullptr;
    if (quarn_setup() != 0)
        goto error;
    if (quarn_posix_add_constants(mod) != 0)
        goto error;
    if (quarn_posix_add_methods(mod) != 0)
        goto error;
    for (const auto &c : main_constants) {
        if (PyModule_AddIntConstant(mod, c.name, c.value))
            goto error;
    }
    return mod;

error:
    Py_DECREF(mod);
    return nullptr;
}
