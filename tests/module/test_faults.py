"""Every platform call of every module function made to fail, and every
allocation of the module made to fail once (the C allocator's, the
interpreter's and C++'s operator new): documented exception, nothing leaked,
nothing else pending."""

import errno
import gc
import os
import sys

import pytest

import _quarn_bsd
import faults
import standin
from net_records import AF_INET, SOCK_STREAM, kinfo_socket, pcblist, sockaddr, xtcpcb


def oserr(what):
    """OSError(err, "<strerror> (originated from what)"); what may name {key}."""
    return ("os", what)


PLAIN = ("plain", None)  # OSError from errno alone
OK = ("ok", None)        # a plain result: the failure is documented as not an error


def ret(value):
    return ("ret", value)


def runtime(msg):
    return ("rt", msg)


def growing(what):
    """A growing read: the measure (1/3), the read (3/3), the re-measure
    after a read found the table grown (2/3)."""
    def rule(err, pos):
        return oserr(f"{what} malloc {'1/3' if pos == 0 else '2/3' if err == errno.ENOMEM else '3/3'}")
    return rule


def frequency(err, pos):
    if err == errno.ENOENT:
        return ("notimpl", "unable to read frequency")
    return PLAIN


def forced(err_no, what):
    """OSError(err_no, "force ... (originated from what)"): the forced
    no-such-process (3) or permission-denied (13) error."""
    return ("forced", (err_no, what))


def for_pid(what):
    """A library call that returned nothing, judged for our own live process:
    its errno if it set one, else the call "syscall failed"."""
    def rule(err, pos):
        return oserr(what) if err else runtime(f"{what} syscall failed")
    return rule


def path_read(err, pos):
    return ret("") if err == errno.ENOENT else oserr("sysctl(KERN_PROC_PATHNAME)")


def kvm_open(err, pos):
    text = f"(originated from kvm_openfiles: /dev/null: {os.strerror(err)})"
    return forced(13, text) if err in (errno.EPERM, errno.EACCES) else runtime(text)


def getenvv(err, pos):
    return {0: ret({}), errno.EPERM: forced(13, "kvm_getenvv -> EPERM"),
            errno.ESRCH: forced(3, "kvm_getenvv -> ESRCH"),
            errno.ENOMEM: forced(13, f"kvm_getenvv(pid={faults.PID}, ki_uid={os.geteuid()}) -> ENOMEM"),
            }.get(err, oserr(f"kvm_getenvv(pid={faults.PID})"))


def no_battery(err, pos):
    return ("notimpl", "no battery") if err == errno.ENOENT else PLAIN


def no_sensor(err, pos):
    return ("notimpl", "no temperature sensors") if err == errno.ENOENT else PLAIN


def priority(err, pos):
    return ret(-1) if err == 0 else PLAIN


def pcb_list(err, pos):
    """A table read: ENOMEM means "grown, read again" (generic contract)."""
    return None if err == errno.ENOMEM else PLAIN


def epoch(err, pos):
    return oserr("mallctl('epoch')" if pos == 0 else "mallctl('epoch') update")


