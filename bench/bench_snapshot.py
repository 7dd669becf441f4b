"""Cost of the main job beside the host's own views, all measured in this
run: ps aux and top -b -n1 over the same processes, a bare start of the
interpreter with the module (the floor), the snapshot in its forms, and
the whole make run. Prints figures and ratios; asserts nothing about
speed. The snapshot's default sample (0.5 s, over which %CPU is measured)
is part of its time; --interval 0.01 shows the cost without it."""

import os
import shutil
import subprocess
import sys
import time

import _quarn_bsd as q

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
ENV = dict(os.environ, PYTHONPATH=os.path.dirname(q.__file__), PYTHON=sys.executable)


def best_of(cmd, repeat):
    """Best wall time of repeat runs of a command, in seconds."""
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        done = subprocess.run(cmd, cwd=TOP, env=ENV, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
        best = min(best, time.perf_counter() - t0)
        if done.returncode not in (0, 2):  # 2: some figure unreadable, still a report
            raise SystemExit(f"{cmd} failed with status {done.returncode}")
    return best


def main(repeat=5):
    snap = [sys.executable, "tools/snapshot.py"]
    print(f"{len(q.pids())} processes, best of {repeat}")
    floor = best_of([sys.executable, "-c", "import _quarn_bsd"], repeat)
    ps = best_of(["ps", "aux"], repeat)
    top = best_of(["top", "-b", "-n1"], repeat) if shutil.which("top") else None
    rows = [
        ("interpreter start with the module (floor)", floor),
        ("host: ps aux", ps),
        ("host: top -b -n1", top),
        ("snapshot.py (0.5 s sample)", best_of(snap, repeat)),
        ("snapshot.py --interval 0.01", best_of(snap + ["--interval", "0.01"], repeat)),
        ("snapshot.py --all --interval 0.01", best_of(snap + ["--all", "--interval", "0.01"],
                                                      repeat)),
        ("snapshot.py --json --interval 0.01", best_of(snap + ["--json", "--interval", "0.01"],
                                                       repeat)),
        ("make -s run (build up to date)", best_of(["make", "-s", "run"], repeat)),
    ]
    for what, seconds in rows:
        if seconds is None:
            print(f"  {what:<44} (not installed)")
            continue
        vs_top = f"{seconds / top:6.2f} x top" if top else ""
        print(f"  {what:<44} {seconds * 1e3:8.1f} ms  {seconds / ps:6.2f} x ps  {vs_top}"
              f"  {seconds / floor:6.2f} x floor")
    return 0


if __name__ == "__main__":
    sys.exit(main())
