"""Every function of the module called on this host, its result checked for
shape and types. A shape is a type, a tuple of shapes (a fixed tuple), a
one-element list (a list of such), a dict {key type: value shape}, or a set
of alternatives."""

import os

import pytest

import _quarn_bsd as q
from portable import ME, REPLAY

INT, FLOAT, STR = int, float, str
NONE = type(None)
ADDR = {(STR, INT), (), STR}  # an inet pair, () for no remote, a UNIX path
TIMES = (FLOAT,) * 5


def shaped(value, shape):
    if isinstance(shape, set):
        return any(shaped(value, s) for s in shape)
    if isinstance(shape, tuple):
        return (type(value) is tuple and len(value) == len(shape)
                and all(shaped(v, s) for v, s in zip(value, shape)))
    if isinstance(shape, list):
        return type(value) is list and all(shaped(v, shape[0]) for v in value)
    if isinstance(shape, dict):
        (ks, vs), = shape.items()
        return type(value) is dict and all(shaped(k, ks) and shaped(v, vs) for k, v in value.items())
    return type(value) is shape


def loopback():
    return next(n for n, *_ in q.net_if_addrs() if "loopback" in q.net_if_flags(n))


NOFILE = q.proc_getrlimit(ME, q.RLIMIT_NOFILE)

# name, arguments (a callable where they depend on the host), result shape.
CALLS = [
    ("set_debug", (False,), NONE),
    ("check_pid_range", (ME,), NONE),
    ("getpagesize", (), INT),
    ("pids", (), [INT]),
    ("proc_is_zombie", (ME,), bool),
    ("proc_oneshot_info", (ME,), (INT,) * 9 + (FLOAT,) + (INT,) * 4 + (FLOAT,) * 4
     + (INT,) * 6 + ({STR, NONE},)),
    ("proc_name", (ME,), STR),
    ("proc_num_threads", (ME,), INT),
    ("proc_exe", (ME,), STR),
    ("proc_cmdline", (ME,), [STR]),
    ("proc_environ", (ME,), {STR: STR}),
    ("proc_cwd", (ME,), STR),
    ("proc_open_files", (ME,), [(STR, INT)]),
    ("proc_num_fds", (ME,), INT),
    ("proc_threads", (ME,), [(INT, FLOAT, FLOAT)]),
    ("proc_memory_maps", (ME,), [(STR, STR, STR, INT, INT, INT, INT)]),
    ("proc_cpu_affinity_get", (ME,), [INT]),
    ("proc_cpu_affinity_set", lambda: (ME, q.proc_cpu_affinity_get(ME)), NONE),
    ("proc_getrlimit", (ME, q.RLIMIT_NOFILE), (INT, INT)),
    ("proc_setrlimit", (ME, q.RLIMIT_NOFILE) + NOFILE, NONE),
    ("proc_priority_get", (ME,), INT),
    ("proc_priority_set", lambda: (ME, q.proc_priority_get(ME)), NONE),
    ("net_connections", ([2, 28, 1], [1, 2]), [(INT, INT, INT, ADDR, ADDR, INT, INT)]),
    ("proc_net_connections", (ME, [2, 28, 1], [1, 2]), [(INT, INT, INT, ADDR, ADDR, INT)]),
    ("cpu_count_logical", (), {INT, NONE}),
    ("cpu_times", (), TIMES),
    ("per_cpu_times", (), [TIMES]),
    ("cpu_stats", (), (INT,) * 5),
    ("boot_time", (), FLOAT),
    ("cpu_freq", (0,), (INT, STR)),
    ("cpu_topology", (), {STR, NONE}),
    ("virtual_mem", (), (INT,) * 8),
    ("swap_mem", (), (INT,) * 5),
    ("heap_info", (), (INT, INT)),
    ("heap_trim", (), NONE),
    ("disk_partitions", (), [(STR, STR, STR, STR)]),
    ("disk_io_counters", (), {STR: (INT,) * 7}),
    ("sensors_battery", (), (INT, INT, INT)),
    ("sensors_cpu_temperature", (0,), (INT, INT)),
    ("users", (), [(STR, STR, STR, FLOAT, INT)]),
    ("net_if_addrs", (), [(STR, INT, STR, {STR, NONE}, {STR, NONE}, {STR, NONE})]),
    ("net_io_counters", (), {STR: (INT,) * 8}),
    ("net_if_flags", lambda: (loopback(),), [STR]),
    ("net_if_mtu", lambda: (loopback(),), INT),
    ("net_if_is_running", lambda: (loopback(),), bool),
    ("net_if_duplex_speed", lambda: (loopback(),), [INT]),
]
# Hardware that a host may lack is reported so, with these exact messages.
ABSENT = {"cpu_freq": "unable to read frequency", "sensors_battery": "no battery",
          "sensors_cpu_temperature": "no temperature sensors"}


def test_every_function_is_called():
    assert sorted(c[0] for c in CALLS) == sorted(
        n for n, v in vars(q).items() if callable(v) and not isinstance(v, type))


@pytest.mark.parametrize("name,args,shape", CALLS, ids=[c[0] for c in CALLS])
def test_result_shape(name, args, shape):
    args = args() if callable(args) else args
    try:
        result = getattr(q, name)(*args)
    except NotImplementedError as e:
        assert name in ABSENT and str(e) == ABSENT[name]
        pytest.skip(f"this host has no such hardware: {e}")
    assert shaped(result, shape), result
    if name == "net_if_duplex_speed":
        assert len(result) == 2


@pytest.mark.parametrize("shape,good,bad", [
    ((INT, STR), (1, "a"), (1, "a", 2)),
    ([(INT,)], [(1,), (2,)], [(1,), 2]),
    ({STR: INT}, {"a": 1}, {"a": 1.0}),
    ({INT, NONE}, None, "x"),
    (ADDR, (), ("h",)),
])
def test_shape_checker_tells_apart(shape, good, bad):
    assert shaped(good, shape) and not shaped(bad, shape)


def test_os_error_for_a_process_that_is_gone():
    if REPLAY:
        pid = max(q.pids()) + 1  # a process the recorded machine did not have
    else:
        pid = os.fork()
        if pid == 0:
            os._exit(0)
        os.waitpid(pid, 0)
    with pytest.raises(OSError) as e:
        q.proc_oneshot_info(pid)
    assert e.value.errno == 3