# Per function: (call, key, rule); key None matches any key of the call,
# "{pid}" is the process asked about; the first matching row holds.
PROC_RECORD = [("sysctl", "1.14.1.{pid}", oserr("sysctl(kinfo_proc)")), ("sysconf", "47", OK)]
EXPECT = {
    "pids": [("sysctl", "1.14.8.0", growing("sysctl()"))],
    "proc_oneshot_info": PROC_RECORD,
    "proc_name": PROC_RECORD,
    "proc_num_threads": PROC_RECORD,
    "proc_is_zombie": [("sysctl", "1.14.1.{pid}", ret(False))],
    "getpagesize": [("sysconf", "47", ret(-1))],
    "cpu_times": [("sysctl", "kern.cp_time", oserr("sysctlbyname('kern.cp_time')"))],
    "per_cpu_times": [("sysctl", "6.3", oserr("sysctl()")),
                      ("sysctl", "kern.cp_times", oserr("sysctlbyname('kern.cp_times')"))],
    "cpu_stats": [("sysctl", None, oserr("sysctlbyname('{key}')"))],
    "boot_time": [("sysctl", "1.21", oserr("sysctl()"))],
    "cpu_count_logical": [("sysctl", "6.3", ret(None))],
    "cpu_freq": [("sysctl", "dev.cpu.0.freq", frequency), ("sysctl", "dev.cpu.0.freq_levels", OK)],
    "cpu_topology": [("sysctl", "kern.sched.topology_spec", ret(None))],
    "virtual_mem": [("sysctl", "vm.stats.vm.v_cache_count", OK),
                    ("sysctl", "2.1", oserr("sysctl(CTL_VM | VM_METER)")),
                    ("sysconf", "47", OK),
                    ("sysctl", None, oserr("sysctlbyname('{key}')"))],
    "swap_mem": [("kvm_open", "", runtime("kvm_open() syscall failed")),
                 ("kvm_getswapinfo", "", runtime("kvm_getswapinfo() syscall failed")),
                 ("kvm_close", "", OK), ("sysconf", "47", OK),
                 ("sysctl", None, oserr("sysctlbyname('{key}')"))],
    "heap_info": [("mallctl", "epoch", epoch), ("mallctl", None, oserr("mallctl('{key}')"))],
    "heap_trim": [("mallctl", "arena.4096.purge", PLAIN)],
    "proc_exe": [("sysctl", "1.14.12.{pid}", path_read)],
    "proc_cmdline": [("sysctl", "1.14.7.{pid}", growing("sysctl()"))],
    "proc_environ": [("kvm_openfiles", "", kvm_open),
                     ("kvm_getprocs", "{pid}", forced(3, "kvm_getprocs")),
                     ("kvm_getenvv", "{pid}", getenvv), ("kvm_close", "", OK)],
    "proc_cwd": PROC_RECORD + [("kinfo_getfile", "{pid}", for_pid("kinfo_getfile()"))],
    "proc_open_files": PROC_RECORD + [("kinfo_getfile", "{pid}", for_pid("kinfo_getfile()"))],
    "proc_num_fds": PROC_RECORD + [("kinfo_getfile", "{pid}", for_pid("kinfo_getfile()"))],
    "proc_memory_maps": PROC_RECORD + [("kinfo_getvmmap", "{pid}", for_pid("kinfo_getvmmap()"))],
    "proc_threads": [("sysctl", "1.14.17.{pid}", growing("sysctl()"))],
    "proc_cpu_affinity_get": [("cpuset_getaffinity", "{pid}", PLAIN)],
    "proc_getrlimit": [("sysctl", None, oserr("sysctl()"))],
    "proc_priority_get": [("getpriority", "{pid}", priority)],
    "sensors_cpu_temperature": [("sysctl", "dev.cpu.0.temperature", no_sensor)],
    "net_connections": [("sysctl", None, pcb_list)],
    "proc_net_connections": [("kinfo_getfile", "{pid}", for_pid("kinfo_getfile()")),
                             ("sysctl", "net.inet.tcp.pcblist", PLAIN)],
    "disk_partitions": [("getfsstat", "", PLAIN)],
    "disk_io_counters": [("devstat_checkversion", "", runtime("devstat_checkversion() syscall failed")),
                         ("devstat_getdevs", "", runtime("devstat_getdevs() syscall failed"))],
    "users": [("getutxent", "", OK)],
    "sensors_battery": [("sysctl", None, no_battery)],
    "net_if_addrs": [("getifaddrs", "", PLAIN), ("getnameinfo", None, OK), ("freeifaddrs", "", OK)],
    "net_io_counters": [("sysctl", "4.17.0.0.3.0", growing("sysctl()"))],
    "net_if_mtu": [("socket", "2.2.0", PLAIN), ("ioctl", "lo/SIOCGIFMTU", PLAIN)],
    "net_if_is_running": [("socket", "2.2.0", PLAIN), ("ioctl", "lo/SIOCGIFFLAGS", PLAIN)],
    "net_if_flags": [("socket", "2.2.0", oserr("socket(SOCK_DGRAM)")),
                     ("ioctl", "lo/SIOCGIFFLAGS", oserr("ioctl(SIOCGIFFLAGS)"))],
    "net_if_duplex_speed": [("socket", "2.2.0", PLAIN), ("ioctl", "lo/SIOCGIFMEDIA", ret([0, 0]))],
}

# Library calls that report any failure, memory included, as one error:
# the exception's type and text.
LIBRARY_FAILED = {
    "disk_io_counters": [(RuntimeError, "devstat_getdevs() syscall failed")],
    "swap_mem": [(RuntimeError, "kvm_open() syscall failed"),
                 (RuntimeError, "kvm_getswapinfo() syscall failed")],
    "proc_environ": [
        (RuntimeError, "(originated from kvm_openfiles: /dev/null: Cannot allocate memory)"),
        (ProcessLookupError, "[Errno 3] force no such process (originated from kvm_getprocs)"),
        (PermissionError, f"[Errno 13] force permission denied (originated from "
                          f"kvm_getenvv(pid={faults.PID}, ki_uid={os.geteuid()}) -> ENOMEM)")],
}
# Calls whose want of memory is another errno than ENOMEM.
MEMORY_ERRNO = {"heap_info": errno.EAGAIN, "heap_trim": errno.EAGAIN}  # mallctl

