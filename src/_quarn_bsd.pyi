"""FreeBSD amd64 back end of a process and system monitoring library.

Every function asks the kernel afresh and returns plain values. Failures are
OSError with the kernel's errno (3 for a process that does not exist, 13 for
one the caller may not inspect) unless a function says otherwise. Sizes are
bytes, times float seconds, unless a field says pages, ticks or milliseconds.
"""

from collections.abc import Iterable, Sequence
from typing import Final

version: Final = 722

AF_LINK: Final = 18
RLIMIT_AS: Final = 10
RLIMIT_CORE: Final = 4
RLIMIT_CPU: Final = 0
RLIMIT_DATA: Final = 2
RLIMIT_FSIZE: Final = 1
RLIMIT_MEMLOCK: Final = 6
RLIMIT_NOFILE: Final = 8
RLIMIT_NPROC: Final = 7
RLIMIT_RSS: Final = 5
RLIMIT_STACK: Final = 3
RLIMIT_SWAP: Final = 12
RLIMIT_SBSIZE: Final = 9
RLIMIT_NPTS: Final = 11
RLIM_INFINITY: Final = 9223372036854775807

SIDL: Final = 1
SRUN: Final = 2
SSLEEP: Final = 3
SSTOP: Final = 4
SZOMB: Final = 5
SWAIT: Final = 6
SLOCK: Final = 7

TCPS_CLOSED: Final = 0
TCPS_CLOSING: Final = 7
TCPS_CLOSE_WAIT: Final = 5
TCPS_LISTEN: Final = 1
TCPS_ESTABLISHED: Final = 4
TCPS_SYN_SENT: Final = 2
TCPS_SYN_RECEIVED: Final = 3
TCPS_FIN_WAIT_1: Final = 6
TCPS_FIN_WAIT_2: Final = 9
TCPS_LAST_ACK: Final = 8
TCPS_TIME_WAIT: Final = 10
QUARN_CONN_NONE: Final = 128

class ZombieProcessError(Exception):
    """The process exists but is a zombie, so the kernel keeps no more of it."""

# An inet address: (numeric host text, port); () for a remote with port 0.
_InetAddr = tuple[str, int] | tuple[()]
# An inet socket's address pair, or a UNIX socket's path ("" for a remote).
_Addr = _InetAddr | str

def set_debug(flag: object, /) -> None:
    """Switch the debug log on standard error on or off (the truth of flag)."""

def check_pid_range(pid: int, /) -> None:
    """ValueError "pid must be a positive integer" for a negative pid; the
    process need not exist."""

def getpagesize() -> int:
    """The page size, bytes."""

def pids() -> list[int]:
    """The IDs of every process."""

def proc_is_zombie(pid: int, /) -> bool:
    """Whether the process is a zombie; False when it cannot be read."""

def proc_oneshot_info(pid: int, /) -> tuple[
        int, int, int, int, int, int, int, int, int, float, int, int, int, int,
        float, float, float, float, int, int, int, int, int, int, str | None]:
    """The process record, 25 fields in this order:

    ppid, state (SIDL..SLOCK), real uid, effective uid, saved uid,
    real gid, effective gid, saved gid, terminal device (-1 for none),
    start time (seconds since the Epoch), voluntary context switches,
    involuntary context switches, block inputs, block outputs,
    user time (seconds), system time (seconds), children's user time
    (seconds), children's system time (seconds), resident size (bytes),
    virtual size (bytes), text size (bytes), data size (bytes),
    stack size (bytes), CPU number (running on, else last run on), command name
    (None when it cannot be decoded).
    """

def proc_name(pid: int, /) -> str:
    """The command name (at most 19 characters)."""

def proc_num_threads(pid: int, /) -> int:
    """The number of threads."""

def proc_exe(pid: int, /) -> str:
    """The executable's path; "" when it cannot be named."""

def proc_cmdline(pid: int, /) -> list[str]:
    """The arguments, in order."""

def proc_environ(pid: int, /) -> dict[str, str]:
    """The environment, name to value."""

def proc_cwd(pid: int, /) -> str:
    """The working directory; "" when the process has none on record."""

def proc_open_files(pid: int, /) -> list[tuple[str, int]]:
    """Regular files open: (path, descriptor number) each."""

def proc_num_fds(pid: int, /) -> int:
    """The number of entries in the process's open-file table."""

def proc_threads(pid: int, /) -> list[tuple[int, float, float]]:
    """One (thread ID, user time in seconds, system time in seconds) per thread."""

def proc_memory_maps(pid: int, /) -> list[tuple[str, str, str, int, int, int, int]]:
    """One tuple per mapping: (address range "0x1000-0x2000",
    permissions "rwx" with "-" for each missing, path or kind
    ("[default]", "[vnode]", ...), resident pages, private resident pages,
    reference count, shadow count). The counts are pages, not bytes."""

def proc_cpu_affinity_get(pid: int, /) -> list[int]:
    """The CPUs the process may run on, ascending."""

