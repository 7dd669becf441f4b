"""Cost of listing processes and reading their one-shot records: live, beside
the host's ps over the same processes, and on an injected table of 100,000
processes. Prints figures; asserts nothing about speed."""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))

import _quarn_bsd as q  # noqa: E402
import standin  # noqa: E402
from records import kinfo_proc  # noqa: E402

PS = ["ps", "-e", "-o", "pid,ppid,uid,stat,rss,time,comm"]


def best_of(fn, repeat):
    """Best wall time of repeat runs of fn, in seconds."""
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def oneshot_all(pids):
    for pid in pids:
        try:
            q.proc_oneshot_info(pid)
        except ProcessLookupError:
            pass


def row(what, seconds, per=None, unit=""):
    line = f"  {what:<46} {seconds * 1e3:10.3f} ms"
    if per:
        line += f"   {seconds / per * 1e6:8.2f} us/{unit}"
    print(line)


def live():
    pids = q.pids()
    n = len(pids)
    print(f"live, {n} processes (best of 20)")
    row("pids()", best_of(q.pids, 20), n, "process")
    row("proc_oneshot_info() of every process", best_of(lambda: oneshot_all(pids), 20),
        n, "process")
    row("pids() then proc_oneshot_info() of each",
        best_of(lambda: oneshot_all(q.pids()), 20), n, "process")
    ps = best_of(lambda: subprocess.run(PS, stdout=subprocess.DEVNULL, check=True), 20)
    row("host: " + " ".join(PS), ps, n, "process")


def injected(count=100_000):
    print(f"injected table of {count} processes")
    t0 = time.perf_counter()
    records = [kinfo_proc(ki_pid=pid, ki_ppid=1, ki_stat=q.SSLEEP, ki_rssize=pid % 977,
                          ki_numthreads=1, comm=f"p{pid}") for pid in range(1, count + 1)]
    standin.sysctl_answer([1, 14, 8, 0], b"".join(records))
    for pid, rec in enumerate(records, 1):
        standin.sysctl_answer([1, 14, 1, pid], rec)
    print(f"  (injection took {time.perf_counter() - t0:.1f} s)")
    pids = q.pids()
    assert len(pids) == count
    row("pids()", best_of(q.pids, 5), count, "process")
    row("proc_oneshot_info() of every process", best_of(lambda: oneshot_all(pids), 3),
        count, "process")
    standin.reset()


def main():
    live()
    injected()
    return 0


if __name__ == "__main__":
    sys.exit(main())
