"""Failure injection over the module's whole function list.

What each module function asks of the platform is learned from the call log
of a live call; each of those calls is then made to fail. The expected
outcomes are rows of EXPECT (tests/module/test_faults.py); a function without rows
is held to the generic contract only.
"""

import ctypes
import errno
import os

import _quarn_bsd
import records
import standin
from net_records import (AF_INET, SOCK_STREAM, XUNPGEN, kinfo_socket, pcblist, sockaddr, xfile,
                         xinpcb, xtcpcb, xunpcb)

# The errnos the kernel documentation names for each call, and whether the
# call can give a null result with errno left at 0.
CALL_ERRNOS = {
    "sysctl": (errno.ENOENT, errno.ESRCH, errno.ENOMEM, errno.EPERM, errno.EINVAL, errno.EIO),
    "sysconf": (errno.EINVAL,),
    "kill": (errno.ESRCH, errno.EPERM, errno.EINVAL),
    "kinfo_getfile": (errno.ESRCH, errno.EPERM, errno.ENOMEM, 0),
    "kinfo_getvmmap": (errno.ESRCH, errno.EPERM, errno.ENOMEM, 0),
    "kvm_open": (errno.EACCES, errno.ENOMEM, errno.EINVAL, 0),
    "kvm_getswapinfo": (errno.EIO, errno.EINVAL),
    "kvm_close": (errno.EINVAL,),
    "kvm_openfiles": (errno.EACCES, errno.EPERM, errno.ENOMEM, errno.EINVAL),
    "kvm_getprocs": (errno.ESRCH, errno.EINVAL, errno.ENOMEM),
    "kvm_getenvv": (errno.EPERM, errno.ESRCH, errno.ENOMEM, errno.EINVAL, 0),
    # These set errno whenever they fail; getpriority's -1 with errno 0 is
    # the priority -1.
    "socket": (errno.EACCES, errno.EMFILE, errno.ENFILE, errno.ENOBUFS),
    "ioctl": (errno.EBADF, errno.EINVAL, errno.ENXIO, errno.ENOTTY),
    "getfsstat": (errno.EFAULT, errno.EIO, errno.EINVAL),
    "getifaddrs": (errno.ENOMEM, errno.EMFILE, errno.EIO),
    "cpuset_getaffinity": (errno.EINVAL, errno.EDEADLK, errno.EFAULT, errno.ESRCH, errno.ERANGE,
                           errno.EPERM),
    "getpriority": (errno.ESRCH, errno.EINVAL, errno.EPERM, 0),
    "mallctl": (errno.EINVAL, errno.ENOENT, errno.EPERM, errno.EAGAIN, errno.EFAULT),
}
DEFAULT_ERRNOS = (errno.EPERM, errno.EINVAL, errno.EIO, 0)

# Arguments for the functions that take some; the others are called with ().
# Settings are written back as they are.
PID = os.getpid()
ARGS = {
    "proc_name": (PID,),
    "proc_oneshot_info": (PID,),
    "proc_num_threads": (PID,),
    "proc_is_zombie": (PID,),
    "proc_exe": (PID,),
    "proc_cmdline": (PID,),
    "proc_environ": (PID,),
    "proc_cwd": (PID,),
    "proc_open_files": (PID,),
    "proc_num_fds": (PID,),
    "proc_threads": (PID,),
    "proc_memory_maps": (PID,),
    "proc_cpu_affinity_get": (PID,),
    "proc_getrlimit": (PID, 4),
    "proc_priority_get": (PID,),
    "proc_net_connections": (PID, [2, 28, 1], [1, 2]),
    "net_connections": ([2, 28, 1], [1, 2]),
    "cpu_freq": (0,),
    "sensors_cpu_temperature": (0,),
    "net_if_flags": ("lo",),
    "net_if_mtu": ("lo",),
    "net_if_is_running": ("lo",),
    "net_if_duplex_speed": ("lo",),
    "disk_partitions": (0,),
    "set_debug": (False,),
    "check_pid_range": (PID,),
}

# The system's socket tables, small: four sockets of one process, one in each
# control-block list. The open-file table outgrows its first buffer twice.
OWNER = 7
NET_TABLES = {
    ("sysctl", "kern.file"): b"".join(xfile(OWNER, 3 + i, 0x100 * (i + 1)) for i in range(4)),
    ("sysctl", "net.inet.tcp.pcblist"): pcblist([xtcpcb(0x100, 1, laddr="10.0.0.1", lport=80)]),
    ("sysctl", "net.inet.udp.pcblist"): pcblist([xinpcb(0x200, laddr="127.0.0.1", lport=53)]),
    ("sysctl", "net.local.stream.pcblist"): pcblist([xunpcb(0x300, b"/run/a")], XUNPGEN),
    ("sysctl", "net.local.dgram.pcblist"): pcblist([xunpcb(0x400)], XUNPGEN),
}

