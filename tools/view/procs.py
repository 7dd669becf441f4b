"""The process table: two samples of every process record, so that %CPU is
the share of the sample each process used, as top shows it."""

import time

import _quarn_bsd as q

from . import host

# Elements of the one-shot process record.
PPID, STATE, RUID, EUID = 0, 1, 2, 3
START, UTIME, STIME, RSS, VSZ, NAME = 9, 14, 15, 18, 19, 24

# The record's states. The FreeBSD record says sleeping, not whether the
# sleep is uninterruptible (D) or long (I), so every sleep is S; a process
# being made (SIDL) is counted as runnable, as FreeBSD's own tools do.
STATE_LETTERS = {q.SIDL: "R", q.SRUN: "R", q.SSLEEP: "S", q.SSTOP: "T",
                 q.SZOMB: "Z", q.SWAIT: "W", q.SLOCK: "L"}
SORTS = {
    "cpu": lambda r: (-(r["cpu_percent"] or 0.0), -r["rss_bytes"], r["pid"]),
    "mem": lambda r: (-r["rss_bytes"], r["pid"]),
    "pid": lambda r: r["pid"],
    "time": lambda r: (-r["cpu_seconds"], r["pid"]),
}


def sample(g):
    """(monotonic time, {pid: one-shot record}) of every process that could
    be read; a process gone since the list was made is left out."""
    pids = g.ask("processes", "process list", q.pids, default=[])
    records = {}
    for pid in pids:
        try:
            records[pid] = q.proc_oneshot_info(pid)
        except (OSError, RuntimeError):
            continue
    return time.monotonic(), records


def name_of(pid):
    try:
        return q.proc_name(pid)
    except (OSError, RuntimeError):
        return None


def command_line(pid, name):
    """The arguments as one line; a process without any (a kernel thread)
    or whose arguments are not ours to read shows its name in brackets."""
    try:
        args = q.proc_cmdline(pid)
    except (OSError, RuntimeError):
        args = []
    return " ".join(args) if args else f"[{name or '?'}]"


def table(first, last, total_memory, sort="cpu", user=None, top=10):
    """Rows of the process table, sorted, filtered and cut to top; and the
    count and state counts of every process."""
    (t0, before), (t1, after) = first, last
    elapsed = t1 - t0
    rows = []
    for pid, r in after.items():
        cpu = r[UTIME] + r[STIME]
        percent = None
        b = before.get(pid)
        if b is not None and b[START] == r[START] and elapsed > 0:
            percent = round(max(0.0, cpu - b[UTIME] - b[STIME]) / elapsed * 100, 1)
        rows.append({
            "pid": pid, "ppid": r[PPID], "user": host.user_name(r[EUID]), "uid": r[EUID],
            "state": STATE_LETTERS.get(r[STATE], "?"), "cpu_percent": percent,
            "memory_percent": round(100.0 * r[RSS] / total_memory, 1) if total_memory else None,
            "rss_bytes": r[RSS], "vsz_bytes": r[VSZ], "cpu_seconds": round(cpu, 2),
            "start_time": r[START], "name": r[NAME]})
    states = {}
    for row in rows:
        states[row["state"]] = states.get(row["state"], 0) + 1
    shown = [row for row in rows if user is None or row["uid"] == user]
    matching = len(shown)
    shown.sort(key=SORTS[sort])
    if top is not None:
        shown = shown[:top]
    for row in shown:
        row["command"] = command_line(row["pid"], row["name"])
    return {"count": len(rows), "states": states, "matching": matching, "sort": sort,
            "list": shown}
