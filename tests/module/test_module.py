"""The module frame: tables, constants, the exception and the two flags."""

import os
import subprocess
import sys
import textwrap

import pytest

import _quarn_bsd as q
import standin

TABLE_A = [
    "proc_cmdline", "proc_cwd", "proc_environ", "proc_name", "proc_num_fds",
    "proc_oneshot_info", "proc_open_files", "proc_threads", "proc_num_threads",
    "proc_cpu_affinity_get", "proc_cpu_affinity_set", "proc_exe", "proc_getrlimit",
    "proc_memory_maps", "proc_net_connections", "proc_setrlimit", "boot_time",
    "cpu_count_logical", "cpu_stats", "cpu_times", "disk_io_counters", "disk_partitions",
    "net_connections", "net_io_counters", "per_cpu_times", "pids", "swap_mem", "heap_info",
    "heap_trim", "virtual_mem", "cpu_freq", "cpu_topology", "sensors_battery",
    "sensors_cpu_temperature", "check_pid_range", "set_debug",
]
TABLE_B = [
    "getpagesize", "net_if_addrs", "net_if_flags", "net_if_is_running", "net_if_mtu",
    "proc_priority_get", "proc_priority_set", "net_if_duplex_speed", "users", "proc_is_zombie",
]

CONSTANTS = [
    ("AF_LINK", 18), ("RLIMIT_AS", 10), ("RLIMIT_CORE", 4), ("RLIMIT_CPU", 0),
    ("RLIMIT_DATA", 2), ("RLIMIT_FSIZE", 1), ("RLIMIT_MEMLOCK", 6), ("RLIMIT_NOFILE", 8),
    ("RLIMIT_NPROC", 7), ("RLIMIT_RSS", 5), ("RLIMIT_STACK", 3), ("RLIMIT_SWAP", 12),
    ("RLIMIT_SBSIZE", 9), ("RLIMIT_NPTS", 11), ("RLIM_INFINITY", 9223372036854775807),
    ("version", 722), ("SIDL", 1), ("SRUN", 2), ("SSLEEP", 3), ("SSTOP", 4), ("SZOMB", 5),
    ("SWAIT", 6), ("SLOCK", 7), ("TCPS_CLOSED", 0), ("TCPS_CLOSING", 7),
    ("TCPS_CLOSE_WAIT", 5), ("TCPS_LISTEN", 1), ("TCPS_ESTABLISHED", 4),
    ("TCPS_SYN_SENT", 2), ("TCPS_SYN_RECEIVED", 3), ("TCPS_FIN_WAIT_1", 6),
    ("TCPS_FIN_WAIT_2", 9), ("TCPS_LAST_ACK", 8), ("TCPS_TIME_WAIT", 10),
    ("QUARN_CONN_NONE", 128),
]

# The shared helpers (standin.py and the rest), one folder up.
HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run_python(code, **env_changes):
    env = dict(os.environ)
    for k, v in env_changes.items():
        if v is None:
            env.pop(k, None)
        else:
            env[k] = v
    env["PYTHONPATH"] = os.pathsep.join([HERE, os.path.dirname(q.__file__)])
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env,
                          capture_output=True, text=True, timeout=60)


def functions_in_order():
    return [n for n, v in vars(q).items() if type(v).__name__ == "builtin_function_or_method"]


class TestTables:
    def test_functions_follow_table_a_then_table_b(self):
        present = functions_in_order()
        expected = [n for n in TABLE_A if n in present] + [n for n in TABLE_B if n in present]
        assert present == expected
        assert set(present) <= set(TABLE_A) | set(TABLE_B)

    def test_foundation_functions_are_served(self):
        for name in ["proc_name", "proc_oneshot_info", "proc_num_threads", "pids",
                     "check_pid_range", "set_debug", "getpagesize", "proc_is_zombie"]:
            assert callable(getattr(q, name)), name

    def test_table_b_functions_are_not_bound_to_the_module(self):
        assert q.getpagesize.__self__ is None
        assert q.pids.__self__ is q

    def test_constants_have_their_values_in_order(self):
        ints = [(n, v) for n, v in vars(q).items()
                if isinstance(v, int) and not n.startswith("__")]
        assert ints == CONSTANTS

    def test_zombie_process_error(self):
        exc = q.ZombieProcessError
        assert exc.__module__ == "_quarn_posix"
        assert exc.__name__ == "ZombieProcessError"
        assert issubclass(exc, Exception)
        assert exc.__bases__ == (Exception,)


