"""Cost of one call of each per-process path and control function, live on
this process, beside the bare host call it stands on, measured in the same
run; the ratio is the figure. Prints figures; asserts nothing about speed."""

import os
import resource
import sys
import time

import _quarn_bsd as q

PID = os.getpid()
NICE = os.getpriority(os.PRIO_PROCESS, PID)
CPUS = sorted(os.sched_getaffinity(PID))
NOFILE = resource.getrlimit(resource.RLIMIT_NOFILE)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def per_call(fn, loops=2000, repeat=5):
    """Best time of one call, in microseconds."""
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        for _ in range(loops):
            fn()
        best = min(best, (time.perf_counter() - t0) / loops)
    return best * 1e6


CASES = [
    ("proc_exe", lambda: q.proc_exe(PID),
     "readlink /proc/PID/exe", lambda: os.readlink(f"/proc/{PID}/exe")),
    ("proc_cmdline", lambda: q.proc_cmdline(PID),
     "read /proc/PID/cmdline", lambda: read(f"/proc/{PID}/cmdline")),
    ("proc_environ", lambda: q.proc_environ(PID),
     "read /proc/PID/environ", lambda: read(f"/proc/{PID}/environ")),
    ("proc_cwd", lambda: q.proc_cwd(PID),
     "readlink /proc/PID/cwd", lambda: os.readlink(f"/proc/{PID}/cwd")),
    ("proc_cpu_affinity_get", lambda: q.proc_cpu_affinity_get(PID),
     "sched_getaffinity", lambda: os.sched_getaffinity(PID)),
    ("proc_cpu_affinity_set", lambda: q.proc_cpu_affinity_set(PID, CPUS),
     "sched_setaffinity", lambda: os.sched_setaffinity(PID, CPUS)),
    ("proc_getrlimit", lambda: q.proc_getrlimit(PID, q.RLIMIT_NOFILE),
     "prlimit (read)", lambda: resource.prlimit(PID, resource.RLIMIT_NOFILE)),
    ("proc_setrlimit", lambda: q.proc_setrlimit(PID, q.RLIMIT_NOFILE, *NOFILE),
     "prlimit (write)", lambda: resource.prlimit(PID, resource.RLIMIT_NOFILE, NOFILE)),
    ("proc_priority_get", lambda: q.proc_priority_get(PID),
     "getpriority", lambda: os.getpriority(os.PRIO_PROCESS, PID)),
    ("proc_priority_set", lambda: q.proc_priority_set(PID, NICE),
     "setpriority", lambda: os.setpriority(os.PRIO_PROCESS, PID, NICE)),
]


def main():
    print(f"one call on this process ({os.cpu_count()} CPUs, "
          f"{len(os.listdir(f'/proc/{PID}/task'))} thread(s)), best of 5 x 2000")
    print(f"  {'function':<24} {'us':>8}   {'host baseline':<24} {'us':>8}   ratio")
    for name, fn, base_name, base in CASES:
        ours, bare = per_call(fn), per_call(base)
        print(f"  {name:<24} {ours:8.2f}   {base_name:<24} {bare:8.2f}   {ours / bare:5.1f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
