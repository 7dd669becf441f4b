"""CPU figures from injected answers: counts, tick counters, event
counters, boot time, frequency and topology. The live checks against the host
and the leak checks are in test_cpu_live.py."""

import errno
import os
import struct

import pytest

import _quarn_bsd as q
import standin
from conftest import leave_errno

TICK = 1.0 / 128
CPU_SOURCE = "arch/freebsd/cpu"
HW_NCPU = (6, 3)
KERN_BOOTTIME = (1, 21)
SYS_COUNTERS = ("v_swtch", "v_intr", "v_soft", "v_syscall", "v_trap")


def cp_time(user, nice, system, intr, idle):
    """One tick array in the kernel's order."""
    return struct.pack("<5q", user, nice, system, intr, idle)


def debug_lines(err):
    return [line for line in err.splitlines() if line.startswith("quarn-debug [")]


def sysctl_reads():
    return [c.key for c in standin.calls_to("sysctl")]


class TestCpuTimes:
    def test_ticks_become_seconds_with_idle_before_interrupt(self):
        standin.sysctl_answer("kern.cp_time", cp_time(128, 0, 256, 64, 640))
        assert q.cpu_times() == (1.0, 0.0, 2.0, 5.0, 0.5)

    def test_large_and_negative_counters_convert_as_signed_64_bit(self):
        standin.sysctl_answer("kern.cp_time", cp_time(2**40, -128, 1, 0, 2**62))
        assert q.cpu_times() == (2.0**33, -1.0, TICK, 2.0**55, 0.0)

    def test_short_answer_leaves_the_rest_zero(self):
        standin.sysctl_answer("kern.cp_time", struct.pack("<2q", 256, 128))
        assert q.cpu_times() == (2.0, 1.0, 0.0, 0.0, 0.0)

    def test_reads_forty_bytes_by_name(self):
        standin.sysctl_answer("kern.cp_time", cp_time(1, 2, 3, 4, 5))
        q.cpu_times()
        assert [(c.key, c.op, c.size) for c in standin.calls_to("sysctl")] == [
            ("kern.cp_time", "read", 40)]

    def test_failure_is_the_annotated_oserror(self):
        standin.sysctl_error("kern.cp_time", errno.EPERM)
        with pytest.raises(PermissionError) as exc:
            q.cpu_times()
        assert exc.value.errno == errno.EPERM
        assert exc.value.strerror == (
            f"{os.strerror(errno.EPERM)} (originated from sysctlbyname('kern.cp_time'))")

    def test_longer_answer_is_refused_not_read_past(self):
        standin.sysctl_answer("kern.cp_time", cp_time(1, 2, 3, 4, 5) + b"\xff" * 8)
        with pytest.raises(OSError) as exc:
            q.cpu_times()
        assert exc.value.errno == errno.ENOMEM

    def test_arguments_are_ignored(self):
        standin.sysctl_answer("kern.cp_time", cp_time(128, 0, 0, 0, 0))
        assert q.cpu_times(1, "x") == (1.0, 0.0, 0.0, 0.0, 0.0)


