"""A process's CPU affinity, resource limits and priority: set and read on a
live child and compared with /proc and ps, and injected."""

import errno
import os
import struct
import subprocess

import pytest

import _quarn_bsd as q
import standin
from leakcheck import assert_flat

MISSING_PID = 2 ** 22 + 12345  # above Linux's pid_max ceiling
INF = 9223372036854775807
NCPU = os.cpu_count()
LIMITS_TITLE = {q.RLIMIT_NOFILE: "Max open files", q.RLIMIT_NPROC: "Max processes",
                q.RLIMIT_CORE: "Max core file size", q.RLIMIT_AS: "Max address space"}


def rlimit_key(pid, res):
    return [1, 14, 37, pid, res]


def proc_limits(pid, res):
    with open(f"/proc/{pid}/limits") as f:
        for line in f:
            if line.startswith(LIMITS_TITLE[res] + " "):
                soft, hard = line[len(LIMITS_TITLE[res]):].split()[:2]
                return tuple(INF if v == "unlimited" else int(v) for v in (soft, hard))
    raise AssertionError("no such line")


def thread_nice(pid, tid):
    with open(f"/proc/{pid}/task/{tid}/stat") as f:
        return int(f.read().rsplit(")", 1)[1].split()[16])


def host_env():
    return {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


class TestLiveAffinity:
    def test_set_reads_back_sorted_on_every_thread(self, child):
        cpus = [NCPU - 1, 0, NCPU - 1]  # [3, 0, 3] on a machine of four
        q.proc_cpu_affinity_set(child.pid, cpus)
        assert q.proc_cpu_affinity_get(child.pid) == sorted(set(cpus))
        for tid in child.tids():
            assert os.sched_getaffinity(tid) == set(cpus)
        q.proc_cpu_affinity_set(child.pid, range(NCPU))
        assert q.proc_cpu_affinity_get(child.pid) == list(range(NCPU))

    @pytest.mark.parametrize("make", [tuple, list, set, iter, lambda c: (x for x in c)])
    def test_any_iterable(self, make):
        mine = q.proc_cpu_affinity_get(os.getpid())
        q.proc_cpu_affinity_set(os.getpid(), make(mine))
        assert q.proc_cpu_affinity_get(os.getpid()) == mine

    @pytest.mark.parametrize("cpus, exc, text", [
        (0, TypeError, "expected a sequence or integer"),
        (None, TypeError, "expected a sequence or integer"),
        ([-1], ValueError, "invalid CPU number -1 (must be 0 to 1023)"),
        ([0, 1024], ValueError, "invalid CPU number 1024 (must be 0 to 1023)"),
        ([-5], ValueError, "invalid CPU number -5 (must be 0 to 1023)"),
        ([2 ** 70], OverflowError, None),
        (["0"], TypeError, None),
    ])
    def test_bad_cpus_fail_before_the_kernel_is_asked(self, cpus, exc, text):
        with pytest.raises(exc) as e:
            q.proc_cpu_affinity_set(os.getpid(), cpus)
        if text is not None:
            assert str(e.value) == text
        assert standin.calls_to("cpuset_setaffinity") == []

    @pytest.mark.parametrize("cpus, err", [([], errno.EDEADLK), ([1023], errno.EINVAL)])
    def test_kernel_refuses_a_mask(self, cpus, err):
        with pytest.raises(OSError) as e:
            q.proc_cpu_affinity_set(os.getpid(), cpus)
        assert e.value.errno == err


class TestLiveLimits:
    @pytest.mark.parametrize("res, soft, hard", [
        (q.RLIMIT_NOFILE, 64, 128),
        (q.RLIMIT_NPROC, 500, 1000),
        (q.RLIMIT_CORE, INF, INF),
        (q.RLIMIT_AS, 1 << 40, INF),
    ])
    def test_set_then_read_back_matches_proc(self, child, res, soft, hard):
        q.proc_setrlimit(child.pid, res, soft, hard)
        assert q.proc_getrlimit(child.pid, res) == (soft, hard) == proc_limits(child.pid, res)

    def test_infinity_is_the_module_constant(self, child):
        q.proc_setrlimit(child.pid, q.RLIMIT_CORE, -1, q.RLIM_INFINITY)
        assert q.proc_getrlimit(child.pid, q.RLIMIT_CORE) == (INF, INF)

    def test_soft_above_hard_is_refused(self, child):
        with pytest.raises(OSError) as e:
            q.proc_setrlimit(child.pid, q.RLIMIT_NOFILE, 200, 100)
        assert e.value.errno == errno.EINVAL

    # 15 is RLIMIT_PIPEBUF, which the module names no constant for.
    @pytest.mark.parametrize("res", [q.RLIMIT_SBSIZE, q.RLIMIT_NPTS, q.RLIMIT_SWAP, 15])
    def test_limits_the_host_lacks(self, res):
        assert q.proc_getrlimit(os.getpid(), res) == (INF, INF)
        with pytest.raises(OSError) as e:
            q.proc_setrlimit(os.getpid(), res, 1, 2)
        assert e.value.errno == errno.EINVAL

    @pytest.mark.parametrize("res", [-1, 16, 1000])
    def test_unknown_resource(self, res):
        with pytest.raises(OSError) as e:
            q.proc_getrlimit(os.getpid(), res)
        assert e.value.errno == errno.EINVAL


class TestLivePriority:
    @pytest.mark.parametrize("nice", [-1, 10])
    def test_set_reads_back_on_every_thread_and_in_ps(self, child, nice):
        if nice < os.getpriority(os.PRIO_PROCESS, child.pid) and os.geteuid() != 0:
            pytest.skip("lowering a nice value needs privilege")
        q.proc_priority_set(child.pid, nice)
        assert q.proc_priority_get(child.pid) == nice
        ps = subprocess.run(["ps", "-o", "ni=", "-p", str(child.pid)], env=host_env(),
                            capture_output=True, text=True, check=True)
        assert int(ps.stdout) == nice
        assert {thread_nice(child.pid, tid) for tid in child.tids()} == {nice}

    def test_zero_names_the_caller(self):
        assert q.proc_priority_get(0) == os.getpriority(os.PRIO_PROCESS, 0)


CALLS = [
    (q.proc_cpu_affinity_get, ()), (q.proc_cpu_affinity_set, ([0],)),
    (q.proc_getrlimit, (q.RLIMIT_NOFILE,)), (q.proc_setrlimit, (q.RLIMIT_NOFILE, 1, 2)),
    (q.proc_priority_get, ()), (q.proc_priority_set, (0,)),
]


@pytest.mark.parametrize("fn, args", CALLS)
def test_missing_pid_is_a_lookup_error(fn, args):
    with pytest.raises(ProcessLookupError):
        fn(MISSING_PID, *args)


def test_a_thread_is_no_process(child):
    tid = child.tids()[-1]
    assert tid != child.pid
    for fn, args in CALLS:
        with pytest.raises(ProcessLookupError):
            fn(tid, *args)


class TestInjected:
    def test_affinity_mask_bits(self):
        mask = bytearray(128)
        for cpu in (0, 3, 64, 1023):
            mask[cpu // 8] |= 1 << cpu % 8
        standin.push("cpuset_getaffinity", "77", standin.answer(bytes(mask)))
        assert q.proc_cpu_affinity_get(77) == [0, 3, 64, 1023]
        assert standin.calls_to("cpuset_getaffinity", "77")[0].size == 128

    def test_affinity_set_sends_the_id_and_size(self):
        standin.push("cpuset_setaffinity", "-7", standin.answer())
        assert q.proc_cpu_affinity_set(-7, [3, 0, 3]) is None
        assert standin.calls_to("cpuset_setaffinity", "-7")[0].size == 128

    @pytest.mark.parametrize("call, fn, args", [
        ("cpuset_getaffinity", q.proc_cpu_affinity_get, (77,)),
        ("cpuset_setaffinity", q.proc_cpu_affinity_set, (77, [0])),
        ("getpriority", q.proc_priority_get, (77,)),
        ("setpriority", q.proc_priority_set, (77, 5)),
    ])
    def test_refusals_raise_from_errno(self, call, fn, args):
        standin.push(call, "77", standin.error(errno.EPERM))
        with pytest.raises(PermissionError) as e:
            fn(*args)
        assert e.value.errno == errno.EPERM

    def test_priority_minus_one_is_no_error(self):
        standin.push("getpriority", "77", standin.answer(value=-1))
        assert q.proc_priority_get(77) == -1

    def test_getrlimit_record(self):
        standin.sysctl_answer(rlimit_key(77, 8), struct.pack("<qq", 1024, INF))
        assert q.proc_getrlimit(77, 8) == (1024, INF)

    def test_getrlimit_failure_is_the_fixed_reads(self):
        standin.sysctl_error(rlimit_key(77, 8), errno.ESRCH)
        with pytest.raises(ProcessLookupError) as e:
            q.proc_getrlimit(77, 8)
        assert e.value.strerror == os.strerror(errno.ESRCH) + " (originated from sysctl())"

    def test_setrlimit_writes_one_record(self):
        standin.sysctl_answer(rlimit_key(77, 8), b"")
        assert q.proc_setrlimit(77, 8, -1, 5) is None
        assert [(c.op, c.size) for c in standin.calls_to("sysctl", rlimit_key(77, 8))] == [
            ("write", 16)]

    @pytest.mark.parametrize("soft, hard", [("1", 2), (1, 2.5), (2 ** 63, 1), (1, None)])
    def test_setrlimit_conversion_failures_never_write(self, soft, hard):
        with pytest.raises((TypeError, OverflowError)):
            q.proc_setrlimit(77, 8, soft, hard)
        assert standin.calls_to("sysctl") == []


class TestLeaks:
    @pytest.mark.parametrize("fn, args", [
        (q.proc_cpu_affinity_get, ()), (q.proc_getrlimit, (q.RLIMIT_NOFILE,)),
        (q.proc_priority_get, ()), (q.proc_cpu_affinity_set, (range(NCPU),)),
        (q.proc_setrlimit, (q.RLIMIT_CORE, *q.proc_getrlimit(os.getpid(), q.RLIMIT_CORE))),
        (q.proc_priority_set, (os.getpriority(os.PRIO_PROCESS, 0),)),
    ])
    def test_success_and_missing_process(self, fn, args):
        assert_flat(fn, os.getpid(), *args, calls=2000)
        assert_flat(fn, MISSING_PID, *args, calls=2000, expect=ProcessLookupError)

    @pytest.mark.parametrize("cpus, exc", [(5, TypeError), ([0, -1], ValueError),
                                            ([0, "x"], TypeError)])
    def test_affinity_bad_input(self, cpus, exc):
        assert_flat(q.proc_cpu_affinity_set, os.getpid(), cpus, calls=2000, expect=exc)

    def test_setrlimit_bad_input(self):
        assert_flat(q.proc_setrlimit, os.getpid(), 8, 1, "x", calls=2000, expect=TypeError)
