"""Cost of the main job: the whole `make run` and the snapshot alone, beside
the host's ps over the same processes and a bare start of the interpreter
with the module, all measured in this run. Prints figures and ratios;
asserts nothing about speed."""

import os
import subprocess
import sys
import time

import _quarn_bsd as q

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
PS = ["ps", "-e", "-o", "pid,ppid,user,stat,rss,time,lstart,comm", "--sort=-rss"]
ENV = dict(os.environ, PYTHONPATH=os.path.dirname(q.__file__), PYTHON=sys.executable)


def best_of(cmd, repeat):
    """Best wall time of repeat runs of a command, in seconds."""
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        subprocess.run(cmd, cwd=TOP, env=ENV, stdout=subprocess.DEVNULL, check=True)
        best = min(best, time.perf_counter() - t0)
    return best


def main(repeat=5):
    snapshot = [sys.executable, "tools/snapshot.py"]
    print(f"{len(q.pids())} processes, best of {repeat}")
    floor = best_of([sys.executable, "-c", "import _quarn_bsd"], repeat)
    ps = best_of(PS, repeat)
    rows = [
        ("interpreter start with the module (floor)", floor),
        ("host: " + " ".join(PS[:3]) + " ...", ps),
        ("snapshot.py", best_of(snapshot, repeat)),
        ("snapshot.py --all", best_of(snapshot + ["--all"], repeat)),
        ("snapshot.py --json", best_of(snapshot + ["--json"], repeat)),
        ("make -s run (build up to date)", best_of(["make", "-s", "run"], repeat)),
    ]
    for what, seconds in rows:
        print(f"  {what:<44} {seconds * 1e3:9.1f} ms   {seconds / ps:5.2f} x ps"
              f"   {seconds / floor:6.2f} x floor")
    return 0


if __name__ == "__main__":
    sys.exit(main())