class TestPerCpuTimes:
    def four_cpus(self):
        standin.sysctl_answer(HW_NCPU, struct.pack("<i", 4))
        arrays = [cp_time(128 * (c + 1), c, 256, 64, 640 + c) for c in range(4)]
        standin.sysctl_answer("kern.cp_times", b"".join(arrays))
        return [(c + 1.0, c * TICK, 2.0, (640 + c) * TICK, 0.5) for c in range(4)]

    def test_four_cpus_give_four_tuples_cpu_0_first(self):
        expected = self.four_cpus()
        assert q.per_cpu_times() == expected

    def test_asks_for_the_count_then_count_times_forty_bytes(self):
        self.four_cpus()
        q.per_cpu_times()
        calls = [(c.key, c.op, c.size) for c in standin.calls_to("sysctl")]
        assert calls == [("6.3", "read", 4), ("kern.cp_times", "read", 160)]

    def test_element_order_is_that_of_cpu_times(self):
        standin.sysctl_answer(HW_NCPU, struct.pack("<i", 1))
        standin.sysctl_answer("kern.cp_times", cp_time(128, 0, 256, 64, 640))
        standin.sysctl_answer("kern.cp_time", cp_time(128, 0, 256, 64, 640))
        assert q.per_cpu_times() == [q.cpu_times()]

    @pytest.mark.parametrize("count,arrays,extra,read_size", [
        (struct.pack("<i", 3), 1, b"", 3 * 40),              # fewer CPUs came back
        (struct.pack("<i", 3), 2, b"\x01" * 20, 3 * 40),     # a partial array is no CPU
        (b"\xff\xff\xff", 2, b"", 1024 * 40),                # short count: 16,777,215
        (struct.pack("<i", 2**31 - 1), 3, b"", 1024 * 40),
        (struct.pack("<i", 1024), 1024, b"", 1024 * 40),
    ], ids=["short-table", "partial-array", "short-count", "int-max", "max-cpus"])
    def test_only_cpus_that_came_back_are_listed(self, count, arrays, extra, read_size):
        standin.sysctl_answer(HW_NCPU, count)
        standin.sysctl_answer("kern.cp_times", cp_time(128, 0, 0, 0, 0) * arrays + extra)
        assert q.per_cpu_times() == [(1.0, 0.0, 0.0, 0.0, 0.0)] * arrays
        assert [c.size for c in standin.calls_to("sysctl", "kern.cp_times")] == [read_size]

    def test_more_cpus_than_any_machine_has_are_refused(self):
        standin.sysctl_answer(HW_NCPU, struct.pack("<i", 5000))
        standin.sysctl_answer("kern.cp_times", cp_time(1, 1, 1, 1, 1) * 1025)
        with pytest.raises(OSError) as exc:
            q.per_cpu_times()
        assert exc.value.errno == errno.ENOMEM

    def test_more_cpus_than_counted_is_refused(self):
        standin.sysctl_answer(HW_NCPU, struct.pack("<i", 1))
        standin.sysctl_answer("kern.cp_times", cp_time(1, 1, 1, 1, 1) * 2)
        with pytest.raises(OSError) as exc:
            q.per_cpu_times()
        assert exc.value.errno == errno.ENOMEM

    def test_failed_count_read_raises_and_asks_no_further(self):
        standin.sysctl_error(HW_NCPU, errno.EIO)
        with pytest.raises(OSError) as exc:
            q.per_cpu_times()
        assert exc.value.errno == errno.EIO
        assert "(originated from sysctl())" in exc.value.strerror
        assert sysctl_reads() == ["6.3"]

    def test_failed_table_read_raises(self):
        standin.sysctl_answer(HW_NCPU, struct.pack("<i", 2))
        standin.sysctl_error("kern.cp_times", errno.ENOENT)
        with pytest.raises(FileNotFoundError):
            q.per_cpu_times()

    def test_negative_count_is_a_memory_error_without_a_table_read(self):
        standin.sysctl_answer(HW_NCPU, struct.pack("<i", -1))
        with pytest.raises(MemoryError):
            q.per_cpu_times()
        assert sysctl_reads() == ["6.3"]

    def test_zero_count_is_refused_without_a_table_read(self):
        standin.sysctl_answer(HW_NCPU, struct.pack("<i", 0))
        with pytest.raises(RuntimeError, match=r"^quarn_sysctlbyname\(\) invalid args"):
            q.per_cpu_times()
        assert sysctl_reads() == ["6.3"]


class TestCpuStats:
    def answer_all(self, values):
        for name, value in zip(SYS_COUNTERS, values):
            standin.sysctl_answer(f"vm.stats.sys.{name}", struct.pack("<I", value))

    def test_context_switches_first_software_interrupts_read_first(self):
        self.answer_all([11, 22, 33, 44, 55])
        assert q.cpu_stats() == (11, 22, 33, 44, 55)
        assert [(c.key, c.size) for c in standin.calls_to("sysctl")] == [
            ("vm.stats.sys.v_soft", 4), ("vm.stats.sys.v_intr", 4),
            ("vm.stats.sys.v_syscall", 4), ("vm.stats.sys.v_trap", 4),
            ("vm.stats.sys.v_swtch", 4)]

    def test_counters_are_unsigned_32_bit(self):
        self.answer_all([0xFFFFFFFF, 0x80000000, 0, 1, 2])
        assert q.cpu_stats() == (0xFFFFFFFF, 0x80000000, 0, 1, 2)

    @pytest.mark.parametrize("failing", range(5))
    def test_first_failure_ends_the_call(self, failing):
        order = ["v_soft", "v_intr", "v_syscall", "v_trap", "v_swtch"]
        for name in order:
            if name == order[failing]:
                standin.sysctl_error(f"vm.stats.sys.{name}", errno.EACCES)
            else:
                standin.sysctl_answer(f"vm.stats.sys.{name}", struct.pack("<I", 1))
        with pytest.raises(PermissionError) as exc:
            q.cpu_stats()
        assert f"sysctlbyname('vm.stats.sys.{order[failing]}')" in exc.value.strerror
        assert sysctl_reads() == [f"vm.stats.sys.{n}" for n in order[:failing + 1]]


