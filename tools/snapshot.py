"""A readable report of this machine, made through the module.

    snapshot.py            the 20 largest processes and the system figures
    snapshot.py --all      every process
    snapshot.py --json     the same snapshot as one JSON document

Run with the built module on the path (make run does that). Each section is
one function that gathers its figures once and gives them both as data (for
--json) and as lines of text; a new section is one more such function in
SECTIONS.
"""

import argparse
import ctypes
import json
import os
import pwd
import sys
import time
from dataclasses import dataclass, field

import _quarn_bsd as q

STATE_LETTERS = {q.SIDL: "I", q.SRUN: "R", q.SSLEEP: "S", q.SSTOP: "T",
                 q.SZOMB: "Z", q.SWAIT: "W", q.SLOCK: "L"}

# Elements of the one-shot process record.
PPID, STATE, RUID, EUID = 0, 1, 2, 3
START, UTIME, STIME, RSS, NAME = 9, 14, 15, 18, 24

TOP = 20
# The shortest interval the per-CPU busy shares are measured over; the
# sections before the CPU one usually take longer than that already.
MIN_SAMPLE = 0.2


@dataclass
class Section:
    key: str                  # its name in the JSON document
    title: str
    data: object = None       # JSON-ready figures
    lines: list = field(default_factory=list)


@dataclass
class Run:
    """What every section may use: the options and an early CPU sample."""
    all: bool
    cpu_sample: tuple         # (monotonic time, per_cpu_times())


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


def stamp(epoch):
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(epoch))


# ---- sections ----

def processes(run):
    rows = []
    for pid in q.pids():
        try:
            rows.append((pid, q.proc_oneshot_info(pid)))
        except (ProcessLookupError, PermissionError):
            continue  # gone, or not ours to read, since the list was made
    rows.sort(key=lambda r: (-r[1][RSS], r[0]))
    shown = rows if run.all else rows[:TOP]

    procs = []
    for pid, info in shown:
        try:
            threads = q.proc_num_threads(pid)
        except (ProcessLookupError, PermissionError):
            threads = None
        procs.append({
            "pid": pid, "ppid": info[PPID], "user": user_name(info[EUID]),
            "state": STATE_LETTERS.get(info[STATE], "?"), "threads": threads,
            "rss": info[RSS], "cpu_time": info[UTIME] + info[STIME], "start": info[START],
            "name": info[NAME] if info[NAME] is not None else "?",
        })
    rest = len(rows) - len(shown)

    lines = [f"{'PID':>7} {'PPID':>7} {'USER':<10} {'S':1} {'THR':>4} {'RSS':>7} "
             f"{'TIME':>9} {'START':>8}  NAME"]
    for p in procs:
        threads = "?" if p["threads"] is None else p["threads"]
        lines.append(f"{p['pid']:>7} {p['ppid']:>7} {p['user'][:10]:<10} {p['state']:1} "
                     f"{threads:>4} {human(p['rss']):>7} {cpu_time(p['cpu_time']):>9} "
                     f"{started(p['start']):>8}  {p['name']}")
    if rest:
        lines.append(f"... and {rest} more, smaller (--all lists every process)")
    title = (f"Processes ({len(rows)})" if run.all or not rest
             else f"Processes: the {len(shown)} largest of {len(rows)}")
    return Section("processes", title,
                   {"count": len(rows), "more": rest, "list": procs}, lines)


def busy_shares(run):
    """Per-CPU busy share since the early sample, from the idle time."""
    since, before = run.cpu_sample
    wait = MIN_SAMPLE - (time.monotonic() - since)
    if wait > 0:
        time.sleep(wait)
    after = q.per_cpu_times()
    shares = []
    for b, a in zip(before, after):
        total = sum(a) - sum(b)
        idle = a[3] - b[3]
        shares.append(0.0 if total <= 0 else max(0.0, 1.0 - idle / total))
    return shares