# One TCP socket of this process, and the TCP list that holds it.
PROC_NET_TABLES = {
    ("kinfo_getfile", str(PID)): kinfo_socket(
        3, AF_INET, SOCK_STREAM, 6, local=sockaddr(AF_INET, "10.0.0.1", 80),
        peer=sockaddr(AF_INET)),
    ("sysctl", "net.inet.tcp.pcblist"): NET_TABLES[("sysctl", "net.inet.tcp.pcblist")],
}

# Injected answers that stand in for slow live ones (the whole process table
# of a busy host, the open files of every process): function ->
# {(call, key): bytes}. A live read costs more the busier the host is; these
# cost the same everywhere. make check and make stress walk the socket
# functions over the host's own tables, at their full size.
FULL = bool(os.environ.get("QUARN_SANITIZED") or os.environ.get("QUARN_STRESS"))
ANSWERS = {
    "pids": {("sysctl", "1.14.8.0"): records.proc_table(
        [records.kinfo_proc(b"p%d" % i, ki_pid=i) for i in range(1, 41)])},
}
if not FULL:
    ANSWERS.update(net_connections=NET_TABLES, proc_net_connections=PROC_NET_TABLES)


def install(tables, skip=None):
    """Installs the answers of one such table set, all but skip's."""
    for (call, key), data in tables.items():
        if (call, key) != skip:
            standin.push(call, key, standin.answer(data))

# Functions that touch no platform call, or change settings (their failure
# paths are tested with injected answers in their own suites).
NOT_WALKED = {"set_debug", "check_pid_range", "proc_cpu_affinity_set", "proc_setrlimit",
              "proc_priority_set"}

# The exception types any function may raise.
ALLOWED = (OSError, RuntimeError, MemoryError, ValueError, OverflowError,
           _quarn_bsd.ZombieProcessError)


def plain(v):
    """Numbers, text, None, booleans, and tuples, lists or dicts of them."""
    if v is None or isinstance(v, (bool, int, float, str, bytes)):
        return True
    if isinstance(v, (tuple, list)):
        return all(plain(x) for x in v)
    if isinstance(v, dict):
        return all(plain(k) and plain(x) for k, x in v.items())
    return False


def functions():
    """Every module function the walk covers, by name."""
    return sorted(n for n in dir(_quarn_bsd)
                  if callable(getattr(_quarn_bsd, n)) and not isinstance(getattr(_quarn_bsd, n), type)
                  and n not in NOT_WALKED)


def args_of(name):
    return ARGS.get(name, ())


def prime(name, skip=None):
    """Installs the function's stand-in answers, all but the one for skip."""
    for (call, key), data in ANSWERS.get(name, {}).items():
        if (call, key) != skip:
            standin.push(call, key, standin.answer(data))


def platform_calls(name):
    """The (call, key, times) of the platform calls of one live call, in
    order of their first use."""
    standin.reset()
    prime(name)
    standin.clear_log()
    try:
        getattr(_quarn_bsd, name)(*args_of(name))
    except ALLOWED:
        pass
    seen = {}
    for c in standin.log():
        seen[(c.call, c.key)] = seen.get((c.call, c.key), 0) + 1
    standin.reset()
    return [(call, key, n) for (call, key), n in seen.items()]


def errnos_of(call):
    return CALL_ERRNOS.get(call, DEFAULT_ERRNOS)


def fail_at(name, call, key, pos, err, times=None):
    """The pos-th call (0-based) of call/key fails with err; the earlier ones
    answer as without the failure. The failure stays in force for every later
    call, or for that many calls only."""
    standin.reset()
    prime(name, skip=(call, key))
    data = ANSWERS.get(name, {}).get((call, key))
    before = standin.live() if data is None else standin.answer(data)
    after = [] if times is None else [standin.error(err)] * (times - 1) + [before]
    standin.sequence(call, key, [before] * pos + [standin.error(err)] + after)


def uses(call, key):
    """How often call/key was made since the last reset."""
    return sum(1 for c in standin.log() if (c.call, c.key) == (call, key))


def open_fds():
    return len(os.listdir("/proc/self/fd"))


_pylib = ctypes.PyDLL(_quarn_bsd.__file__)
_call_failing = _pylib.standin_call_failing
_call_failing.restype = ctypes.py_object
_call_failing.argtypes = [ctypes.py_object, ctypes.py_object, ctypes.c_int, ctypes.c_long,
                          ctypes.POINTER(ctypes.c_long)]
C_ALLOC, PY_ALLOC, CPP_ALLOC = 1, 2, 3


def call_failing(fn, args, kind, nth):
    """fn(*args) with its nth allocation of kind failing (0: none): the C
    allocator, the interpreter's, or C++'s operator new. Returns (result or
    the exception raised, allocations the call made)."""
    seen = ctypes.c_long()
    result, exc = _call_failing(fn, tuple(args), kind, nth, ctypes.byref(seen))
    return (result if exc is None else exc), seen.value