class TestBootTime:
    def test_microseconds_are_dropped_not_rounded(self):
        standin.sysctl_answer(KERN_BOOTTIME, struct.pack("<qq", 1700000000, 999999))
        t = q.boot_time()
        assert t == 1700000000.0 and isinstance(t, float)

    def test_reads_the_numeric_name_with_sixteen_bytes(self):
        standin.sysctl_answer(KERN_BOOTTIME, struct.pack("<qq", 5, 0))
        q.boot_time()
        assert [(c.key, c.size) for c in standin.calls_to("sysctl")] == [("1.21", 16)]

    def test_failure_is_the_annotated_oserror(self):
        standin.sysctl_error(KERN_BOOTTIME, errno.EPERM)
        with pytest.raises(PermissionError) as exc:
            q.boot_time()
        assert exc.value.strerror == f"{os.strerror(errno.EPERM)} (originated from sysctl())"


class TestCpuCountLogical:
    def test_count(self):
        standin.sysctl_answer(HW_NCPU, struct.pack("<i", 64))
        assert q.cpu_count_logical() == 64
        assert [(c.key, c.size) for c in standin.calls_to("sysctl")] == [("6.3", 4)]

    @pytest.mark.parametrize("data,claim", [
        (b"\xff\xff\xff", None), (b"\x02", None), (struct.pack("<i", 2), 8)])
    def test_anything_but_a_whole_int_is_no_count(self, data, claim):
        standin.push("sysctl", HW_NCPU, standin.answer(data, value=claim))
        assert q.cpu_count_logical() is None

    @pytest.mark.parametrize("err", [errno.ENOENT, errno.EPERM, 0])
    def test_failed_read_gives_none_and_no_pending_exception(self, err):
        standin.sysctl_error(HW_NCPU, err)
        # A pending exception would turn the None into a SystemError.
        assert q.cpu_count_logical() is None
        standin.reset()
        assert q.cpu_count_logical() == os.cpu_count()


