#include "arch/freebsd/sensors.h"

#include <cerrno>

#include "arch/all/errors.h"
#include "arch/all/str.h"
#include "arch/posix/sysctl.h"

// An int parameter whose answer filled the int: a shorter one is a size
// mismatch, since the bytes it left are nobody's value.
static int read_int(const char *name, int *value) {
    std::size_t got = 0;
    if (quarn_sysctlbyname_len(name, value, sizeof(*value), &got) != 0)
        return -1;
    if (got == sizeof(*value))
        return 0;
    return quarn_size_mismatch(name, got, sizeof(*value));
}

// An int parameter of a sensor that a machine may lack (absent_msg). errno
// is cleared first: a failed call that set none names no cause, and its own
// exception stands.
static int read_sensor(const char *name, int *value, const char *absent_msg) {
    errno = 0;
    if (read_int(name, value) == 0)
        return 0;
    if (errno != 0)
        quarn_absent_or_oserror(absent_msg);
    return -1;
}

extern "C" PyObject *quarn_sensors_battery(PyObject *, PyObject *) {
    int percent, minsleft, power_plugged;
    if (read_sensor("hw.acpi.battery.life", &percent, "no battery") != 0 ||
        read_sensor("hw.acpi.battery.time", &minsleft, "no battery") != 0 ||
        read_sensor("hw.acpi.acline", &power_plugged, "no battery") != 0)
        return nullptr;
    return Py_BuildValue("iii", percent, minsleft, power_plugged);
}

// Tenths of a kelvin as whole degrees Celsius, truncated toward zero.
// Widened first, so no kernel value can overflow the subtraction.
static int celsius(int decikelvin) {
    return static_cast<int>((static_cast<long long>(decikelvin) - 2731) / 10);
}

extern "C" PyObject *quarn_sensors_cpu_temperature(PyObject *, PyObject *args) {
    int cpu;
    if (!PyArg_ParseTuple(args, "i", &cpu))
        return nullptr;
    // Fits "dev.cpu.%d.coretemp.tjmax" with any int, so a name is never cut.
    char name[40];
    int value;
    str_format(name, sizeof(name), "dev.cpu.%d.temperature", cpu);
    if (read_sensor(name, &value, "no temperature sensors") != 0)
        return nullptr;
    int current = celsius(value);
    int tjmax = -273;
    str_format(name, sizeof(name), "dev.cpu.%d.coretemp.tjmax", cpu);
    if (read_int(name, &value) == 0)
        tjmax = celsius(value);
    else
        PyErr_Clear();
    return Py_BuildValue("ii", current, tjmax);
}
