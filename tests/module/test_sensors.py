"""Battery and CPU temperature: injected and live."""

import errno
import glob
import os
import struct

import pytest

import _quarn_bsd as q
import standin
from leakcheck import assert_flat

BATTERY = ["hw.acpi.battery.life", "hw.acpi.battery.time", "hw.acpi.acline"]


def i32(v):
    return struct.pack("<i", v)


def temperatures(cpu, temp, tjmax=None):
    standin.sysctl_answer(f"dev.cpu.{cpu}.temperature", i32(temp))
    if tjmax is None:
        standin.sysctl_error(f"dev.cpu.{cpu}.coretemp.tjmax", errno.ENOENT)
    else:
        standin.sysctl_answer(f"dev.cpu.{cpu}.coretemp.tjmax", i32(tjmax))


class TestBattery:
    @pytest.mark.parametrize("values", [(40, 95, 0), (100, -1, 1), (0, 0, 0)])
    def test_values_pass_through(self, values):
        for name, v in zip(BATTERY, values):
            standin.sysctl_answer(name, i32(v))
        assert q.sensors_battery() == values
        assert [(c.key, c.size) for c in standin.calls_to("sysctl")] == [(n, 4) for n in BATTERY]

    @pytest.mark.parametrize("missing", range(3))
    def test_any_missing_parameter_is_no_battery(self, missing):
        for name in BATTERY[:missing]:
            standin.sysctl_answer(name, i32(1))
        standin.sysctl_error(BATTERY[missing], errno.ENOENT)
        with pytest.raises(NotImplementedError, match="^no battery$"):
            q.sensors_battery()
        # The first failure ends the reading.
        assert [c.key for c in standin.calls_to("sysctl")] == BATTERY[:missing + 1]

    def test_other_failure_is_the_plain_oserror(self):
        standin.sysctl_error(BATTERY[0], errno.EACCES)
        with pytest.raises(PermissionError) as e:
            q.sensors_battery()
        assert (e.value.errno, e.value.strerror) == (errno.EACCES, os.strerror(errno.EACCES))

    @pytest.mark.parametrize("short", [0, 2])
    @pytest.mark.parametrize("at", range(3))
    def test_short_answer_is_a_size_mismatch(self, at, short):
        for i, name in enumerate(BATTERY):
            standin.sysctl_answer(name, i32(7)[:short] if i == at else i32(1))
        with pytest.raises(RuntimeError) as e:
            q.sensors_battery()
        assert str(e.value) == (f"sysctlbyname('{BATTERY[at]}') size mismatch: "
                                f"returned {short}, expected 4")

    def test_oversized_answer_keeps_its_own_error(self):
        standin.push("sysctl", BATTERY[0], standin.answer(i32(1), value=8))
        with pytest.raises(RuntimeError, match="size mismatch"):
            q.sensors_battery()


class TestTemperature:
    @pytest.mark.parametrize("raw, celsius", [
        (3231, 50), (2731, 0), (3230, 49), (2700, -3), (0, -273), (-(1 << 31), -214748637),
    ])
    def test_tenths_of_kelvin_truncate_toward_zero(self, raw, celsius):
        temperatures(0, raw, raw)
        assert q.sensors_cpu_temperature(0) == (celsius, celsius)

    @pytest.mark.parametrize("cpu", [0, 7, 100, 123456])
    def test_reads_the_two_parameters_of_that_cpu(self, cpu):
        temperatures(cpu, 3231, 3731)
        assert q.sensors_cpu_temperature(cpu) == (50, 100)
        assert [c.key for c in standin.calls_to("sysctl")] == [
            f"dev.cpu.{cpu}.temperature", f"dev.cpu.{cpu}.coretemp.tjmax"]

    @pytest.mark.parametrize("err", [errno.ENOENT, errno.EIO])
    def test_unreadable_maximum_is_minus_273(self, err):
        standin.sysctl_answer("dev.cpu.1.temperature", i32(3231))
        standin.sysctl_error("dev.cpu.1.coretemp.tjmax", err)
        assert q.sensors_cpu_temperature(1) == (50, -273)

    @pytest.mark.parametrize("short", [b"", b"\x01\x02\x03"])
    def test_short_answers(self, short):
        # a short temperature is a size mismatch; a short maximum is none
        standin.sysctl_answer("dev.cpu.0.temperature", i32(3231))
        standin.sysctl_answer("dev.cpu.0.coretemp.tjmax", short)
        assert q.sensors_cpu_temperature(0) == (50, -273)
        standin.reset()
        standin.sysctl_answer("dev.cpu.0.temperature", short)
        with pytest.raises(RuntimeError) as e:
            q.sensors_cpu_temperature(0)
        assert str(e.value) == (f"sysctlbyname('dev.cpu.0.temperature') size mismatch: "
                                f"returned {len(short)}, expected 4")

    @pytest.mark.parametrize("err, exc", [(errno.ENOENT, NotImplementedError),
                                          (errno.EIO, OSError)])
    def test_unreadable_temperature(self, err, exc):
        standin.sysctl_error("dev.cpu.0.temperature", err)
        with pytest.raises(exc) as e:
            q.sensors_cpu_temperature(0)
        if exc is NotImplementedError:
            assert str(e.value) == "no temperature sensors"
        else:
            assert e.value.errno == err and "originated" not in str(e.value)

    @pytest.mark.parametrize("args", [(), ("0",), (1 << 40,)])
    def test_bad_arguments(self, args):
        with pytest.raises((TypeError, OverflowError)):
            q.sensors_cpu_temperature(*args)


# ---- live ----

def host_has(kind):
    if kind == "battery":
        return any(open(t).read().strip() == "Battery"
                   for t in glob.glob("/sys/class/power_supply/*/type"))
    return any(open(n).read().strip() in ("coretemp", "k10temp", "zenpower", "cpu_thermal")
               for n in glob.glob("/sys/class/hwmon/*/name"))


@pytest.mark.parametrize("fn, args, kind, message", [
    (q.sensors_battery, (), "battery", "no battery"),
    (q.sensors_cpu_temperature, (0,), "sensor", "no temperature sensors"),
])
def test_live_host_without_the_hardware(fn, args, kind, message):
    if host_has(kind):
        result = fn(*args)
        assert all(isinstance(v, int) for v in result)
        return
    with pytest.raises(NotImplementedError, match=f"^{message}$"):
        fn(*args)


# ---- leaks ----

@pytest.mark.parametrize("setup, fn, args, expect", [
    (lambda: [standin.sysctl_answer(n, i32(1)) for n in BATTERY], q.sensors_battery, (), None),
    (lambda: standin.sysctl_error(BATTERY[1], errno.ENOENT), q.sensors_battery, (),
     NotImplementedError),
    (lambda: standin.sysctl_error(BATTERY[0], errno.EIO), q.sensors_battery, (), OSError),
    (lambda: temperatures(0, 3231, 3731), q.sensors_cpu_temperature, (0,), None),
    (lambda: temperatures(0, 3231), q.sensors_cpu_temperature, (0,), None),
    (lambda: standin.sysctl_error("dev.cpu.0.temperature", errno.ENOENT),
     q.sensors_cpu_temperature, (0,), NotImplementedError),
    (lambda: None, q.sensors_cpu_temperature, ("x",), TypeError),
])
def test_no_leaks(setup, fn, args, expect):
    setup()
    assert_flat(fn, *args, calls=2000, expect=expect)