class TestCpuFreq:
    def test_frequency_and_levels(self):
        standin.sysctl_answer("dev.cpu.3.freq", struct.pack("<i", 2400))
        standin.sysctl_answer("dev.cpu.3.freq_levels", b"2400/35000 1200/12000\0")
        assert q.cpu_freq(3) == (2400, "2400/35000 1200/12000")
        assert [(c.key, c.size) for c in standin.calls_to("sysctl")] == [
            ("dev.cpu.3.freq", 4), ("dev.cpu.3.freq_levels", 1000)]

    def test_missing_frequency_is_not_implemented(self):
        standin.sysctl_error("dev.cpu.0.freq", errno.ENOENT)
        with pytest.raises(NotImplementedError, match=r"^unable to read frequency$"):
            q.cpu_freq(0)
        assert sysctl_reads() == ["dev.cpu.0.freq"]

    @pytest.mark.parametrize("err,exc_type", [
        (errno.EACCES, PermissionError), (errno.EIO, OSError), (errno.ENOMEM, OSError)])
    def test_other_failures_are_the_plain_oserror(self, err, exc_type):
        standin.sysctl_error("dev.cpu.0.freq", err)
        with pytest.raises(exc_type) as exc:
            q.cpu_freq(0)
        assert exc.value.errno == err
        assert exc.value.strerror == os.strerror(err)
        assert "originated" not in str(exc.value)

    @pytest.mark.parametrize("left", [0, errno.ENOENT, errno.EPERM])
    def test_size_mismatch_stands_whatever_errno_was_left(self, left):
        standin.push("sysctl", "dev.cpu.0.freq", standin.answer(struct.pack("<i", 1), value=8))
        leave_errno(left)
        with pytest.raises(RuntimeError) as exc:
            q.cpu_freq(0)
        assert type(exc.value) is RuntimeError
        assert str(exc.value) == ("sysctlbyname('dev.cpu.0.freq') size mismatch: "
                                  "returned 8, expected 4")

    def test_missing_levels_give_the_empty_text_and_a_debug_line(self, capfd):
        standin.sysctl_answer("dev.cpu.1.freq", struct.pack("<i", 800))
        standin.sysctl_error("dev.cpu.1.freq_levels", errno.ENOENT)
        q.set_debug(True)
        assert q.cpu_freq(1) == (800, "")
        lines = debug_lines(capfd.readouterr().err)
        assert len(lines) == 1
        assert CPU_SOURCE in lines[0]
        assert lines[0].endswith("> cpu freq levels failed (ignored)")

    def test_missing_levels_write_nothing_without_debug(self, capfd):
        standin.sysctl_answer("dev.cpu.1.freq", struct.pack("<i", 800))
        standin.sysctl_error("dev.cpu.1.freq_levels", errno.ENOENT)
        assert q.cpu_freq(1) == (800, "")
        assert capfd.readouterr().err == ""

    def test_levels_filling_the_buffer_without_nul_are_cut_to_it(self):
        standin.sysctl_answer("dev.cpu.0.freq", struct.pack("<i", 1))
        standin.sysctl_answer("dev.cpu.0.freq_levels", b"7" * 1000)
        assert q.cpu_freq(0) == (1, "7" * 999)

    def test_levels_longer_than_the_buffer_fail_and_keep_what_came(self, capfd):
        standin.sysctl_answer("dev.cpu.0.freq", struct.pack("<i", 1))
        standin.sysctl_answer("dev.cpu.0.freq_levels", b"8" * 1500)
        q.set_debug(True)
        assert q.cpu_freq(0) == (1, "8" * 999)
        assert any("cpu freq levels failed (ignored)" in line
                   for line in debug_lines(capfd.readouterr().err))

    def test_names_are_never_cut(self):
        cpu = -2**31
        standin.sysctl_answer(f"dev.cpu.{cpu}.freq", struct.pack("<i", 7))
        standin.sysctl_answer(f"dev.cpu.{cpu}.freq_levels", b"7/-1\0")
        assert q.cpu_freq(cpu) == (7, "7/-1")

    @pytest.mark.parametrize("args,exc_type", [
        ((), TypeError), (("0",), TypeError), ((0, 1), TypeError), ((2**31,), OverflowError)])
    def test_bad_arguments(self, args, exc_type):
        with pytest.raises(exc_type):
            q.cpu_freq(*args)
        assert standin.calls_to("sysctl") == []


class TestCpuTopology:
    def test_text_is_returned_unparsed(self):
        text = "<groups>\n <group level=\"1\" cache-level=\"0\"></group>\n</groups>\n"
        standin.sysctl_answer("kern.sched.topology_spec", text.encode() + b"\0")
        assert q.cpu_topology() == text

    def test_answer_without_nul_is_not_read_past(self):
        standin.sysctl_answer("kern.sched.topology_spec", b"<groups/>")
        assert q.cpu_topology() == "<groups/>"

    def test_answer_of_no_bytes_is_the_empty_text(self):
        standin.sysctl_answer("kern.sched.topology_spec", b"")
        assert q.cpu_topology() == ""

    def test_text_stops_at_its_first_nul(self):
        standin.sysctl_answer("kern.sched.topology_spec", b"abc\0def")
        assert q.cpu_topology() == "abc"

    def test_missing_topology_gives_none_and_a_debug_line(self, capfd):
        standin.sysctl_error("kern.sched.topology_spec", errno.ENOENT)
        q.set_debug(True)
        assert q.cpu_topology() is None
        lines = debug_lines(capfd.readouterr().err)
        assert len(lines) == 1 and CPU_SOURCE in lines[0]
        assert lines[0].endswith("> ignore sysctlbyname('kern.sched.topology_spec') error")

    def test_exhausted_retries_give_none(self):
        # Every read finds the answer one byte longer than its measure.
        standin.sysctl_sequence("kern.sched.topology_spec",
                                [standin.answer(b"x" * n) for n in range(1, 30)])
        assert q.cpu_topology() is None
        ops = [c.op for c in standin.calls_to("sysctl")]
        assert ops.count("read") == 10 and ops.count("measure") == 11

    def test_invalid_utf8_raises_the_builders_error(self):
        standin.sysctl_answer("kern.sched.topology_spec", b"\xff\xfe\0")
        with pytest.raises(UnicodeDecodeError):
            q.cpu_topology()

