"""Cost of one live call of each CPU and memory function, beside the host's
own `cat /proc/stat /proc/meminfo` for scale.

    PYTHONPATH=build/py3.12 python3.12 bench/bench_system.py

Prints a table; asserts nothing about speed.
"""

import subprocess
import time

import _quarn_bsd as q


def per_call(fn, *args, budget=0.25):
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
    return min(rounds), n


def outcome(fn, *args):
    try:
        fn(*args)
        return "ok"
    except Exception as e:  # the table says what the host answered
        return type(e).__name__


def cat_files():
    subprocess.run(["cat", "/proc/stat", "/proc/meminfo"], stdout=subprocess.DEVNULL,
                   check=True)


def read_files():
    for path in ("/proc/stat", "/proc/meminfo"):
        with open(path, "rb") as f:
            f.read()


def main():
    rows = [
        ("cpu_count_logical()", q.cpu_count_logical, ()),
        ("cpu_times()", q.cpu_times, ()),
        ("per_cpu_times()", q.per_cpu_times, ()),
        ("cpu_stats()", q.cpu_stats, ()),
        ("boot_time()", q.boot_time, ()),
        ("cpu_freq(0)", q.cpu_freq, (0,)),
        ("cpu_topology()", q.cpu_topology, ()),
        ("virtual_mem()", q.virtual_mem, ()),
        ("swap_mem()", q.swap_mem, ()),
        ("heap_info()", q.heap_info, ()),
        ("heap_trim()", q.heap_trim, ()),
        ("read /proc/stat + /proc/meminfo (Python)", read_files, ()),
        ("cat /proc/stat /proc/meminfo (process)", cat_files, ()),
    ]
    print(f"{'call':<44} {'per call':>12} {'calls':>8}  result")
    print("-" * 76)
    for label, fn, args in rows:
        t, n = per_call(fn, *args)
        print(f"{label:<44} {t * 1e6:>9.1f} us {n:>8}  {outcome(fn, *args)}")
    print(f"\n{q.cpu_count_logical()} CPUs; the stand-in answers from this host's /proc and /sys.")


if __name__ == "__main__":
    main()
