"""Cost of one live call of the disk, sensor and user functions, as ratios
against the host's own tools (findmnt -J, cat /proc/diskstats, who) and a
plain Python read of the same /proc file, all measured in this run. Then
disk_partitions with 1,000 extra mounts, in a mount namespace of the
benchmark's own when one can be made.

    PYTHONPATH=build/py3.12 python3.12 bench/bench_disk.py

Prints tables; asserts nothing about speed.
"""

import ctypes
import os
import shutil
import subprocess
import sys
import tempfile
import time

import _quarn_bsd as q

EXTRA_MOUNTS = 1000
HOST_ENV = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


def per_call(fn, *args, budget=0.3):
    """Best per-call time over three rounds, each of about budget/10 seconds."""

    def call():
        try:
            fn(*args)
        except (NotImplementedError, OSError):
            pass  # what this host answers is timed as it is

    n = 1
    while True:
        start = time.perf_counter()
        for _ in range(n):
            call()
        if time.perf_counter() - start >= budget / 10:
            break
        n *= 2
    rounds = []
    for _ in range(3):
        start = time.perf_counter()
        for _ in range(n):
            call()
        rounds.append((time.perf_counter() - start) / n)
    return min(rounds)


def tool(*argv):
    return lambda: subprocess.run(list(argv), stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, env=HOST_ENV)


def read(path):
    def fn():
        with open(path, "rb") as f:
            f.read()
    return fn


def table(rows):
    """rows: (label, fn, args, baseline label); ratios against the baselines,
    which are rows of the same table."""
    times = {label: per_call(fn, *args) for label, fn, args, _ in rows}
    print(f"{'call':<40} {'per call':>11}  ratio")
    print("-" * 72)
    for label, _, _, base in rows:
        ratio = f"{times[label] / times[base]:6.2f} x {base}" if base else "baseline"
        print(f"{label:<40} {times[label] * 1e6:>8.1f} us  {ratio}")


def live():
    findmnt, who = shutil.which("findmnt"), shutil.which("who")
    rows = [
        ("read /proc/self/mountinfo (Python)", read("/proc/self/mountinfo"), (), None),
        ("read /proc/diskstats (Python)", read("/proc/diskstats"), (), None),
        ("cat /proc/diskstats (process)", tool("cat", "/proc/diskstats"), (), None),
    ]
    if findmnt:
        rows.append(("findmnt -J (process)", tool(findmnt, "-J"), (), None))
    if who:
        rows.append(("who (process)", tool(who), (), None))
    mount_base = "findmnt -J (process)" if findmnt else "read /proc/self/mountinfo (Python)"
    rows += [
        ("disk_partitions()", q.disk_partitions, (), mount_base),
        ("disk_partitions() vs plain read", q.disk_partitions, (),
         "read /proc/self/mountinfo (Python)"),
        ("disk_io_counters()", q.disk_io_counters, (), "cat /proc/diskstats (process)"),
        ("disk_io_counters() vs plain read", q.disk_io_counters, (),
         "read /proc/diskstats (Python)"),
        ("sensors_battery()", q.sensors_battery, (), "read /proc/diskstats (Python)"),
        ("sensors_cpu_temperature(0)", q.sensors_cpu_temperature, (0,),
         "read /proc/diskstats (Python)"),
        ("users()", q.users, (), "who (process)" if who else "read /proc/diskstats (Python)"),
    ]
    print(f"Live: {len(q.disk_partitions())} mounts, {len(q.disk_io_counters())} devices, "
          f"{len(q.users())} users")
    table(rows)


def many_mounts():
    """Runs inside the namespace: adds the mounts, then times."""
    libc = ctypes.CDLL(None, use_errno=True)
    base = tempfile.mkdtemp(prefix="quarn-bench-")
    for i in range(EXTRA_MOUNTS):
        d = os.path.join(base, str(i))
        os.mkdir(d)
        if libc.mount(b"quarn-bench", d.encode(), b"tmpfs", 0, b"size=4k") != 0:
            print(f"mount failed: {os.strerror(ctypes.get_errno())}")
            return
    findmnt = shutil.which("findmnt")
    print(f"\nWith {EXTRA_MOUNTS} extra mounts ({len(q.disk_partitions())} in all), in a mount "
          "namespace of its own")
    rows = [("read /proc/self/mountinfo (Python)", read("/proc/self/mountinfo"), (), None)]
    if findmnt:
        rows.append(("findmnt -J (process)", tool(findmnt, "-J"), (), None))
    rows += [
        ("disk_partitions()", q.disk_partitions, (),
         "findmnt -J (process)" if findmnt else "read /proc/self/mountinfo (Python)"),
        ("disk_partitions() vs plain read", q.disk_partitions, (),
         "read /proc/self/mountinfo (Python)"),
    ]
    table(rows)
    # The namespace, and its mounts, end with this process.


def main():
    if os.environ.get("QUARN_BENCH_NS"):
        many_mounts()
        return
    live()
    unshare = shutil.which("unshare")
    if unshare is None or os.geteuid() != 0:
        print("\nNo mount namespace can be made here: the 1,000-mount run is skipped.")
        return
    env = dict(os.environ, QUARN_BENCH_NS="1", PYTHONPATH=os.pathsep.join(sys.path))
    run = subprocess.run([unshare, "-m", "--propagation", "private", sys.executable,
                          os.path.abspath(__file__)], env=env)
    if run.returncode != 0:
        print("\nThe 1,000-mount run could not be made here.")


if __name__ == "__main__":
    main()
