"""Battery and CPU temperature answers of the stand-in from made-up /sys
trees."""

import pytest

import _quarn_bsd as q


def make_battery(write, status="Discharging"):
    write("/sys/class/power_supply/AC/type", "Mains\n")
    write("/sys/class/power_supply/AC/online", "0\n" if status == "Discharging" else "1\n")
    write("/sys/class/power_supply/BAT0/type", "Battery\n")
    write("/sys/class/power_supply/BAT0/status", status + "\n")
    write("/sys/class/power_supply/BAT0/capacity", "40\n")
    write("/sys/class/power_supply/BAT0/energy_now", "20000000\n")
    write("/sys/class/power_supply/BAT0/power_now", "10000000\n")


@pytest.mark.parametrize("status, expected", [("Discharging", (40, 120, 0)),
                                              ("Charging", (40, -1, 1))])
def test_battery_from_sys(host_tree, status, expected):
    make_battery(host_tree, status)
    assert q.sensors_battery() == expected


def test_device_battery_is_not_the_machines(host_tree):
    host_tree("/sys/class/power_supply/hid-mouse/type", "Battery\n")
    host_tree("/sys/class/power_supply/hid-mouse/scope", "Device\n")
    host_tree("/sys/class/power_supply/hid-mouse/capacity", "90\n")
    with pytest.raises(NotImplementedError, match="^no battery$"):
        q.sensors_battery()


def make_coretemp(write):
    write("/sys/devices/system/cpu/online", "0-1\n")
    for cpu, core in ((0, 0), (1, 4)):
        write(f"/sys/devices/system/cpu/cpu{cpu}/topology/core_id", f"{core}\n")
        write(f"/sys/devices/system/cpu/cpu{cpu}/topology/physical_package_id", "0\n")
    hw = "/sys/class/hwmon/hwmon3/"
    write(hw + "name", "coretemp\n")
    for n, label, milli in ((1, "Package id 0", 55000), (2, "Core 0", 50000),
                            (6, "Core 4", 61960)):
        write(hw + f"temp{n}_label", label + "\n")
        write(hw + f"temp{n}_input", f"{milli}\n")
        write(hw + f"temp{n}_crit", "100000\n")


def test_coretemp_from_sys(host_tree):
    make_coretemp(host_tree)
    assert q.sensors_cpu_temperature(0) == (50, 100)
    assert q.sensors_cpu_temperature(1) == (62, 100)  # 61.96 rounds to 3352 tenths
    with pytest.raises(NotImplementedError, match="^no temperature sensors$"):
        q.sensors_cpu_temperature(2)


def test_amd_sensor_has_no_maximum(host_tree):
    host_tree("/sys/devices/system/cpu/online", "0\n")
    host_tree("/sys/class/hwmon/hwmon0/name", "k10temp\n")
    host_tree("/sys/class/hwmon/hwmon0/temp1_input", "45000\n")
    assert q.sensors_cpu_temperature(0) == (45, -273)
