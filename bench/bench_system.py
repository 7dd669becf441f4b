"""Cost of one live call of each CPU and memory function, as a ratio against
a plain Python open().read() of the host files that call needs, both timed in
the same run: calls and reads alternate, and the ratio is the median of the
ratios of each pair (1000 pairs).

    PYTHONPATH=build/py3.12 python3.12 bench/bench_system.py

Prints a table; asserts nothing about speed.
"""

import glob
import os
import statistics
import time

import _quarn_bsd as q

CPU = "/sys/devices/system/cpu"
ONLINE = f"{CPU}/online"


def topology_files():
    files = [ONLINE]
    for cpu in sorted(glob.glob(f"{CPU}/cpu[0-9]*")):
        files += [f"{cpu}/topology/physical_package_id", f"{cpu}/topology/thread_siblings_list"]
        for idx in sorted(glob.glob(f"{cpu}/cache/index[0-9]*")):
            files += [f"{idx}/level", f"{idx}/type", f"{idx}/shared_cpu_list"]
    return [f for f in files if os.path.exists(f)]


def freq_files():
    cur = glob.glob(f"{CPU}/cpu0/cpufreq/scaling_cur_freq")
    return [ONLINE] + cur


# Each function, its arguments, and the host files it needs.
ROWS = [
    ("cpu_count_logical()", q.cpu_count_logical, (), [ONLINE]),
    ("cpu_times()", q.cpu_times, (), ["/proc/stat"]),
    ("per_cpu_times()", q.per_cpu_times, (), [ONLINE, "/proc/stat"]),
    ("cpu_stats()", q.cpu_stats, (), ["/proc/stat", "/proc/vmstat"]),
    ("boot_time()", q.boot_time, (), ["/proc/stat"]),
    ("cpu_freq(0)", q.cpu_freq, (0,), freq_files()),
    ("cpu_topology()", q.cpu_topology, (), topology_files()),
    ("virtual_mem()", q.virtual_mem, (), ["/proc/meminfo"]),
    ("swap_mem()", q.swap_mem, (), ["/proc/swaps", "/proc/vmstat"]),
]


def make_call(fn, args):
    def call():
        try:
            fn(*args)
        except (NotImplementedError, OSError):
            pass  # what this host answers is timed as it is
    return call


def make_read(files):
    def read():
        for path in files:
            try:
                with open(path, "rb") as f:
                    f.read()
            except OSError:
                pass
    return read


def paired_medians(call, read, samples):
    """Median time of one call and of one read, timed alternately, so that
    both see the same moments of a busy machine, and the median ratio of
    each pair."""
    clock = time.perf_counter
    calls, reads = [], []
    for _ in range(samples):
        t0 = clock()
        call()
        t1 = clock()
        read()
        t2 = clock()
        calls.append(t1 - t0)
        reads.append(t2 - t1)
    ratios = [c / r for c, r in zip(calls, reads)]
    return statistics.median(calls), statistics.median(reads), statistics.median(ratios)


def outcome(fn, args):
    try:
        fn(*args)
        return "ok"
    except Exception as e:  # the table says what the host answered
        return type(e).__name__


def main(samples=1000):
    print(f"{'call':<22} {'module':>10} {'Python read':>12} {'ratio':>7} files  result")
    print("-" * 70)
    for label, fn, args, files in ROWS:
        m, b, r = paired_medians(make_call(fn, args), make_read(files), samples)
        print(f"{label:<22} {m * 1e6:8.1f}us {b * 1e6:10.1f}us {r:6.2f}x {len(files):5}  "
              f"{outcome(fn, args)}")
    print(f"\n{q.cpu_count_logical()} CPUs; the stand-in answers from this host's /proc and /sys;"
          f" target: every ratio <= 1.50x; load {os.getloadavg()[0]:.2f}, nice {os.nice(0)}.")


if __name__ == "__main__":
    main()
