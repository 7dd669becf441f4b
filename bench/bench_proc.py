"""The process table at scale, as ratios against baselines timed in the same
run (medians of interleaved rounds):

- a full scan (pids(), then proc_oneshot_info() and proc_name() of every
  process) among N sleeping processes, against `ps -e -o ...` and against a
  plain Python scan of the /proc files a one-process record is made from;
- pids() while a child creates and reaps a process every 10 ms, against
  pids() on the still machine (worst call over median), and whether any call
  raised;
- proc_oneshot_info() over an injected table of 100,000 records, against a
  C floor (bench/floor_oneshot.c) built here with the same "i" parse and the
  same Py_BuildValue.

    PYTHONPATH=build/py3.12:tests python3.12 bench/bench_proc.py [--procs N]

Prints figures; asserts nothing about speed.
"""

import argparse
import importlib
import os
import statistics
import subprocess
import sys
import sysconfig
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))

import _quarn_bsd as q  # noqa: E402
import standin  # noqa: E402
from procs import GONE, module_scan, reap, spawn_sleepers  # noqa: E402
from records import kinfo_proc  # noqa: E402

PS = ["ps", "-e", "-o", "pid,ppid,uid,stat,rss,time,comm"]

CHURN = """
import os, time
while True:
    pid = os.fork()
    if pid == 0:
        os._exit(0)
    os.waitpid(pid, 0)
    time.sleep(0.01)
"""


def timed(fn):
    t0 = time.perf_counter()
    fn()
    return time.perf_counter() - t0


def medians(fns, rounds):
    """Median time of each fn, the fns interleaved within each round so that
    they share the machine's load alike."""
    times = {name: [] for name in fns}
    for _ in range(rounds):
        for name, fn in fns.items():
            times[name].append(timed(fn))
    return {name: statistics.median(t) for name, t in times.items()}


def python_scan():
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        for leaf in ("stat", "status", "io"):
            try:
                with open(f"/proc/{name}/{leaf}", "rb") as f:
                    f.read()
            except OSError:
                pass


def ps_scan():
    subprocess.run(PS, stdout=subprocess.DEVNULL, check=True)


def ratio(label, num, den):
    print(f"  {label:<58} {num / den:6.2f}x")


def scan(rounds):
    n = len(q.pids())
    print(f"full scan, {n} processes (medians of {rounds} rounds)")
    m = medians({"module": module_scan, "ps": ps_scan, "python": python_scan}, rounds)
    for name, t in m.items():
        print(f"  {name:<20} {t * 1e3:9.1f} ms  {t / n * 1e6:7.1f} us/process")
    ratio("module scan / ps", m["module"], m["ps"])
    ratio("module scan / Python scan of stat, status, io", m["module"], m["python"])


def churn(calls):
    """pids() on the still machine, then under churn; a bare listing of /proc
    beside it in both, so the machine's own jitter is measured too."""

    def listing():
        os.listdir("/proc")

    still = {"pids": [], "listdir": []}
    for _ in range(calls // 2):
        still["pids"].append(timed(q.pids))
        still["listdir"].append(timed(listing))
    child = subprocess.Popen([sys.executable, "-c", CHURN])
    time.sleep(0.2)
    busy, failures = {"pids": [], "listdir": []}, 0
    standin.clear_log()
    try:
        for _ in range(calls):
            t0 = time.perf_counter()
            try:
                q.pids()
            except Exception as e:  # counted and shown: the figure asked for
                failures += 1
                print(f"  pids() raised {type(e).__name__}: {e}")
            busy["pids"].append(time.perf_counter() - t0)
            busy["listdir"].append(timed(listing))
    finally:
        child.kill()
        child.wait()
    reads = [c for c in standin.calls_to("sysctl", [1, 14, 8, 0]) if c.op == "read"]
    standin.reset()
    print(f"pids() under churn (one process created and reaped every 10 ms), {calls} calls")
    print(f"  calls that raised: {failures}; table reads: {len(reads)}"
          f" (retries: {len(reads) - calls})")
    for name in ("pids", "listdir"):
        med = statistics.median(still[name])
        print(f"  {name:<8} still median {med * 1e3:8.2f} ms, churn median"
              f" {statistics.median(busy[name]) * 1e3:8.2f} ms, churn worst"
              f" {max(busy[name]) * 1e3:8.2f} ms")
        ratio(f"{name}: worst call under churn / still median", max(busy[name]), med)


def build_floor(tmp):
    src = os.path.join(HERE, "floor_oneshot.c")
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    out = os.path.join(tmp, "floor_oneshot" + suffix)
    include = sysconfig.get_paths()["include"]
    subprocess.run(["cc", "-O2", "-shared", "-fPIC", f"-I{include}", src, "-o", out], check=True)
    # Loaded from the build folder, never from the module's own path.
    sys.path.insert(0, tmp)
    try:
        return importlib.import_module("floor_oneshot")
    finally:
        sys.path.remove(tmp)


def injected(count, rounds):
    records = [kinfo_proc(ki_pid=pid, ki_ppid=1, ki_stat=q.SSLEEP, ki_rssize=pid % 977,
                          ki_numthreads=1, comm=f"p{pid}") for pid in range(1, count + 1)]
    for pid, rec in enumerate(records, 1):
        standin.sysctl_answer([1, 14, 1, pid], rec)
    pids = list(range(1, count + 1))
    with tempfile.TemporaryDirectory() as tmp:
        floor = build_floor(tmp)
        floor.load(b"".join(records))
        assert floor.oneshot(7) == q.proc_oneshot_info(7)

        # Chunks of 1,000 calls, module and floor alternately, over the
        # whole table: both see the same moments of a busy machine.
        per = {"module": [], "floor": []}
        for _ in range(rounds):
            for lo in range(0, count, 1000):
                chunk = pids[lo:lo + 1000]
                for name, fn in (("module", q.proc_oneshot_info), ("floor", floor.oneshot)):
                    t0 = time.perf_counter()
                    for pid in chunk:
                        fn(pid)
                    per[name].append((time.perf_counter() - t0) / len(chunk))
        m = {name: statistics.median(t) * count for name, t in per.items()}
    standin.reset()
    print(f"proc_oneshot_info() over an injected table of {count} records"
          f" (medians of chunks of 1,000 calls, {rounds} passes)")
    for name, t in m.items():
        print(f"  {name:<20} {t / count * 1e9:9.0f} ns/call")
    ratio("module / C floor", m["module"], m["floor"])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--procs", type=int, default=5000, help="sleeping processes to add")
    ap.add_argument("--rounds", type=int, default=9)
    ap.add_argument("--only", choices=("scan", "churn", "injected"), action="append",
                    help="run only these parts (repeatable)")
    args = ap.parse_args()
    parts = set(args.only or ("scan", "churn", "injected"))
    if parts & {"scan", "churn"}:
        sleepers = []
        spawn_sleepers(max(0, args.procs - len(q.pids())), sleepers)
        try:
            if "scan" in parts:
                scan(args.rounds)
            if "churn" in parts:
                churn(200)
        finally:
            reap(sleepers)
    if "injected" in parts:
        injected(100_000, 3)
    return 0


if __name__ == "__main__":
    sys.exit(main())