def cpu(run):
    count = q.cpu_count_logical()
    shares = busy_shares(run)
    user, nice, system, idle, intr = q.cpu_times()
    switches, interrupts, soft, calls, traps = q.cpu_stats()
    boot = q.boot_time()
    try:
        mhz, levels = q.cpu_freq(0)
        freq = {"mhz": mhz, "levels": levels}
    except NotImplementedError:
        freq = None
    topology = q.cpu_topology()
    # A kernel that counts system calls never has none; 0 means this host
    # keeps no count.
    syscalls = calls or None

    data = {
        "logical": count, "busy": shares,
        "times": {"user": user, "nice": nice, "system": system, "idle": idle,
                  "interrupt": intr},
        "events": {"context_switches": switches, "interrupts": interrupts,
                   "soft_interrupts": soft, "system_calls": syscalls, "traps": traps},
        "boot_time": boot, "frequency": freq, "topology": topology,
    }
    up = int(time.time() - boot)
    lines = [f"logical CPUs       {count if count is not None else 'unknown'}"]
    for n, share in enumerate(shares):
        bar = "#" * round(share * 40)
        lines.append(f"  cpu{n:<3} {share * 100:5.1f}% busy  |{bar:<40}|")
    lines.append(f"total time         user {user:.2f}s, nice {nice:.2f}s, "
                 f"system {system:.2f}s, idle {idle:.2f}s, interrupt {intr:.2f}s")
    calls_text = ("system calls not counted by this host" if syscalls is None
                  else f"{syscalls} system calls")
    lines.append(f"events             {switches} context switches, {interrupts} interrupts, "
                 f"{soft} soft interrupts, {calls_text}, {traps} traps")
    lines.append(f"booted             {stamp(boot)} "
                 f"(up {up // 86400}d {up % 86400 // 3600}h {up % 3600 // 60}m)")
    if freq is None:
        lines.append("frequency          not reported by this machine")
    else:
        lines.append(f"frequency          {mhz} MHz" + (f", levels {levels}" if levels else ""))
    if topology is None:
        lines.append("topology           not reported by this machine")
    else:
        lines.append("topology")
        lines += ["  " + line for line in topology.strip().splitlines()]
    return Section("cpu", "CPU", data, lines)


def memory(run):
    total, free, active, inactive, wired, cached, buffers, shared = q.virtual_mem()
    stotal, sused, sfree, swap_ops, vnode_ops = q.swap_mem()
    allocated, mapped = q.heap_info()
    data = {
        "physical": {"total": total, "free": free, "active": active, "inactive": inactive,
                     "wired": wired, "cached": cached, "buffers": buffers, "shared": shared},
        "swap": {"total": stotal, "used": sused, "free": sfree},
        "paging": {"swap_pager": swap_ops, "vnode_pager": vnode_ops},
        "heap": {"allocated": allocated, "mapped": mapped},
    }
    lines = [
        f"physical           {human(total)}",
        f"  free {human(free)}, active {human(active)}, inactive {human(inactive)}, "
        f"wired {human(wired)}, cached {human(cached)}",
        f"  buffers {human(buffers)}, shared {human(shared)}",
        (f"swap               {human(stotal)}: used {human(sused)}, free {human(sfree)}"
         if stotal else "swap               none"),
        f"paging             {swap_ops} swap pager operations, {vnode_ops} vnode pager",
        f"this process's heap {human(allocated)} allocated, {human(mapped)} mapped",
    ]
    return Section("memory", "Memory", data, lines)


def process_details(pid):
    """What a process runs, where, and under which controls. A figure that
    cannot be read is {"error": reason}; no limit is None."""

    def ask(fn, *args):
        try:
            return fn(pid, *args)
        except (OSError, RuntimeError) as e:
            return {"error": e.strerror if isinstance(e, OSError) and e.strerror else str(e)}

    def environment():
        names = sorted(q.proc_environ(pid))
        return {"count": len(names), "names": names[:5]}

    def limit(res):
        value = ask(q.proc_getrlimit, res)
        if isinstance(value, dict):
            return value
        return [None if v == q.RLIM_INFINITY else v for v in value]

    return {
        "pid": pid, "executable": ask(q.proc_exe), "command_line": ask(q.proc_cmdline),
        "cwd": ask(q.proc_cwd), "environment": ask(lambda _: environment()), "cpus": ask(q.proc_cpu_affinity_get),
        "nice": ask(q.proc_priority_get),
        "limits": {"open_files": limit(q.RLIMIT_NOFILE), "processes": limit(q.RLIMIT_NPROC)},
    }


