"""Processes that come and go under every per-process function, and every
function from 8 threads at once. Small here; QUARN_STRESS=1 (make stress)
runs them longer."""

import errno
import os
import subprocess
import threading
import time

import pytest

import _quarn_bsd
import faults
import standin

STRESS = bool(os.environ.get("QUARN_STRESS"))
CHURN_SECONDS = 30 if STRESS else 2
THREADS = 8
THREAD_ROUNDS = 200 if STRESS else 5

# Forks and reaps hundreds of processes a second (tests/churn.cpp), built
# next to the module.
CHURNER = os.path.join(os.path.dirname(_quarn_bsd.__file__), "quarn_churn")


PER_PROCESS = [n for n in faults.functions() if n.startswith("proc_")]


def args_for(name, pid):
    return tuple(pid if a == faults.PID else a for a in faults.args_of(name))


def outcome_ok(out):
    """A result, or no such process, a zombie, or a permission error."""
    if not isinstance(out, BaseException):
        return True
    if isinstance(out, _quarn_bsd.ZombieProcessError):
        return True
    return type(out) in (ProcessLookupError, PermissionError, OSError) and \
        out.errno in (errno.ESRCH, errno.EPERM, errno.EACCES)


def test_per_process_functions_under_churn():
    churner = subprocess.Popen([CHURNER, str(CHURN_SECONDS)],
                               stdout=subprocess.PIPE, text=True)
    # Every ID the churner's children can take, until the churner is done,
    # and in a stress run every process of the host as well.
    window = range(churner.pid, churner.pid + 4000)
    wrong, calls = [], 0
    try:
        targets = list(window)
        if STRESS:
            targets += _quarn_bsd.pids()
        done = False
        while not done:
            for pid in targets:
                for name in PER_PROCESS:
                    try:
                        out = getattr(_quarn_bsd, name)(*args_for(name, pid))
                    except BaseException as e:  # noqa: B902 - the outcome is inspected
                        out = e
                    calls += 1
                    if not outcome_ok(out):
                        wrong.append((name, pid, out))
                done = churner.poll() is not None
                if done:
                    break
    finally:
        forked = int(churner.communicate()[0] or 0)
    assert not wrong, wrong[:10]
    assert forked > 0 and calls > 0
    print(f"churn: {forked} processes forked in {CHURN_SECONDS} s, {calls} calls")


# Functions whose answer cannot change while the test runs; the others must
# keep the shape (type and length) of their first answer.
STABLE = {"getpagesize", "cpu_count_logical", "boot_time", "cpu_topology", "proc_name",
          "proc_is_zombie", "proc_exe", "proc_cmdline", "proc_cwd", "proc_getrlimit",
          "disk_partitions", "net_if_addrs", "net_if_mtu", "net_if_flags", "users"}
# Settings and the debug flag are left alone; the process table of a busy
# host is a stand-in answer except in stress runs.
SKIPPED = {"set_debug"}


def shape(v):
    """A record keeps its length; a table (list, dict) may grow or shrink."""
    if isinstance(v, tuple):
        return type(v), len(v)
    return type(v)


def test_every_function_from_threads():
    names = [n for n in faults.functions() if n not in SKIPPED]
    if not STRESS:
        faults.prime("pids")
    reference = {}
    for name in names:
        try:
            reference[name] = getattr(_quarn_bsd, name)(*faults.args_of(name))
        except faults.ALLOWED as e:
            reference[name] = e
    wrong = []
    start = threading.Barrier(THREADS)

    def worker(k):
        start.wait()
        for r in range(THREAD_ROUNDS):
            for name in names[k % len(names):] + names[:k % len(names)]:
                ref = reference[name]
                try:
                    out = getattr(_quarn_bsd, name)(*faults.args_of(name))
                except BaseException as e:  # noqa: B902 - the outcome is inspected
                    out = e
                if isinstance(ref, BaseException):
                    same = type(out) is type(ref) and out.args == ref.args
                elif name in STABLE:
                    same = out == ref
                else:
                    same = shape(out) == shape(ref)
                if not same:
                    wrong.append((name, ref, out))

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    standin.reset()
    assert not wrong, wrong[:10]
    print(f"threads: {THREADS} x {THREAD_ROUNDS} rounds of {len(names)} functions")


@pytest.mark.skipif(not hasattr(_quarn_bsd, "disk_partitions"), reason="not built yet")
def test_disk_partitions_lets_other_threads_run():
    # While one thread reads the mount table without the interpreter lock,
    # another keeps counting.
    stop = threading.Event()
    ticks = [0]

    def counter():
        while not stop.is_set():
            ticks[0] += 1

    t = threading.Thread(target=counter)
    t.start()
    try:
        first = _quarn_bsd.disk_partitions(0)
        for _ in range(THREAD_ROUNDS * 4):
            assert _quarn_bsd.disk_partitions(0) == first
    finally:
        stop.set()
        t.join()
    assert ticks[0] > 0
