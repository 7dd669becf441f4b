"""The process-side tables at three sizes each, as same-run ratios (medians of
per-round ratios) against plain Python readers of the same host files and
against ps, with the fitted exponent of each cost's growth:

- a full scan (pids(), then proc_oneshot_info() and proc_name() of every
  process) among sleeping processes, against a minimal Python reader of
  /proc/PID/stat and status and against `ps -e -o ...`;
- pids() against os.listdir('/proc');
- proc_open_files() against a Python listdir + readlink of /proc/PID/fd, and
  proc_num_fds() against len(os.listdir()), on a child holding descriptors;
- proc_memory_maps() against a Python read of /proc/PID/smaps, on a child
  with that many mappings, and proc_threads() against a Python read of
  every /proc/PID/task/TID/stat, on a child with that many threads.

    PYTHONPATH=build/py3.12 python3.12 bench/bench_tables.py [--rounds N]

Prints figures; asserts nothing about speed.
"""

import argparse
import os
import resource
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import _quarn_bsd as q  # noqa: E402
import scale  # noqa: E402
from procs import (MAPPER, OPENER, SPINNER, child, module_scan, read_bytes, reap,  # noqa: E402
                   spawn_sleepers)

PS = ["ps", "-e", "-o", "pid,ppid,uid,stat,rss,time,comm"]
PROCS = (1000, 2500, 5000)
FDS = (2500, 5000, 10000)
MAPS = (2500, 5000, 10000)
THREADS = (100, 200, 400)

# Every other page read-only, so each page is a mapping of its own.


def python_scan():
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        for leaf in ("stat", "status"):
            try:
                with open(f"/proc/{name}/{leaf}", "rb") as f:
                    f.read()
            except OSError:
                pass


def processes(rounds):
    scale.header(f"process table, {rounds} rounds per size")
    sleepers, sizes = [], []
    scan_costs, pids_costs = [], []
    last = {}
    try:
        for target in PROCS:
            spawn_sleepers(max(0, target - len(q.pids())), sleepers)
            n = len(q.pids())
            sizes.append(n)
            times = scale.rounds({"module": module_scan, "python": python_scan,
                                  "ps": scale.run_quiet(PS), "pids": q.pids,
                                  "listdir": lambda: os.listdir("/proc")}, rounds)
            scan_costs.append(scale.median(times["module"]))
            pids_costs.append(scale.median(times["pids"]))
            print(f"  {n} processes: scan {scan_costs[-1] * 1e3:.1f} ms, Python stat+status"
                  f" {scale.median(times['python']) * 1e3:.1f} ms, ps"
                  f" {scale.median(times['ps']) * 1e3:.1f} ms")
            scale.show_ratio("scan / Python stat+status reader", scale.ratio(times, "module",
                                                                             "python"))
            scale.show_ratio("scan / ps", scale.ratio(times, "module", "ps"))
            scale.show_ratio("pids() / os.listdir('/proc')", scale.ratio(times, "pids",
                                                                         "listdir"))
            last = times
    finally:
        reap(sleepers)
    print(f"  at {sizes[-1]} processes:")
    scale.show_ratio("scan / Python stat+status reader", scale.ratio(last, "module", "python"),
                     1.0)
    scale.show_ratio("scan / ps", scale.ratio(last, "module", "ps"), 0.6)
    scale.show_ratio("pids() / os.listdir('/proc')", scale.ratio(last, "pids", "listdir"), 1.5)
    scale.show_growth("the scan", sizes, scan_costs)
    scale.show_growth("pids()", sizes, pids_costs)


def per_child(title, code, counts, calls, base, rounds, unit):
    """For each count, a child made by code; calls (name: fn(pid)) timed
    against base(pid). Prints the ratios at the largest count and the growth
    of each call."""
    scale.header(f"{title}, {rounds} rounds per size")
    costs = {name: [] for name in calls}
    last = {}
    for n in counts:
        p = child(code, n)
        try:
            fns = {name: (lambda fn=fn: fn(p.pid)) for name, fn in calls.items()}
            fns["base"] = lambda: base(p.pid)
            last = scale.rounds(fns, rounds)
        finally:
            p.stdin.close()
            p.wait()
        for name in calls:
            costs[name].append(scale.median(last[name]))
        print(f"  {n} {unit}: " + ", ".join(f"{name} {costs[name][-1] * 1e3:.2f} ms"
                                            for name in calls) +
              f", baseline {scale.median(last['base']) * 1e3:.2f} ms")
    for name in calls:
        scale.show_ratio(f"{name} / baseline at {counts[-1]} {unit}",
                         scale.ratio(last, name, "base"))
        scale.show_growth(name, counts, costs[name])


def maps_and_threads(rounds):
    per_child("memory map", MAPPER, MAPS, {"proc_memory_maps()": q.proc_memory_maps},
              lambda pid: read_bytes(f"/proc/{pid}/smaps"), rounds, "mappings")

    def task_stats(pid):
        for tid in os.listdir(f"/proc/{pid}/task"):
            read_bytes(f"/proc/{pid}/task/{tid}/stat")

    per_child("thread table", SPINNER, THREADS, {"proc_threads()": q.proc_threads},
              task_stats, rounds, "threads")


def opener(n):
    return child(OPENER, n)


def descriptors(rounds):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard != resource.RLIM_INFINITY and hard < FDS[-1] + 100 and os.geteuid() != 0:
        print(f"descriptors skipped: the descriptor limit is {hard}")
        return
    scale.header(f"open-file table, {rounds} rounds per size")
    sizes, files_costs, count_costs = [], [], []
    last = {}
    for n in FDS:
        p = opener(n)
        try:
            fd_dir = f"/proc/{p.pid}/fd"

            def python_links():
                for name in os.listdir(fd_dir):
                    os.readlink(f"{fd_dir}/{name}")

            assert len(q.proc_open_files(p.pid)) >= n
            times = scale.rounds({
                "open_files": lambda: q.proc_open_files(p.pid),
                "links": python_links,
                "num_fds": lambda: q.proc_num_fds(p.pid),
                "listdir": lambda: len(os.listdir(fd_dir)),
            }, rounds)
        finally:
            p.stdin.close()
            p.wait()
        sizes.append(n)
        files_costs.append(scale.median(times["open_files"]))
        count_costs.append(scale.median(times["num_fds"]))
        print(f"  {n} descriptors: proc_open_files {files_costs[-1] * 1e3:.2f} ms, listdir +"
              f" readlink {scale.median(times['links']) * 1e3:.2f} ms")
        last = times
    print(f"  at {sizes[-1]} descriptors:")
    scale.show_ratio("proc_open_files() / listdir + readlink",
                     scale.ratio(last, "open_files", "links"), 1.5)
    scale.show_ratio("proc_num_fds() / len(os.listdir())", scale.ratio(last, "num_fds",
                                                                      "listdir"), 3.0)
    scale.show_growth("proc_open_files()", sizes, files_costs)
    scale.show_growth("proc_num_fds()", sizes, count_costs)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rounds", type=int, default=9)
    ap.add_argument("--only", choices=("processes", "descriptors", "maps"), action="append")
    args = ap.parse_args()
    parts = args.only or ("processes", "descriptors", "maps")
    if "processes" in parts:
        processes(args.rounds)
    if "descriptors" in parts:
        descriptors(args.rounds)
    if "maps" in parts:
        maps_and_threads(args.rounds)
    return 0


if __name__ == "__main__":
    sys.exit(main())