# The kernel tables a function reads into a buffer it doubles while the read
# says ENOMEM, and the size of its first buffer: the walk makes their ENOMEM
# pass after a few reads ("grown, read again"); growing to the bound is
# checked once per table below, since each check allocates up to 1 GiB.
TCP_LIST, UDP_LIST = "net.inet.tcp.pcblist", "net.inet.udp.pcblist"
STREAM_LIST, DGRAM_LIST = "net.local.stream.pcblist", "net.local.dgram.pcblist"
GROWING = {"net_connections": {"kern.file": 128, TCP_LIST: 8192, UDP_LIST: 8192,
                               STREAM_LIST: 8192, DGRAM_LIST: 8192}}
TABLE_BOUND = 1 << 30

FUNCTIONS = faults.functions()


def expected(name, call, key, err, pos):
    for c, k, rule in EXPECT.get(name, []):
        if c == call and (k is None or k.format(pid=faults.PID) == key):
            return rule(err, pos) if callable(rule) else rule
    return None


def check(name, call, key, err, pos, out):
    """'' when out is the outcome expected, else what is wrong with it."""
    where = f"{name}: {call} {key!r} #{pos} errno {err}: got {out!r}"
    if isinstance(out, SystemError) or not (isinstance(out, faults.ALLOWED) or faults.plain(out)):
        return where
    rule = expected(name, call, key, err, pos)
    if rule is None:
        # No row: the generic contract, and no errno but the injected one
        # (or a forced no-such-process or permission error) as the cause.
        if isinstance(out, OSError) and err and out.errno not in (err, errno.ESRCH, errno.EACCES):
            return where + " (errno of another call)"
        return ""
    kind, arg = rule
    if kind == "ok":
        ok = not isinstance(out, BaseException)
    elif kind == "ret":
        ok = out is arg or out == arg and type(out) is type(arg)
    elif kind == "os":
        ok = isinstance(out, OSError) and \
            out.errno == err and out.strerror == f"{os.strerror(err)} (originated from {arg.format(key=key)})"
    elif kind == "plain":
        ok = isinstance(out, OSError) and out.errno == err and out.strerror == os.strerror(err)
    elif kind == "forced":
        code, what = arg
        word = "no such process" if code == errno.ESRCH else "permission denied"
        ok = isinstance(out, OSError) and out.errno == code and \
            out.strerror == f"force {word} (originated from {what})"
    elif kind == "rt":
        ok = type(out) is RuntimeError and str(out) == arg
    else:
        ok = type(out) is NotImplementedError and str(out) == arg
    return "" if ok else f"{where}, expected {rule}"


def sweep(name):
    """Makes each platform call of one live call fail at each of its uses
    with each documented errno; returns the faults found and the count of
    failures injected."""
    fn, args = getattr(_quarn_bsd, name), faults.args_of(name)
    found, injected = [], 0
    for call, key, times in faults.platform_calls(name):
        for pos in range(times):
            for err in faults.errnos_of(call):
                grown = err == errno.ENOMEM and key in GROWING.get(name, {})
                # The host's own tables may change between runs, and with
                # them how often a call is made: a failure counts only once
                # the call reached it.
                for _ in range(3):
                    faults.fail_at(name, call, key, pos, err, times=3 if grown else None)
                    try:
                        out = fn(*args)
                    except BaseException as e:  # noqa: B902 - the outcome is inspected
                        out = e
                    if faults.uses(call, key) > pos:
                        break
                else:
                    found.append(f"{name}: use {pos} of {call}({key}) is never reached")
                    continue
                injected += 1
                problem = check(name, call, key, err, pos, out)
                if problem:
                    found.append(problem)
    standin.reset()
    return found, injected


@pytest.mark.parametrize("name", FUNCTIONS)
def test_platform_failures(name):
    found, injected = sweep(name)
    assert not found, "\n".join(found)
    # The same failures again: no block and no descriptor may stay behind.
    gc.collect()
    blocks, fds = sys.getallocatedblocks(), faults.open_fds()
    for _ in range(10):
        sweep(name)
    gc.collect()
    assert sys.getallocatedblocks() - blocks < 10, f"{name}: blocks leak on failure paths"
    assert faults.open_fds() == fds


