"""Process lookup and the one-shot record, name and thread count, injected
from records built at their byte offsets; the lookup failures; and the leak
checks, live and injected. The live tests are in test_proc_live.py."""

import errno
import os

import pytest

import _quarn_bsd as q
import standin
from leakcheck import assert_flat
from records import NODEV, kinfo_proc

PAGE = os.sysconf("SC_PAGESIZE")
MISSING_PID = 2 ** 22 + 12345  # above Linux's pid_max ceiling


def proc_key(pid):
    return [1, 14, 1, pid]


def inject_proc(pid, **fields):
    fields.setdefault("ki_pid", pid)
    standin.sysctl_answer(proc_key(pid), kinfo_proc(**fields))


class TestInjectedOneshot:
    def test_every_element_from_its_field(self):
        inject_proc(4242, ki_ppid=17, ki_stat=q.SSLEEP, ki_ruid=10, ki_uid=11, ki_svuid=12,
                    ki_rgid=20, ki_groups0=21, ki_svgid=22, ki_tdev=0x1234,
                    ki_start_sec=1700000000, ki_start_usec=500000,
                    ru_nvcsw=31, ru_nivcsw=32, ru_inblock=33, ru_oublock=34,
                    ru_utime_sec=1, ru_utime_usec=250000, ru_stime_sec=2, ru_stime_usec=5,
                    ch_utime_sec=3, ch_utime_usec=0, ch_stime_sec=4, ch_stime_usec=750000,
                    ki_rssize=3, ki_size=123456789, ki_tsize=4, ki_dsize=5, ki_ssize=6,
                    ki_oncpu=-1, ki_lastcpu=1, comm="worker")
        assert q.proc_oneshot_info(4242) == (
            17, q.SSLEEP, 10, 11, 12, 20, 21, 22, 0x1234, 1700000000.5,
            31, 32, 33, 34, 1.25, 2.000005, 3.0, 4.75,
            3 * PAGE, 123456789, 4 * PAGE, 5 * PAGE, 6 * PAGE, 1, "worker")

    @pytest.mark.parametrize("stat,oncpu,lastcpu,expected", [
        (2, -1, 3, 3),      # running, current CPU unknown: the last one
        (2, 2, 3, 2),       # running on CPU 2
        (3, 1, 5, 5),       # sleeping: the last CPU even with ki_oncpu set
        (4, -1, 0, 0),
        (2, 200, 7, 200),   # CPU numbers above 127 come through whole
        (3, -1, 300, 300),
    ])
    def test_cpu_number(self, stat, oncpu, lastcpu, expected):
        inject_proc(50, ki_stat=stat, ki_oncpu=oncpu, ki_lastcpu=lastcpu)
        assert q.proc_oneshot_info(50)[23] == expected

    def test_no_terminal_is_minus_one(self):
        inject_proc(51, ki_tdev=NODEV)
        assert q.proc_oneshot_info(51)[8] == -1

    def test_ids_above_two_to_the_31_stay_positive(self):
        big = 4294967294
        inject_proc(52, ki_ruid=big, ki_uid=big, ki_svuid=2 ** 31, ki_rgid=big,
                    ki_groups0=big, ki_svgid=2 ** 32 - 1)
        assert q.proc_oneshot_info(52)[2:8] == (big, big, 2 ** 31, big, big, 2 ** 32 - 1)

    def test_pages_multiply_by_the_page_size_and_the_size_does_not(self):
        standin.push("sysconf", "47", standin.answer(value=16384))
        inject_proc(53, ki_rssize=7, ki_size=7, ki_tsize=1, ki_dsize=0, ki_ssize=2 ** 33)
        info = q.proc_oneshot_info(53)
        assert info[18:23] == (7 * 16384, 7, 16384, 0, 2 ** 33 * 16384)

    def test_huge_page_counts_wrap_instead_of_overflowing(self):
        standin.push("sysconf", "47", standin.answer(value=4096))
        inject_proc(53, ki_rssize=2 ** 52 + 1, ki_tsize=-1)
        info = q.proc_oneshot_info(53)
        assert info[18] == 4096  # (2**52 + 1) * 4096 modulo 2**64
        assert info[20] == -4096

    def test_negative_ppid_and_state_keep_their_sign(self):
        inject_proc(54, ki_ppid=-5, ki_stat=-1)
        info = q.proc_oneshot_info(54)
        assert info[0] == -5 and info[1] == -1

    def test_nineteen_byte_name_comes_whole(self):
        name = "abcdefghijklmnopqrs"
        assert len(name) == 19
        inject_proc(55, comm=name)
        assert q.proc_oneshot_info(55)[24] == name
        assert q.proc_name(55) == name

    def test_name_without_nul_stops_at_the_field(self):
        # The bytes after ki_comm (ki_emul) must not leak into the name.
        rec = bytearray(kinfo_proc(ki_pid=56, comm=b"A" * 20))
        rec[467:475] = b"OVERREAD"
        standin.sysctl_answer(proc_key(56), bytes(rec))
        assert q.proc_name(56) == "A" * 20
        assert q.proc_oneshot_info(56)[24] == "A" * 20

    def test_undecodable_name_bytes(self):
        inject_proc(57, comm=b"caf\xe9")
        name = q.proc_name(57)
        assert os.fsencode(name) == b"caf\xe9"
        assert q.proc_oneshot_info(57)[24] == name

    def test_thread_count(self):
        inject_proc(58, ki_numthreads=1)
        assert q.proc_num_threads(58) == 1
        inject_proc(59, ki_numthreads=2 ** 31 - 1)
        assert q.proc_num_threads(59) == 2 ** 31 - 1

    def test_one_fetch_and_one_page_size_per_call(self):
        inject_proc(60)
        standin.clear_log()
        q.proc_oneshot_info(60)
        assert [(c.call, c.key, c.op) for c in standin.log()] == [
            ("sysconf", "47", "call"), ("sysctl", "1.14.1.60", "read")]
        assert standin.log()[1].size == 1088


