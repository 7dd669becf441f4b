"""Growing and fixed kernel-parameter reads, seen through pids() and
getpagesize(), with the kernel's answers injected."""

import errno
import os

import pytest

import _quarn_bsd as q
import standin
from leakcheck import assert_flat
from records import KINFO_PROC_SIZE, kinfo_proc, proc_table

ALL_PROCS = [1, 14, 8, 0]
KEY = "1.14.8.0"


def table(*pids):
    return proc_table(kinfo_proc(ki_pid=p) for p in pids)


def ops():
    return [c.op for c in standin.calls_to("sysctl", KEY)]


def debug_lines(err, text):
    return [line for line in err.splitlines() if line.endswith("]> " + text)]


class TestGrowingRead:
    def test_plain_read_measures_then_reads(self):
        standin.sysctl_answer(ALL_PROCS, table(10, 20, 30))
        assert q.pids() == [10, 20, 30]
        calls = standin.calls_to("sysctl", KEY)
        assert [c.op for c in calls] == ["measure", "read"]
        assert calls[1].size == 3 * KINFO_PROC_SIZE

    def test_table_that_grows_once_is_read_on_the_second_attempt(self, capfd):
        q.set_debug(True)
        standin.sysctl_sequence(ALL_PROCS, [
            standin.answer(table(1, 2)),       # first measure
            standin.answer(table(1, 2, 3)),    # read: no longer fits
            standin.answer(table(1, 2, 3)),    # measure again, then read
        ])
        assert q.pids() == [1, 2, 3]
        # Each measure passes no buffer and a length of 0.
        assert [(c.op, c.size) for c in standin.calls_to("sysctl", KEY)] == [
            ("measure", 0), ("read", 2 * KINFO_PROC_SIZE),
            ("measure", 0), ("read", 3 * KINFO_PROC_SIZE)]
        assert len(debug_lines(capfd.readouterr().err, "quarn_sysctl_malloc() retry")) == 1

    def test_table_that_outgrows_every_measure_gives_up_after_ten_reads(self, capfd):
        q.set_debug(True)
        standin.sysctl_sequence(ALL_PROCS,
                                [standin.answer(table(*range(1, n + 2))) for n in range(25)])
        with pytest.raises(RuntimeError) as e:
            q.pids()
        assert str(e.value) == "sysctl() buffer allocation retry limit exceeded"
        assert ops().count("read") == 10
        assert ops().count("measure") == 11
        assert len(debug_lines(capfd.readouterr().err, "quarn_sysctl_malloc() retry")) == 10

    def test_zero_size_answer_is_read_with_a_zero_length(self, capfd):
        q.set_debug(True)
        standin.sysctl_answer(ALL_PROCS, b"")
        with pytest.raises(RuntimeError, match="^no PIDs found$"):
            q.pids()
        calls = standin.calls_to("sysctl", KEY)
        assert [(c.op, c.size) for c in calls] == [("measure", 0), ("read", 0)]
        assert len(debug_lines(capfd.readouterr().err, "quarn_sysctl_malloc() size = 0")) == 1

    def test_refused_read_raises_at_once_without_retry(self):
        standin.sysctl_sequence(ALL_PROCS, [standin.answer(table(1)),
                                            standin.error(errno.EPERM)])
        with pytest.raises(PermissionError) as e:
            q.pids()
        assert e.value.errno == errno.EPERM
        assert e.value.strerror == (os.strerror(errno.EPERM)
                                    + " (originated from sysctl() malloc 3/3)")
        assert ops() == ["measure", "read"]

    def test_failing_first_measure(self):
        standin.sysctl_error(ALL_PROCS, errno.ENOENT)
        with pytest.raises(FileNotFoundError) as e:
            q.pids()
        assert e.value.errno == errno.ENOENT
        assert e.value.strerror == (os.strerror(errno.ENOENT)
                                    + " (originated from sysctl() malloc 1/3)")
        assert ops() == ["measure"]

    def test_failing_second_measure(self):
        standin.sysctl_sequence(ALL_PROCS, [standin.answer(table(1)),
                                            standin.answer(table(1, 2)),
                                            standin.error(errno.EIO)])
        with pytest.raises(OSError) as e:
            q.pids()
        assert e.value.errno == errno.EIO
        assert e.value.strerror == (os.strerror(errno.EIO)
                                    + " (originated from sysctl() malloc 2/3)")
        assert ops() == ["measure", "read", "measure"]

    def test_table_that_shrinks_is_accepted(self):
        standin.sysctl_sequence(ALL_PROCS, [standin.answer(table(1, 2, 3)),
                                            standin.answer(table(4))])
        assert q.pids() == [4]