def this_process(run):
    def text(value, show=str):
        return f"not available ({value['error']})" if isinstance(value, dict) else show(value)

    def short(line, width=100):
        return line if len(line) <= width else line[:width - 3] + "..."

    def pair(value):
        return " / ".join("unlimited" if v is None else str(v) for v in value) + " (soft / hard)"

    def env_text(env):
        if "error" in env:
            return text(env)
        more = ", ..." if env["count"] > len(env["names"]) else ""
        return f"{env['count']} variables: " + ", ".join(env["names"]) + more

    data = {"self": process_details(os.getpid()), "parent": process_details(os.getppid())}
    lines = []
    for title, key in (("this process", "self"), ("parent", "parent")):
        d = data[key]
        lines += [
            f"{title} ({d['pid']})",
            f"  executable         {text(d['executable'], lambda v: v or '(cannot be named)')}",
            f"  command line       "
            f"{short(text(d['command_line'], lambda v: ' '.join(map(repr, v))))}",
            f"  working directory  {text(d['cwd'], lambda v: v or '(unknown)')}",
            f"  environment        {env_text(d['environment'])}",
            f"  CPUs               {text(d['cpus'], lambda v: ', '.join(map(str, v)))}",
            f"  nice               {text(d['nice'])}",
            f"  open files         {text(d['limits']['open_files'], pair)}",
            f"  processes          {text(d['limits']['processes'], pair)}",
        ]
    return Section("this_process", "This process and its parent", data, lines)


def connections(run):
    """Listening TCP sockets with their owners, and counts of the rest."""
    conns = q.net_connections((2, 28, 1), (1, 2))
    listening = []
    for fd, family, type_, local, _, status, pid in sorted(
            (t for t in conns if t[1] != 1 and t[2] == 1 and t[5] == q.TCPS_LISTEN),
            key=lambda t: (t[3][1], t[1], t[6])):
        try:
            name = q.proc_name(pid)
        except OSError:
            name = None  # gone since the table was read
        listening.append({"host": local[0], "port": local[1], "family": family,
                          "pid": pid, "fd": fd, "name": name})
    data = {
        "sockets": len(conns),
        "tcp_established": sum(1 for t in conns if t[1] != 1 and t[2] == 1
                               and t[5] == q.TCPS_ESTABLISHED),
        "udp": sum(1 for t in conns if t[1] != 1 and t[2] == 2),
        "unix": sum(1 for t in conns if t[1] == 1),
        "listening": listening,
    }
    lines = [f"sockets held       {data['sockets']} (by processes this user may see)",
             f"TCP established    {data['tcp_established']}",
             f"UDP sockets        {data['udp']}",
             f"UNIX sockets       {data['unix']}",
             f"listening on TCP   {len(listening)}"]
    for s in listening:
        where = f"[{s['host']}]:{s['port']}" if s["family"] == 28 else f"{s['host']}:{s['port']}"
        lines.append(f"  {where:<28} pid {s['pid']:<7} fd {s['fd']:<4} {s['name'] or '?'}")
    return Section("connections", "Connections", data, lines)


def interfaces(run):
    """Each interface: flags, MTU, media, traffic in each direction, and its
    addresses."""
    counters = q.net_io_counters()
    addrs = {}
    for name, family, addr, netmask, broadcast, peer in q.net_if_addrs():
        addrs.setdefault(name, []).append({
            "family": {q.AF_LINK: "link", 2: "inet", 28: "inet6"}.get(family, family),
            "address": addr, "netmask": netmask, "broadcast": broadcast, "peer": peer})
    data = {}
    for name in sorted(set(counters) | set(addrs)):
        try:
            flags = q.net_if_flags(name)
            mtu = q.net_if_mtu(name)
            duplex, speed = q.net_if_duplex_speed(name)
        except OSError:
            continue  # gone since the lists were made
        entry = {"flags": flags, "mtu": mtu,
                 "duplex": {1: "half", 2: "full"}.get(duplex), "speed": speed or None,
                 "addresses": addrs.get(name, [])}
        if name in counters:
            sent, recv, psent, precv, ierr, oerr, idrop, _ = counters[name]
            entry["in"] = {"bytes": recv, "packets": precv, "errors": ierr, "dropped": idrop}
            entry["out"] = {"bytes": sent, "packets": psent, "errors": oerr}
        data[name] = entry

    lines = []
    for name, e in data.items():
        media = ("speed unknown" if e["speed"] is None else
                 f"{e['speed']} Mbit/s" + (f" {e['duplex']}-duplex" if e["duplex"] else ""))
        lines.append(f"{name:<10} <{','.join(e['flags'])}> mtu {e['mtu']}, {media}")
        if "in" in e:
            i, o = e["in"], e["out"]
            lines.append(f"{'':<10} in  {human(i['bytes']):>7}, {i['packets']} packets, "
                         f"{i['errors']} errors, {i['dropped']} dropped")
            lines.append(f"{'':<10} out {human(o['bytes']):>7}, {o['packets']} packets, "
                         f"{o['errors']} errors")
        for a in e["addresses"]:
            line = f"{'':<10} {a['family']:<5} {a['address']}"
            for key in ("netmask", "broadcast", "peer"):
                if a[key]:
                    line += f" {key} {a[key]}"
            lines.append(line)
    return Section("interfaces", f"Network interfaces ({len(data)})", data, lines)


