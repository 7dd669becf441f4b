"""Shared timing for the scale benches: same-run ratios, as medians of the
ratios of each round (every competitor runs once per round, in turn, so all
of them meet the same moments of a busy machine), and the exponent of a
cost's growth fitted over three sizes."""

import math
import os
import statistics
import subprocess
import time

HOST_ENV = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


def timed(fn):
    t0 = time.perf_counter()
    fn()
    return time.perf_counter() - t0


def rounds(fns, count):
    """Times of each of fns (name: callable) over count rounds, interleaved."""
    times = {name: [] for name in fns}
    for _ in range(count):
        for name, fn in fns.items():
            times[name].append(timed(fn))
    return times


def median(times):
    return statistics.median(times)


def ratio(times, num, den):
    """The median over rounds of num's time over den's time in that round."""
    return statistics.median(a / b for a, b in zip(times[num], times[den]))


def exponent(sizes, costs):
    """The least-squares slope of log(cost) over log(size): 1 is linear."""
    xs = [math.log(s) for s in sizes]
    ys = [math.log(c) for c in costs]
    mx, my = statistics.fmean(xs), statistics.fmean(ys)
    num = sum((x - mx) * (y - my) for x, y in zip(xs, ys))
    den = sum((x - mx) ** 2 for x in xs)
    return num / den


def run_quiet(argv):
    """A host tool, its output thrown away, as a competitor."""
    return lambda: subprocess.run(argv, stdout=subprocess.DEVNULL, env=HOST_ENV, check=True)


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def header(title):
    print(f"{title} (load {load()}, nice {os.nice(0)})")


def show_ratio(label, value, target=None):
    mark = ""
    if target is not None:
        mark = f"  (target <= {target:.2f}x: {'met' if value <= target else 'MISSED'})"
    print(f"  {label:<56} {value:6.2f}x{mark}")


def show_growth(label, sizes, costs, unit="ms"):
    """Cost at each size and the fitted exponent."""
    scale = 1e3 if unit == "ms" else 1e6
    cells = "  ".join(f"{s}: {c * scale:.2f} {unit}" for s, c in zip(sizes, costs))
    print(f"  growth of {label}: {cells}  exponent {exponent(sizes, costs):.2f}")
