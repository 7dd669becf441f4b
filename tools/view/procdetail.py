"""One process in full (--pid): the answer of every per-process function,
each a value or null with its refusal in the errors list."""

import _quarn_bsd as q

from . import host
from .network import FAMILIES, endpoint

# The one-shot record's elements, in order, as JSON keys.
RECORD = ("ppid", "state_code", "real_uid", "effective_uid", "saved_uid", "real_gid",
          "effective_gid", "saved_gid", "terminal_device", "start_time",
          "voluntary_context_switches", "involuntary_context_switches", "block_reads",
          "block_writes", "user_cpu_seconds", "system_cpu_seconds",
          "children_user_cpu_seconds", "children_system_cpu_seconds", "rss_bytes",
          "vsz_bytes", "text_bytes", "data_bytes", "stack_bytes", "cpu", "name")
LIMITS = (("cpu_seconds", q.RLIMIT_CPU), ("file_size_bytes", q.RLIMIT_FSIZE),
          ("data_bytes", q.RLIMIT_DATA), ("stack_bytes", q.RLIMIT_STACK),
          ("core_bytes", q.RLIMIT_CORE), ("resident_bytes", q.RLIMIT_RSS),
          ("locked_bytes", q.RLIMIT_MEMLOCK), ("processes", q.RLIMIT_NPROC),
          ("open_files", q.RLIMIT_NOFILE), ("socket_buffer_bytes", q.RLIMIT_SBSIZE),
          ("address_space_bytes", q.RLIMIT_AS), ("pseudo_terminals", q.RLIMIT_NPTS),
          ("swap_bytes", q.RLIMIT_SWAP))
TCP_STATES = {getattr(q, n): n[5:] for n in dir(q) if n.startswith("TCPS_")}


def limit(value):
    return None if value == q.RLIM_INFINITY else value


def detail(g, pid):
    """Every per-process figure of one process."""
    sec = "process"
    record = g.ask(sec, "process record", q.proc_oneshot_info, pid)
    rec = None if record is None else dict(zip(RECORD, record))
    if rec is not None:
        rec["user"] = host.user_name(rec["effective_uid"])
        rec["terminal_device"] = None if rec["terminal_device"] == -1 else rec["terminal_device"]
    maps = g.ask(sec, "memory maps", q.proc_memory_maps, pid)
    page = q.getpagesize()
    limits = {}
    for key, res in LIMITS:
        got = g.ask(sec, f"limit {key}", q.proc_getrlimit, pid, res)
        limits[key] = None if got is None else {"soft": limit(got[0]), "hard": limit(got[1])}
    env = g.ask(sec, "environment", q.proc_environ, pid)
    files = g.ask(sec, "open files", q.proc_open_files, pid)
    threads = g.ask(sec, "threads", q.proc_threads, pid)
    conns = g.ask(sec, "connections", q.proc_net_connections, pid, (2, 28, 1), (1, 2))
    return {
        "pid": pid, "name": g.ask(sec, "name", q.proc_name, pid), "record": rec,
        "threads_count": g.ask(sec, "thread count", q.proc_num_threads, pid),
        "zombie": g.ask(sec, "zombie state", q.proc_is_zombie, pid),
        "executable": g.ask(sec, "executable", q.proc_exe, pid),
        "command_line": g.ask(sec, "command line", q.proc_cmdline, pid),
        "cwd": g.ask(sec, "working directory", q.proc_cwd, pid),
        "environment": None if env is None else dict(sorted(env.items())),
        "descriptors": g.ask(sec, "descriptor count", q.proc_num_fds, pid),
        # The kernel's -5 is the executable's text.
        "open_files": None if files is None else [
            {"fd": None if fd < 0 else fd, "path": path} for path, fd in files],
        "threads": None if threads is None else [
            {"tid": t, "user_cpu_seconds": u, "system_cpu_seconds": s} for t, u, s in threads],
        "memory_maps": None if maps is None else [
            {"range": r, "permissions": p, "path": w, "resident_bytes": res * page,
             "private_bytes": priv * page} for r, p, w, res, priv, _, _ in maps],
        "cpus": g.ask(sec, "CPU affinity", q.proc_cpu_affinity_get, pid),
        "nice": g.ask(sec, "priority", q.proc_priority_get, pid),
        "limits": limits,
        "connections": None if conns is None else [
            {"fd": fd, "family": FAMILIES.get(fam, "unix" if fam == 1 else str(fam)),
             "type": {1: "stream", 2: "datagram"}.get(typ, str(typ)),
             "local": endpoint(local, fam) if fam != 1 else local or None,
             "remote": endpoint(remote, fam) if fam != 1 else remote or None,
             "state": TCP_STATES.get(status) if fam != 1 and typ == 1 else None}
            for fd, fam, typ, local, remote, status in conns],
    }