class TestInjectedLookupFailures:
    def test_empty_answer_is_no_such_process(self):
        standin.sysctl_answer(proc_key(61), b"")
        for fn in (q.proc_oneshot_info, q.proc_name, q.proc_num_threads):
            with pytest.raises(ProcessLookupError) as e:
                fn(61)
            assert e.value.errno == errno.ESRCH
            assert e.value.strerror == ("force no such process (originated from "
                                        "sysctl(kinfo_proc), size = 0)")

    def test_kernel_errno_is_annotated(self):
        standin.sysctl_error(proc_key(62), errno.EPERM)
        with pytest.raises(PermissionError) as e:
            q.proc_name(62)
        assert e.value.errno == errno.EPERM
        assert e.value.strerror == (os.strerror(errno.EPERM)
                                    + " (originated from sysctl(kinfo_proc))")

    def test_pid_zero_is_asked_for(self):
        inject_proc(0, comm="kernel")
        assert q.proc_name(0) == "kernel"

    def test_zombie_check_never_raises(self):
        inject_proc(63, ki_stat=q.SZOMB)
        assert q.proc_is_zombie(63) is True
        inject_proc(64, ki_stat=q.SSTOP)
        assert q.proc_is_zombie(64) is False
        standin.sysctl_error(proc_key(65), errno.EPERM)
        assert q.proc_is_zombie(65) is False
        standin.sysctl_answer(proc_key(66), b"")
        assert q.proc_is_zombie(66) is False
        assert standin.calls_to("sysctl", proc_key(-1)) == []
        assert q.proc_is_zombie(-1) is False
        assert standin.calls_to("sysctl", proc_key(-1)) == []


class TestLeaks:
    def test_live_success(self):
        pid = os.getpid()
        for fn in (q.proc_oneshot_info, q.proc_name, q.proc_num_threads, q.proc_is_zombie):
            assert_flat(fn, pid, calls=2000)

    def test_failures(self):
        for fn in (q.proc_oneshot_info, q.proc_name, q.proc_num_threads):
            assert_flat(fn, MISSING_PID, expect=ProcessLookupError, calls=2000)
            assert_flat(fn, -1, expect=RuntimeError)
            assert_flat(fn, "x", expect=TypeError)
        assert_flat(q.proc_is_zombie, MISSING_PID, calls=2000)
        standin.sysctl_answer(proc_key(61), b"")
        assert_flat(q.proc_oneshot_info, 61, expect=ProcessLookupError)
        assert_flat(q.proc_is_zombie, 61)

    def test_injected_success(self):
        inject_proc(70, comm="leaky", ki_numthreads=3)
        for fn in (q.proc_oneshot_info, q.proc_name, q.proc_num_threads, q.proc_is_zombie):
            assert_flat(fn, 70)