def disks(run):
    parts = q.disk_partitions()
    counters = q.disk_io_counters()
    data = {
        "partitions": [{"device": d, "mountpoint": m, "fstype": t, "options": o}
                       for d, m, t, o in parts],
        "io": {name: dict(zip(("reads", "writes", "read_bytes", "write_bytes", "read_ms",
                               "write_ms", "busy_ms"), values))
               for name, values in sorted(counters.items())},
    }
    lines = [f"{len(parts)} mounted file systems",
             f"  {'DEVICE':<24} {'MOUNT POINT':<28} {'TYPE':<10} OPTIONS"]
    lines += [f"  {d[:24]:<24} {m[:28]:<28} {t[:10]:<10} {o}" for d, m, t, o in parts]
    lines.append(f"I/O of {len(counters)} devices")
    lines.append(f"  {'DEVICE':<12} {'READS':>10} {'WRITES':>10} {'READ':>8} {'WRITTEN':>8} "
                 f"{'READ MS':>9} {'WRITE MS':>9} {'BUSY MS':>9}")
    for name, d in data["io"].items():
        lines.append(f"  {name:<12} {d['reads']:>10} {d['writes']:>10} "
                     f"{human(d['read_bytes']):>8} {human(d['write_bytes']):>8} "
                     f"{d['read_ms']:>9} {d['write_ms']:>9} {d['busy_ms']:>9}")
    return Section("disks", "Disks", data, lines)


def sensors(run):
    lines = []
    try:
        percent, minutes, plugged = q.sensors_battery()
        battery = {"percent": percent, "minutes_left": None if minutes < 0 else minutes,
                   "power_plugged": plugged == 1}
        left = "unknown" if minutes < 0 else f"{minutes // 60}h {minutes % 60:02d}m"
        lines.append(f"battery            {percent}%, {left} left, "
                     f"{'on' if plugged == 1 else 'off'} external power")
    except NotImplementedError as e:
        battery = {"absent": str(e)}
        lines.append(f"battery            {e}")
    temperatures = []
    absent = None
    for n in range(q.cpu_count_logical() or 1):
        try:
            current, tjmax = q.sensors_cpu_temperature(n)
        except NotImplementedError as e:
            absent = str(e)
            break
        temperatures.append({"cpu": n, "celsius": current,
                             "max_celsius": None if tjmax == -273 else tjmax})
        limit = "" if tjmax == -273 else f" (max {tjmax} C)"
        lines.append(f"  cpu{n:<3} {current} C{limit}")
    if absent is not None and not temperatures:
        lines.append(f"cpu temperature    {absent}")
    data = {"battery": battery,
            "temperatures": temperatures if temperatures else {"absent": absent}}
    return Section("sensors", "Sensors", data, lines)


def users(run):
    logged = q.users()
    data = [{"user": u, "terminal": t, "host": h, "since": s, "pid": p}
            for u, t, h, s, p in logged]
    lines = [f"{d['user']:<12} {d['terminal']:<10} {stamp(d['since'])}  {d['host']}  "
             f"(pid {d['pid']})" for d in data] or ["nobody"]
    return Section("users", f"Users logged in ({len(logged)})", data, lines)


