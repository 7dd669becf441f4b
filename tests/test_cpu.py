"""CPU figures: counts, tick counters, event counters, boot time, frequency
and topology, injected and live."""

import errno
import os
import struct
import xml.etree.ElementTree as ET

import pytest

import _quarn_bsd as q
import standin
from conftest import leave_errno
from leakcheck import assert_flat

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


# ---- a made-up host tree (host_tree) for hardware this host lacks ----


def host_hz():
    return os.sysconf("SC_CLK_TCK")


def stat_lines():
    with open("/proc/stat") as f:
        return {w[0]: [int(x) for x in w[1:]] for w in (line.split() for line in f)
                if w and w[0].startswith("cpu")}


def expected_times(fields, hz):
    """The stand-in's documented mapping of one /proc/stat cpu line."""
    user, nice, system, idle, iowait, irq, softirq, steal = (fields + [0] * 8)[:8]

    def secs(ticks):
        return (ticks * 128 // hz) * TICK

    return (secs(user), secs(nice), secs(system + steal), secs(idle + iowait),
            secs(irq + softirq))


def assert_between(lo, got, hi, slack=0.0):
    for a, g, b in zip(lo, got, hi):
        assert a - slack <= g <= b + slack, (lo, got, hi)


# ---- injected ----

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


# ---- live ----

class TestLive:
    def test_logical_count_is_the_hosts(self):
        assert q.cpu_count_logical() == os.cpu_count()

    def test_cpu_times_agree_with_proc_stat(self):
        hz = host_hz()
        before = expected_times(stat_lines()["cpu"], hz)
        got = q.cpu_times()
        after = expected_times(stat_lines()["cpu"], hz)
        # The host's idle accounting may step back by a tick per CPU.
        assert_between(before, got, after, slack=os.cpu_count() / hz)

    def test_per_cpu_times_agree_with_proc_stat(self):
        hz = host_hz()
        lines = stat_lines()
        cpus = sorted((k for k in lines if k != "cpu"), key=lambda k: int(k[3:]))
        before = [expected_times(lines[c], hz) for c in cpus]
        got = q.per_cpu_times()
        lines = stat_lines()
        after = [expected_times(lines[c], hz) for c in cpus]
        assert len(got) == len(cpus) == q.cpu_count_logical()
        for lo, g, hi in zip(before, got, after):
            assert_between(lo, g, hi, slack=1 / hz)

    def test_per_cpu_sums_match_the_total(self):
        first = q.cpu_times()
        per = q.per_cpu_times()
        last = q.cpu_times()
        # The host cuts each CPU's line to its own clock ticks and the total
        # only once, and each is then cut to whole ticks here.
        slack = len(per) * (1.0 / host_hz() + TICK) + TICK
        for k in range(5):
            total = sum(p[k] for p in per)
            assert first[k] - slack <= total <= last[k] + slack

    def test_boot_time_is_the_btime_line(self):
        with open("/proc/stat") as f:
            btime = next(int(line.split()[1]) for line in f if line.startswith("btime"))
        assert q.boot_time() == float(btime)

    def test_cpu_stats_counters(self):
        with open("/proc/stat") as f:
            ctxt = next(int(line.split()[1]) for line in f if line.startswith("ctxt"))
        swtch, intr, soft, syscalls, traps = q.cpu_stats()
        # 32-bit counters: compare modulo 2**32, allowing for switches since.
        assert 0 <= (swtch - ctxt) % 2**32 < 10**7
        assert syscalls == 0
        assert intr > 0 and soft > 0 and traps > 0

    def test_frequency_on_this_host(self):
        if os.path.isdir("/sys/devices/system/cpu/cpu0/cpufreq"):
            freq, levels = q.cpu_freq(0)
            assert freq > 0
        else:
            with pytest.raises(NotImplementedError, match=r"^unable to read frequency$"):
                q.cpu_freq(0)

    @pytest.mark.parametrize("cpu", [-1, 4096, 2**31 - 1])
    def test_cpu_the_host_does_not_have(self, cpu):
        with pytest.raises(NotImplementedError, match=r"^unable to read frequency$"):
            q.cpu_freq(cpu)

    def test_cpu_count_is_also_the_first_missing_cpu(self):
        with pytest.raises(NotImplementedError):
            q.cpu_freq(q.cpu_count_logical())

    def test_topology_covers_every_cpu(self):
        text = q.cpu_topology()
        root = ET.fromstring(text)
        assert root.tag == "groups"
        top = root.find("group")
        ncpu = q.cpu_count_logical()
        cpu = top.find("cpu")
        assert int(cpu.get("count")) == ncpu
        assert [int(c) for c in cpu.text.split(", ")] == list(range(ncpu))
        words = [int(w, 16) for w in cpu.get("mask").split(",")]
        assert len(words) == 16
        assert sum(w << (64 * i) for i, w in enumerate(words)) == (1 << ncpu) - 1
        # The leaves of the tree are the CPUs, each exactly once.
        leaves = []
        for group in top.iter("group"):
            if group.find("children") is None:
                leaves += [int(c) for c in group.find("cpu").text.split(", ")]
        assert sorted(leaves) == list(range(ncpu))


def stat_text(cpus):
    """A /proc/stat whose CPU lines give each listed host CPU its number as
    user ticks."""
    lines = ["cpu  %d 0 0 0 0 0 0 0 0 0" % sum(cpus)]
    lines += ["cpu%d %d 0 0 0 0 0 0 0 0 0" % (c, c) for c in cpus]
    lines += ["intr 5 0 0", "ctxt 7", "btime 1234567", "softirq 9 0 0"]
    return "\n".join(lines) + "\n"


class TestMadeUpHost:
    """Live answers from a made-up /proc and /sys: hardware this host lacks."""

    def smt_host(self, write, cpus=(0, 1, 2, 3)):
        # Two cores of two threads each, one shared L3, per-core L1 and L2.
        write("/sys/devices/system/cpu/online", ",".join(map(str, cpus)) + "\n")
        write("/proc/stat", stat_text(cpus))
        for c in cpus:
            core = [x for x in cpus if x // 2 == c // 2]
            base = f"/sys/devices/system/cpu/cpu{c}"
            write(f"{base}/topology/physical_package_id", "0\n")
            write(f"{base}/topology/thread_siblings_list", ",".join(map(str, core)) + "\n")
            for idx, (level, kind, shared) in enumerate([
                    (1, "Data", core), (1, "Instruction", core), (2, "Unified", core),
                    (3, "Unified", list(cpus))]):
                d = f"{base}/cache/index{idx}"
                write(f"{d}/level", f"{level}\n")
                write(f"{d}/type", f"{kind}\n")
                write(f"{d}/shared_cpu_list", ",".join(map(str, shared)) + "\n")

    def test_smt_topology_is_the_schedulers_text(self, host_tree):
        self.smt_host(host_tree)
        zeros = ",0" * 15
        assert q.cpu_topology() == (
            "<groups>\n"
            " <group level=\"1\" cache-level=\"3\">\n"
            f"  <cpu count=\"4\" mask=\"f{zeros}\">0, 1, 2, 3</cpu>\n"
            "  <children>\n"
            "   <group level=\"2\" cache-level=\"2\">\n"
            f"    <cpu count=\"2\" mask=\"3{zeros}\">0, 1</cpu>\n"
            "    <flags><flag name=\"THREAD\">THREAD group</flag>"
            "<flag name=\"SMT\">SMT group</flag></flags>\n"
            "   </group>\n"
            "   <group level=\"2\" cache-level=\"2\">\n"
            f"    <cpu count=\"2\" mask=\"c{zeros}\">2, 3</cpu>\n"
            "    <flags><flag name=\"THREAD\">THREAD group</flag>"
            "<flag name=\"SMT\">SMT group</flag></flags>\n"
            "   </group>\n"
            "  </children>\n"
            " </group>\n"
            "</groups>\n")

    def test_two_packages_without_cache_data(self, host_tree):
        cpus = range(4)
        host_tree("/sys/devices/system/cpu/online", "0-3\n")
        host_tree("/proc/stat", stat_text(cpus))
        for c in cpus:
            base = f"/sys/devices/system/cpu/cpu{c}/topology"
            host_tree(f"{base}/physical_package_id", f"{c // 2}\n")
            host_tree(f"{base}/thread_siblings_list", f"{c}\n")
        root = ET.fromstring(q.cpu_topology()).find("group")
        assert root.get("cache-level") == "0"
        packages = root.findall("children/group")
        assert [g.find("cpu").text for g in packages] == ["0, 1", "2, 3"]
        cores = [g.find("cpu").text for g in root.findall("children/group/children/group")]
        assert cores == ["0", "1", "2", "3"]
        assert root.find("flags") is None

    def test_cpus_past_a_hole_are_numbered_without_gaps(self, host_tree):
        # Host CPU 1 offline: FreeBSD's CPUs 0, 1, 2 are the host's 0, 2, 3.
        self.smt_host(host_tree, cpus=(0, 2, 3))
        assert q.cpu_count_logical() == 3
        hz = host_hz()
        # stat_text gives each host CPU its own number as user ticks.
        assert [t[0] for t in q.per_cpu_times()] == [(h * 128 // hz) * TICK for h in (0, 2, 3)]
        root = ET.fromstring(q.cpu_topology()).find("group")
        assert root.find("cpu").get("count") == "3"
        assert [g.find("cpu").text for g in root.findall("children/group")] == ["0", "1, 2"]

    def test_boot_time_and_counters_from_proc_stat(self, host_tree):
        host_tree("/proc/stat", stat_text([0]))
        host_tree("/proc/vmstat", "pgfault 4294967301\n")
        assert q.boot_time() == 1234567.0
        # The page-fault count wraps to 32 bits as the kernel's view does.
        assert q.cpu_stats() == (7, 5, 9, 0, 5)

    def test_ticks_are_rescaled_to_128_a_second(self, host_tree):
        hz = host_hz()
        host_tree("/proc/stat", "cpu  %d %d %d %d %d %d %d %d 0 0\n" % (
            3 * hz, hz, 2 * hz, 10 * hz, hz // 2, hz, hz, hz))
        # system + steal, idle + iowait, irq + softirq
        assert q.cpu_times() == (3.0, 1.0, 3.0, 10.5, 2.0)

    def test_cpufreq_frequency_and_levels(self, host_tree):
        self.smt_host(host_tree)
        d = "/sys/devices/system/cpu/cpu2/cpufreq"
        host_tree(f"{d}/scaling_cur_freq", "2401000\n")
        host_tree(f"{d}/scaling_available_frequencies", "1200000 2400000 1800000 \n")
        assert q.cpu_freq(2) == (2401, "2400/-1 1800/-1 1200/-1")
        with pytest.raises(NotImplementedError):
            q.cpu_freq(1)

    def test_cpufreq_range_only(self, host_tree):
        self.smt_host(host_tree)
        d = "/sys/devices/system/cpu/cpu0/cpufreq"
        host_tree(f"{d}/scaling_cur_freq", "999999\n")
        host_tree(f"{d}/cpuinfo_max_freq", "3500000\n")
        host_tree(f"{d}/cpuinfo_min_freq", "800000\n")
        assert q.cpu_freq(0) == (999, "3500/-1 800/-1")

    def test_cpufreq_without_levels(self, host_tree):
        self.smt_host(host_tree)
        host_tree("/sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq", "1000000\n")
        assert q.cpu_freq(0) == (1000, "")


# ---- leaks ----

class TestLeaks:
    @pytest.mark.parametrize("fn", [q.cpu_count_logical, q.cpu_times, q.per_cpu_times,
                                    q.cpu_stats, q.boot_time])
    def test_live_success(self, fn):
        assert_flat(fn, calls=3000)

    def test_live_topology(self):
        assert_flat(q.cpu_topology, calls=500)

    def test_live_missing_frequency(self):
        if os.path.isdir("/sys/devices/system/cpu/cpu0/cpufreq"):
            assert_flat(q.cpu_freq, 0, calls=2000)
        else:
            assert_flat(q.cpu_freq, 0, expect=NotImplementedError, calls=3000)

    def test_injected_success(self):
        standin.sysctl_answer("dev.cpu.0.freq", struct.pack("<i", 1))
        standin.sysctl_answer("dev.cpu.0.freq_levels", b"1/-1\0")
        standin.sysctl_answer("kern.sched.topology_spec", b"<groups/>")
        assert_flat(q.cpu_freq, 0)
        assert_flat(q.cpu_topology)

    def test_failure_paths(self):
        standin.sysctl_error("kern.cp_time", errno.EIO)
        standin.sysctl_error("vm.stats.sys.v_trap", errno.EIO)
        standin.sysctl_error(KERN_BOOTTIME, errno.EIO)
        standin.sysctl_answer(HW_NCPU, struct.pack("<i", 2))
        standin.sysctl_error("kern.cp_times", errno.EIO)
        standin.sysctl_error("dev.cpu.0.freq", errno.EIO)
        standin.sysctl_error("dev.cpu.1.freq", errno.ENOENT)
        standin.sysctl_answer("dev.cpu.2.freq", struct.pack("<i", 1))
        standin.sysctl_error("dev.cpu.2.freq_levels", errno.ENOENT)
        standin.sysctl_error("kern.sched.topology_spec", errno.ENOENT)
        assert_flat(q.cpu_times, expect=OSError)
        assert_flat(q.cpu_stats, expect=OSError)
        assert_flat(q.boot_time, expect=OSError)
        assert_flat(q.per_cpu_times, expect=OSError)
        assert_flat(q.cpu_freq, 0, expect=OSError)
        assert_flat(q.cpu_freq, 1, expect=NotImplementedError)
        assert_flat(q.cpu_freq, 2)
        assert_flat(q.cpu_freq, "x", expect=TypeError)
        assert_flat(q.cpu_topology)
        standin.sysctl_error(HW_NCPU, errno.EIO)
        assert_flat(q.cpu_count_logical)
        assert_flat(q.per_cpu_times, expect=OSError)

    def test_odd_counts_and_texts(self):
        standin.sysctl_answer(HW_NCPU, struct.pack("<i", -1))
        assert_flat(q.per_cpu_times, expect=MemoryError)
        standin.sysctl_answer("kern.sched.topology_spec", b"\xff\0")
        assert_flat(q.cpu_topology, expect=UnicodeDecodeError)