# A debug line every call of pids() writes while an empty process table is
# injected; it tells whether the debug flag is on.
SIZE0_LINE = "quarn_sysctl_malloc() size = 0"


def pids_with_empty_table():
    standin.sysctl_answer([1, 14, 8, 0], b"")
    with pytest.raises(RuntimeError, match="^no PIDs found$"):
        q.pids()


class TestDebugFlag:
    def test_environment_presence_alone_switches_it_on(self):
        code = """
            import standin, _quarn_bsd as q
            standin.sysctl_answer([1, 14, 8, 0], b"")
            try:
                q.pids()
            except RuntimeError:
                pass
        """
        on = run_python(code, QUARN_DEBUG="")
        assert on.returncode == 0, on.stderr
        lines = on.stderr.splitlines()
        assert len(lines) == 1
        assert lines[0].startswith("quarn-debug [")
        assert lines[0].endswith("]> " + SIZE0_LINE)
        assert "arch/posix/sysctl" in lines[0]
        assert on.stderr.endswith(SIZE0_LINE + "\n")

        off = run_python(code, QUARN_DEBUG=None)
        assert off.returncode == 0
        assert off.stderr == ""

    @pytest.mark.parametrize("value,on", [
        (0, False), ([], False), (False, False), ("", False),
        ("yes", True), (1, True), ([0], True), (True, True),
    ])
    def test_set_debug_takes_the_truth_value(self, capfd, value, on):
        q.set_debug(not on)
        assert q.set_debug(value) is None
        pids_with_empty_table()
        err = capfd.readouterr().err
        assert (SIZE0_LINE in err) == on

    def test_set_debug_argument_errors_leave_the_flag(self, capfd):
        q.set_debug(True)
        with pytest.raises(TypeError):
            q.set_debug()
        with pytest.raises(TypeError):
            q.set_debug(1, 2)

        class Bad:
            def __bool__(self):
                raise ZeroDivisionError("no truth")

        with pytest.raises(ZeroDivisionError):
            q.set_debug(Bad())
        capfd.readouterr()
        pids_with_empty_table()
        assert SIZE0_LINE in capfd.readouterr().err

    def test_debug_off_writes_nothing(self, capfd):
        q.set_debug(False)
        pids_with_empty_table()
        assert capfd.readouterr().err == ""


class TestCheckPidRange:
    def test_accepts_zero_positive_and_absent(self):
        assert q.check_pid_range(0) is None
        assert q.check_pid_range(os.getpid()) is None
        assert q.check_pid_range(2147483647) is None

    def test_rejects_negative(self):
        with pytest.raises(ValueError) as e:
            q.check_pid_range(-1)
        assert str(e.value) == "pid must be a positive integer"

    def test_parser_errors(self):
        with pytest.raises(OverflowError):
            q.check_pid_range(2147483648)
        with pytest.raises(TypeError):
            q.check_pid_range("1")
        with pytest.raises(TypeError):
            q.check_pid_range()


def test_import_under_testing_flag_works():
    r = run_python("import _quarn_bsd as q; print(q.version)", QUARN_TESTING="")
    assert r.returncode == 0, r.stderr
    assert r.stdout.strip() == "722"


class TestLeaks:
    def test_set_debug(self):
        from leakcheck import assert_flat
        assert_flat(q.set_debug, False)
        assert_flat(q.set_debug, expect=TypeError)

    def test_check_pid_range(self):
        from leakcheck import assert_flat
        assert_flat(q.check_pid_range, 5)
        assert_flat(q.check_pid_range, -5, expect=ValueError)
        assert_flat(q.check_pid_range, 2 ** 40, expect=OverflowError)