def process_files(run, largest=5):
    """What the snapshot's own process holds: files, threads, memory map."""
    pid = os.getpid()
    page = q.getpagesize()
    files = q.proc_open_files(pid)
    fds = q.proc_num_fds(pid)
    threads = q.proc_threads(pid)
    maps = q.proc_memory_maps(pid)
    kinds = {}
    for _, _, where, resident, private, _, _ in maps:
        kind = where if where.startswith("[") else "file"
        k = kinds.setdefault(kind, {"mappings": 0, "resident": 0, "private": 0})
        k["mappings"] += 1
        k["resident"] += resident * page
        k["private"] += private * page
    top = sorted(maps, key=lambda m: -m[3])[:largest]
    data = {
        "pid": pid, "descriptors": fds,
        "open_files": [{"fd": fd, "path": path} for path, fd in files],
        "threads": [{"tid": tid, "user": user, "system": system}
                    for tid, user, system in threads],
        "maps": {"count": len(maps), "kinds": kinds,
                 "largest": [{"range": addr, "perms": perms, "path": where,
                              "resident": resident * page}
                             for addr, perms, where, resident, _, _, _ in top]},
    }
    lines = [f"descriptors        {fds} (kernel pseudo-entries included), "
             f"{len(files)} on regular files"]
    # A file that has lost its last name has none to show.
    lines += [f"  {'text' if fd == -5 else fd:>5}  {path or '(deleted)'}" for path, fd in files]
    lines.append(f"threads            {len(threads)}")
    lines += [f"  {tid:>7}  user {user:.2f}s, system {system:.2f}s"
              for tid, user, system in threads]
    lines.append(f"memory maps        {len(maps)} mappings")
    for kind, k in sorted(kinds.items(), key=lambda item: -item[1]["resident"]):
        lines.append(f"  {kind:<10} {k['mappings']:>5} mappings, {human(k['resident']):>7} "
                     f"resident, {human(k['private']):>7} private")
    lines.append("largest resident")
    lines += [f"  {human(m['resident']):>7}  {m['perms']}  {m['range']:<31}  {m['path']}"
              for m in data["maps"]["largest"]]
    return Section("process_files", f"Files, threads and maps of this process ({pid})", data,
                   lines)


def module(run):
    lib = ctypes.PyDLL(q.__file__)
    lib.quarn_sysctl_argmax.restype = ctypes.c_int64
    functions = [n for n, v in vars(q).items() if callable(v) and not isinstance(v, type)]
    data = {"version": q.version, "page_size": q.getpagesize(),
            "argument_limit": lib.quarn_sysctl_argmax(), "functions": len(functions)}
    lines = [f"version            {data['version']}",
             f"page size          {data['page_size']} bytes",
             f"argument limit     {data['argument_limit']} bytes",
             f"functions served   {data['functions']}"]
    return Section("module", "The module", data, lines)


SECTIONS = [processes, cpu, memory, this_process, process_files, connections, interfaces, disks,
            sensors, users, module]


def gather(fn, run):
    """One section; a figure the kernel refuses spoils that section only."""
    try:
        return fn(run)
    except (OSError, RuntimeError) as e:
        return Section(fn.__name__, fn.__name__.capitalize(), {"error": str(e)},
                       [f"unavailable: {e}"])


def parse_args(argv):
    parser = argparse.ArgumentParser(description="A snapshot of this machine.")
    parser.add_argument("--all", action="store_true", help="list every process")
    parser.add_argument("--json", action="store_true", help="print one JSON document")
    return parser.parse_args(argv)


def host_name():
    """This machine's name; under QUARN_REPLAY, the recorded machine's and
    its system's."""
    path = os.environ.get("QUARN_REPLAY")
    if not path:
        return os.uname().nodename
    from quarn_record import fileformat
    try:
        meta, _, _ = fileformat.read(path)
    except (OSError, fileformat.RecordingError) as e:
        sys.exit("snapshot: QUARN_REPLAY=%s: %s" % (path, e))
    return "%s (%s %s, recorded)" % (meta.get("host"), meta.get("os"), meta.get("release"))


def main(argv=None):
    args = parse_args(argv)
    run = Run(all=args.all, cpu_sample=(time.monotonic(), q.per_cpu_times()))
    now = time.time()
    host = host_name()
    sections = [gather(fn, run) for fn in SECTIONS]
    if args.json:
        doc = {"host": host, "time": now}
        doc.update((s.key, s.data) for s in sections)
        json.dump(doc, sys.stdout, indent=2)
        print()
        return 0
    print(f"Snapshot of {host} at {time.strftime('%Y-%m-%d %H:%M:%S %Z', time.localtime(now))}")
    for s in sections:
        print()
        print(s.title)
        print("-" * len(s.title))
        for line in s.lines:
            print(line)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BrokenPipeError:
        # A reader that stopped early (| head) is no failure of the report.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(1)
