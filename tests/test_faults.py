"""Every platform call of every module function made to fail, and every
allocation of the module made to fail once: documented exception, nothing
leaked, nothing else pending."""

import errno
import gc
import os
import sys

import pytest

import _quarn_bsd
import faults
import standin


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

# Library calls that report any failure, memory included, as one error.
LIBRARY_FAILED = {"disk_io_counters": ("devstat_getdevs() syscall failed",)}

FUNCTIONS = faults.functions()


def expected(name, call, key, err, pos):
    for c, k, rule in EXPECT.get(name, []):
        if c == call and (k is None or k.format(pid=faults.PID) == key):
            return rule(err, pos) if callable(rule) else rule
    return None


def plain(v):
    if v is None or isinstance(v, (bool, int, float, str, bytes)):
        return True
    if isinstance(v, (tuple, list)):
        return all(plain(x) for x in v)
    if isinstance(v, dict):
        return all(plain(k) and plain(x) for k, x in v.items())
    return False


def check(name, call, key, err, pos, out):
    """'' when out is the outcome expected, else what is wrong with it."""
    where = f"{name}: {call} {key!r} #{pos} errno {err}: got {out!r}"
    if isinstance(out, SystemError) or not (isinstance(out, faults.ALLOWED) or plain(out)):
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
                faults.fail_at(name, call, key, pos, err)
                try:
                    out = fn(*args)
                except BaseException as e:  # noqa: B902 - the outcome is inspected
                    out = e
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


def alloc_sweep(name, kind, limit=64):
    """Fails each allocation of one kind in turn; returns the outcome of the
    call without a failure, and those of the failures the call reached."""
    fn, args = getattr(_quarn_bsd, name), faults.args_of(name)
    standin.reset()
    faults.prime(name)
    base, count = faults.call_failing(fn, args, kind, 0)
    outcomes = []
    for nth in range(1, min(count, limit) + 1):
        out, seen = faults.call_failing(fn, args, kind, nth)
        if seen >= nth:
            outcomes.append((nth, out))
    standin.reset()
    return base, outcomes


@pytest.mark.parametrize("kind", [faults.C_ALLOC, faults.PY_ALLOC], ids=["malloc", "pymem"])
@pytest.mark.parametrize("name", FUNCTIONS)
def test_allocation_failures(name, kind):
    base, outcomes = alloc_sweep(name, kind)

    # Out of memory: MemoryError, or OSError with ENOMEM where a library call
    # failed for want of memory or the failure is documented as from errno.
    def no_memory(o):
        return isinstance(o, MemoryError) or isinstance(o, OSError) and o.errno == errno.ENOMEM

    # That, a plain result where a failure is documented as not an error,
    # the documented error of a library call that failed for want of memory,
    # or the error the call meets anyway (an exception it replaces).
    def sound(o):
        if not isinstance(o, BaseException):
            return plain(o)
        if type(o) is RuntimeError and str(o) in LIBRARY_FAILED.get(name, ()):
            return True
        return no_memory(o) or isinstance(base, BaseException) and \
            type(o) is type(base) and o.args == base.args

    wrong = [(n, o) for n, o in outcomes if not sound(o)]
    assert not wrong, f"{name}: {wrong}"
    # A function whose own allocations fail says so at least once.
    if kind == faults.C_ALLOC and outcomes:
        assert any(no_memory(o) for _, o in outcomes), outcomes
    gc.collect()
    blocks, fds = sys.getallocatedblocks(), faults.open_fds()
    for _ in range(5):
        alloc_sweep(name, kind)
    gc.collect()
    assert sys.getallocatedblocks() - blocks < 20, f"{name}: blocks leak on MemoryError paths"
    assert faults.open_fds() == fds
