"""A readable report of this machine, made through the module.

Run with the built module on the path (make run does that).
"""

import ctypes
import os
import pwd
import sys
import time

import _quarn_bsd as q

STATE_LETTERS = {q.SIDL: "I", q.SRUN: "R", q.SSLEEP: "S", q.SSTOP: "T",
                 q.SZOMB: "Z", q.SWAIT: "W", q.SLOCK: "L"}

# Elements of the one-shot process record.
PPID, STATE, RUID, EUID = 0, 1, 2, 3
START, UTIME, STIME, RSS, NAME = 9, 14, 15, 18, 24


def human(n):
    """Bytes in binary units: 512B, 1.5K, 20.0M, 3.2G."""
    value = float(n)
    for unit in ("B", "K", "M", "G", "T"):
        if abs(value) < 1024 or unit == "T":
            return f"{int(value)}{unit}" if unit == "B" else f"{value:.1f}{unit}"
        value /= 1024
    return str(n)


def cpu_time(seconds):
    minutes, secs = divmod(seconds, 60)
    return f"{int(minutes)}:{secs:05.2f}"


def user_name(uid, cache={}):
    if uid not in cache:
        try:
            cache[uid] = pwd.getpwuid(uid).pw_name
        except KeyError:
            cache[uid] = str(uid)
    return cache[uid]


def started(epoch):
    t = time.localtime(epoch)
    if time.strftime("%Y-%m-%d", t) == time.strftime("%Y-%m-%d"):
        return time.strftime("%H:%M:%S", t)
    return time.strftime("%b %d", t)


def heading(title):
    print()
    print(title)
    print("-" * len(title))


def section_processes():
    rows = []
    for pid in q.pids():
        try:
            info = q.proc_oneshot_info(pid)
            threads = q.proc_num_threads(pid)
        except (ProcessLookupError, PermissionError):
            continue  # gone, or not ours to read, since the list was made
        rows.append((pid, info, threads))
    rows.sort(key=lambda r: (-r[1][RSS], r[0]))

    heading(f"Processes ({len(rows)})")
    print(f"{'PID':>7} {'PPID':>7} {'USER':<10} {'S':1} {'THR':>4} {'RSS':>7} "
          f"{'TIME':>9} {'START':>8}  NAME")
    for pid, info, threads in rows:
        name = info[NAME] if info[NAME] is not None else "?"
        print(f"{pid:>7} {info[PPID]:>7} {user_name(info[EUID])[:10]:<10} "
              f"{STATE_LETTERS.get(info[STATE], '?'):1} {threads:>4} {human(info[RSS]):>7} "
              f"{cpu_time(info[UTIME] + info[STIME]):>9} {started(info[START]):>8}  {name}")


def section_module():
    heading("The module")
    lib = ctypes.PyDLL(q.__file__)
    lib.quarn_sysctl_argmax.restype = ctypes.c_int64
    print(f"version            {q.version}")
    print(f"page size          {q.getpagesize()} bytes")
    print(f"argument limit     {lib.quarn_sysctl_argmax()} bytes")
    functions = [n for n, v in vars(q).items() if callable(v) and not isinstance(v, type)]
    print(f"functions served   {len(functions)}")


def main():
    print(f"Snapshot of {os.uname().nodename} at {time.strftime('%Y-%m-%d %H:%M:%S %Z')}")
    section_processes()
    section_module()
    return 0


if __name__ == "__main__":
    sys.exit(main())