@pytest.mark.parametrize("table", sorted(GROWING["net_connections"]))
def test_table_growth_stops_at_its_bound(table):
    """A table read that says ENOMEM whatever its buffer: the buffer doubles
    from its first size to the bound, no further, and the call says
    ENOMEM; nothing is left open."""
    fds = faults.open_fds()
    standin.reset()
    faults.install(faults.NET_TABLES, skip=("sysctl", table))
    standin.sysctl_error(table, errno.ENOMEM)
    standin.clear_log()
    with pytest.raises(OSError) as e:
        _quarn_bsd.net_connections(*faults.args_of("net_connections"))
    reads = [c.size for c in standin.log() if c.key == table and c.op == "read"]
    standin.reset()
    assert (e.value.errno, e.value.strerror) == (errno.ENOMEM, os.strerror(errno.ENOMEM))
    first = GROWING["net_connections"][table]
    assert reads == [first << i for i in range((TABLE_BOUND // first).bit_length())]
    assert reads[-1] == TABLE_BOUND
    assert faults.open_fds() == fds



def picks(count, limit):
    """Which of count allocations to fail: each, or limit of them spread
    evenly from the first to the last."""
    if count <= limit:
        return list(range(1, count + 1))
    return sorted({1 + (count - 1) * i // (limit - 1) for i in range(limit)})


def alloc_sweep(name, kind, limit=64):
    """Fails each allocation of one kind in turn (at most limit of them);
    returns the outcome of the call without a failure, and those of the
    failures the call reached."""
    fn, args = getattr(_quarn_bsd, name), faults.args_of(name)
    standin.reset()
    faults.prime(name)
    base, count = faults.call_failing(fn, args, kind, 0)
    outcomes = []
    for nth in picks(count, limit):
        out, seen = faults.call_failing(fn, args, kind, nth)
        if seen >= nth:
            outcomes.append((nth, out))
    standin.reset()
    return base, outcomes


def no_memory(name, o):
    """Out of memory: MemoryError, or OSError with ENOMEM (or the call's own
    errno for it) where a library call failed for want of memory or the
    failure is documented as from errno."""
    return isinstance(o, MemoryError) or \
        isinstance(o, OSError) and o.errno == MEMORY_ERRNO.get(name, errno.ENOMEM)


def sound(name, base, o):
    """No memory, a plain result where a failure is documented as not an
    error (or a read is tried again), the documented error of a library
    call that failed for want of memory, or the error the call meets anyway
    (an exception it replaces)."""
    if not isinstance(o, BaseException):
        return faults.plain(o)
    if (type(o), str(o)) in LIBRARY_FAILED.get(name, ()):
        return True
    return no_memory(name, o) or isinstance(base, BaseException) and \
        type(o) is type(base) and o.args == base.args


KINDS = [faults.C_ALLOC, faults.CPP_ALLOC, faults.PY_ALLOC]


@pytest.mark.parametrize("kind", KINDS, ids=["malloc", "new", "pymem"])
@pytest.mark.parametrize("name", FUNCTIONS)
def test_allocation_failures(name, kind):
    base, outcomes = alloc_sweep(name, kind)
    wrong = [(n, o) for n, o in outcomes if not sound(name, base, o)]
    assert not wrong, f"{name}: {wrong}"
    # A function whose own C allocations fail says so at least once. (Most
    # operator new calls are the stand-in's, whose failure may be a read
    # tried again; the module's own are checked below.)
    if kind == faults.C_ALLOC and outcomes:
        assert any(no_memory(name, o) for _, o in outcomes), outcomes
    gc.collect()
    blocks, fds = sys.getallocatedblocks(), faults.open_fds()
    for _ in range(5):
        alloc_sweep(name, kind)
    gc.collect()
    assert sys.getallocatedblocks() - blocks < 20, f"{name}: blocks leak on MemoryError paths"
    assert faults.open_fds() == fds


# The module's own C++ containers: the index of the open-file table by
# socket (net_connections) and of the TCP list (proc_net_connections). On
# injected tables the stand-in's own operator new calls only name the
# tables, and their failure is the call's ENOMEM (a read tried again, or a
# measure that fails); the indexes' say MemoryError.
OWNER = faults.OWNER


def net_tables():
    faults.install(faults.NET_TABLES)


def proc_tables():
    local = sockaddr(AF_INET, "10.0.0.1", 80)
    standin.push("kinfo_getfile", str(OWNER), standin.answer(
        kinfo_socket(3, AF_INET, SOCK_STREAM, 6, local=local, peer=sockaddr(AF_INET))))
    standin.sysctl_answer(TCP_LIST, pcblist([xtcpcb(0x100, 1, laddr="10.0.0.1", lport=80)]))


@pytest.mark.parametrize("fn,args,tables", [
    (_quarn_bsd.net_connections, ([2, 28, 1], [1, 2]), net_tables),
    (_quarn_bsd.proc_net_connections, (OWNER, [2], [1]), proc_tables),
], ids=["net_connections", "proc_net_connections"])
def test_index_allocation_failure_is_memory_error(fn, args, tables):
    standin.reset()
    tables()
    base, count = faults.call_failing(fn, args, faults.CPP_ALLOC, 0)
    assert isinstance(base, list) and base, base
    outcomes = [faults.call_failing(fn, args, faults.CPP_ALLOC, nth)[0]
                for nth in range(1, count + 1)]
    standin.reset()
    assert all(o == base or type(o) is MemoryError or no_memory(fn.__name__, o)
               for o in outcomes), outcomes
    assert any(type(o) is MemoryError for o in outcomes), outcomes