class TestProcessList:
    def test_partial_record_at_the_end_is_ignored(self):
        standin.sysctl_answer(ALL_PROCS, table(7, 8) + b"\x01" * 500)
        assert q.pids() == [7, 8]

    def test_answer_shorter_than_one_record(self):
        standin.sysctl_answer(ALL_PROCS, b"\x05" * (KINFO_PROC_SIZE - 1))
        with pytest.raises(RuntimeError, match="^no PIDs found$"):
            q.pids()

    def test_order_of_the_kernel_table_is_kept(self):
        standin.sysctl_answer(ALL_PROCS, table(900, 3, 0, 2 ** 31 - 1, 45))
        assert q.pids() == [900, 3, 0, 2 ** 31 - 1, 45]

    def test_arguments_are_ignored(self):
        standin.sysctl_answer(ALL_PROCS, table(5))
        assert q.pids(1, "two", None) == [5]


class TestPageSize:
    def test_live_page_size(self):
        assert q.getpagesize() == os.sysconf("SC_PAGESIZE")

    def test_comes_from_sysconf_and_ignores_arguments(self):
        # 47 is FreeBSD's number for _SC_PAGESIZE.
        standin.push("sysconf", "47", standin.answer(value=16384))
        assert q.getpagesize() == 16384
        assert q.getpagesize(1, 2, 3) == 16384
        assert [c.key for c in standin.calls_to("sysconf")] == ["47", "47"]

    def test_failure_is_passed_on_unchecked(self):
        standin.push("sysconf", "47", standin.error(errno.EINVAL))
        assert q.getpagesize() == -1


class TestLeaks:
    def test_pids_live(self):
        assert_flat(q.pids, calls=300)

    def test_pids_injected_success_and_failures(self):
        standin.sysctl_answer(ALL_PROCS, table(*range(1, 50)))
        assert_flat(q.pids)
        standin.reset()
        standin.sysctl_answer(ALL_PROCS, b"")
        assert_flat(q.pids, expect=RuntimeError)

        def refused():
            standin.reset()
            standin.sysctl_sequence(ALL_PROCS, [standin.answer(table(1)),
                                                standin.error(errno.EPERM)])
            q.pids()

        assert_flat(refused, expect=PermissionError)
        growing = [standin.answer(b"\0" * (KINFO_PROC_SIZE * (n + 1))) for n in range(25)]

        def outgrown():
            standin.reset()
            standin.sysctl_sequence(ALL_PROCS, growing)
            q.pids()

        assert_flat(outgrown, expect=RuntimeError, calls=500)

    def test_getpagesize(self):
        assert_flat(q.getpagesize)


class TestSizeMismatch:
    """A kernel that claims to have written more than the buffer holds."""

    def test_numeric_name(self):
        standin.push("sysctl", "1.21", standin.answer(b"\0" * 16, value=24))
        with pytest.raises(RuntimeError) as e:
            q.boot_time()
        assert str(e.value) == "sysctl() size mismatch"

    def test_string_name(self):
        standin.push("sysctl", "kern.cp_time", standin.answer(b"\0" * 40, value=48))
        with pytest.raises(RuntimeError) as e:
            q.cpu_times()
        assert str(e.value) == ("sysctlbyname('kern.cp_time') size mismatch: "
                                "returned 48, expected 40")

    def test_argmax(self):
        import ctypes
        import struct
        fn = ctypes.PyDLL(q.__file__).quarn_sysctl_argmax
        fn.restype = ctypes.c_int64
        standin.push("sysctl", "1.8", standin.answer(struct.pack("<i", 4096), value=8))
        with pytest.raises(RuntimeError) as e:
            fn()
        assert str(e.value) == "sysctl() size mismatch"

    def test_shorter_claim_is_accepted(self):
        standin.push("sysctl", "1.21", standin.answer(b"\x07" + b"\0" * 15, value=8))
        assert q.boot_time() == 7.0


class TestClaimedLength:
    """A growing read whose kernel claims to have written more than the
    buffer holds: refused, never copied or walked on the kernel's word."""

    @pytest.mark.parametrize("fn,name,data,claim,outcome", [
        (q.cpu_topology, "kern.sched.topology_spec", b"abc\0", 2 ** 28, None),
        (q.pids, ALL_PROCS, table(1), KINFO_PROC_SIZE * 300000,
         RuntimeError("sysctl() size mismatch")),
    ], ids=["cpu_topology", "pids"])
    def test_length_above_the_buffer_is_refused(self, fn, name, data, claim, outcome):
        standin.push("sysctl", name, standin.answer(data, value=claim))
        if isinstance(outcome, Exception):
            with pytest.raises(type(outcome)) as e:
                fn()
            assert str(e.value) == str(outcome)
        else:
            assert fn() == outcome
        assert [(c.op, c.size) for c in standin.calls_to("sysctl", name)] == [
            ("measure", 0), ("read", len(data))]