def proc_cpu_affinity_set(pid: int, cpus: Iterable[int], /) -> None:
    """Restrict the process to the given CPUs (ValueError for an invalid
    CPU number)."""

def proc_getrlimit(pid: int, resource: int, /) -> tuple[int, int]:
    """(soft limit, hard limit) of an RLIMIT_* resource; RLIM_INFINITY for
    none. Bytes, seconds or a count, as the resource measures."""

def proc_setrlimit(pid: int, resource: int, soft: int, hard: int, /) -> None:
    """Set (soft limit, hard limit) of an RLIMIT_* resource."""

def proc_priority_get(pid: int, /) -> int:
    """The nice value."""

def proc_priority_set(pid: int, priority: int, /) -> None:
    """Set the nice value."""

def net_connections(families: Sequence[int], types: Sequence[int], /) -> list[
        tuple[int, int, int, _Addr, _Addr, int, int]]:
    """The system's sockets of the given families (2 inet, 28 inet6, 1 unix)
    and types (1 stream, 2 datagram): (descriptor number, family, type,
    local address, remote address, status (a TCPS_* state, or
    QUARN_CONN_NONE), owner's process ID). TypeError "arg 2 or 3 is not a
    sequence" for a filter that is not a sequence."""

def proc_net_connections(pid: int, families: Sequence[int], types: Sequence[int], /) -> list[
        tuple[int, int, int, _Addr, _Addr, int]]:
    """The process's sockets, as net_connections without the process ID:
    (descriptor number, family, type, local address, remote address,
    status)."""

def cpu_count_logical() -> int | None:
    """The number of logical CPUs; None when the kernel does not say."""

def cpu_times() -> tuple[float, float, float, float, float]:
    """The machine's CPU times, seconds: (user, nice, system, idle, interrupt)."""

def per_cpu_times() -> list[tuple[float, float, float, float, float]]:
    """Per CPU, seconds: (user, nice, system, idle, interrupt)."""

def cpu_stats() -> tuple[int, int, int, int, int]:
    """Counts since boot: (context switches, device interrupts, software
    interrupts, system calls, traps)."""

def boot_time() -> float:
    """The boot time, whole seconds since the Epoch."""

def cpu_freq(cpu: int, /) -> tuple[int, str]:
    """(current frequency in MHz, levels text "MHz/mW MHz/mW ..." or "").
    NotImplementedError "unable to read frequency" without frequency data."""

def cpu_topology() -> str | None:
    """The scheduler's topology description (XML text); None when absent."""

def virtual_mem() -> tuple[int, int, int, int, int, int, int, int]:
    """Bytes: (total, free, active, inactive, wired, cached, buffers, shared)."""

def swap_mem() -> tuple[int, int, int, int, int]:
    """(total bytes, used bytes, free bytes, swap pager operations,
    vnode pager operations); the counts wrap at 2**32."""

def heap_info() -> tuple[int, int]:
    """The allocator's (allocated bytes, mapped bytes)."""

def heap_trim() -> None:
    """Return the allocator's unused memory to the system."""

def disk_partitions() -> list[tuple[str, str, str, str]]:
    """Mounted file systems: (device, mount point, file-system type,
    options "rw,noexec,...")."""

def disk_io_counters() -> dict[str, tuple[int, int, int, int, int, int, int]]:
    """Per disk ("ada0"): (reads, writes, bytes read, bytes written,
    read time in milliseconds, write time in milliseconds, busy time in
    milliseconds)."""

def sensors_battery() -> tuple[int, int, int]:
    """(charge percent, minutes left or -1, on mains power 1/0).
    NotImplementedError "no battery" without one."""

def sensors_cpu_temperature(cpu: int, /) -> tuple[int, int]:
    """(current temperature, maximum junction temperature or -273), degrees
    Celsius. NotImplementedError "no temperature sensors" without them."""

def users() -> list[tuple[str, str, str, float, int]]:
    """Logged-in users: (name, terminal, host or "localhost", login time in
    whole seconds since the Epoch, process ID)."""

def net_if_addrs() -> list[tuple[str, int, str, str | None, str | None, str | None]]:
    """Per address: (interface, family (2, 28 or AF_LINK), address,
    netmask, broadcast address, point-to-point peer); None where absent."""

def net_io_counters() -> dict[str, tuple[int, int, int, int, int, int, int, int]]:
    """Per interface: (bytes sent, bytes received, packets sent, packets
    received, input errors, output errors, input drops, output drops
    (always 0))."""

def net_if_flags(name: str, /) -> list[str]:
    """The interface's set flags by name ("up", "broadcast", ...)."""

def net_if_mtu(name: str, /) -> int:
    """The MTU, bytes."""

def net_if_is_running(name: str, /) -> bool:
    """Whether the interface is running."""

def net_if_duplex_speed(name: str, /) -> list[int]:
    """[duplex (2 full, 1 half, 0 unknown), speed in Mbit/s (0 unknown)];
    [0, 0] when the interface reports no media."""
