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


def busy_shares(interval=0.5):
    """Per-CPU busy share over a short interval, from the idle time."""
    before = q.per_cpu_times()
    time.sleep(interval)
    after = q.per_cpu_times()
    shares = []
    for b, a in zip(before, after):
        total = sum(a) - sum(b)
        idle = a[3] - b[3]
        shares.append(0.0 if total <= 0 else max(0.0, 1.0 - idle / total))
    return shares


def section_cpu():
    heading("CPU")
    count = q.cpu_count_logical()
    print(f"logical CPUs       {count if count is not None else 'unknown'}")
    for n, share in enumerate(busy_shares()):
        bar = "#" * round(share * 40)
        print(f"  cpu{n:<3} {share * 100:5.1f}% busy  |{bar:<40}|")
    user, nice, system, idle, intr = q.cpu_times()
    print(f"total time         user {user:.2f}s, nice {nice:.2f}s, system {system:.2f}s, "
          f"idle {idle:.2f}s, interrupt {intr:.2f}s")
    switches, interrupts, soft, calls, traps = q.cpu_stats()
    print(f"events             {switches} context switches, {interrupts} interrupts, "
          f"{soft} soft interrupts, {calls} system calls, {traps} traps")
    boot = q.boot_time()
    up = int(time.time() - boot)
    print(f"booted             {time.strftime('%Y-%m-%d %H:%M:%S', time.localtime(boot))}"
          f" (up {up // 86400}d {up % 86400 // 3600}h {up % 3600 // 60}m)")
    try:
        mhz, levels = q.cpu_freq(0)
        print(f"frequency          {mhz} MHz" + (f", levels {levels}" if levels else ""))
    except NotImplementedError:
        print("frequency          not reported by this machine")
    topology = q.cpu_topology()
    if topology is None:
        print("topology           not reported by this machine")
    else:
        print("topology")
        for line in topology.strip().splitlines():
            print("  " + line)


def section_memory():
    heading("Memory")
    total, free, active, inactive, wired, cached, buffers, shared = q.virtual_mem()
    print(f"physical           {human(total)}")
    print(f"  free {human(free)}, active {human(active)}, inactive {human(inactive)}, "
          f"wired {human(wired)}, cached {human(cached)}")
    print(f"  buffers {human(buffers)}, shared {human(shared)}")
    stotal, sused, sfree, swap_ops, vnode_ops = q.swap_mem()
    if stotal:
        print(f"swap               {human(stotal)}: used {human(sused)}, free {human(sfree)}")
    else:
        print("swap               none")
    print(f"paging             {swap_ops} swap pager operations, {vnode_ops} vnode pager")
    allocated, mapped = q.heap_info()
    print(f"this process's heap {human(allocated)} allocated, {human(mapped)} mapped")


def section_module():
    heading("The module")
    lib = ctypes.PyDLL(q.__file__)
    lib.quarn_sysctl_argmax.restype = ctypes.c_int64
    print(f"version            {q.version}")
    print(f"page size          {q.getpagesize()} bytes")
    print(f"argument limit     {lib.quarn_sysctl_argmax()} bytes")
    functions = [n for n, v in vars(q).items() if callable(v) and not isinstance(v, type)]
    print(f"functions served   {len(functions)}")


def section_this_process(largest=5):
    """What the snapshot's own process holds: files, threads, memory map."""
    pid = os.getpid()
    page = q.getpagesize()
    heading(f"This process ({pid})")
    files = q.proc_open_files(pid)
    print(f"descriptors        {q.proc_num_fds(pid)} (kernel pseudo-entries included), "
          f"{len(files)} on regular files")
    for path, fd in files:
        print(f"  {'text' if fd == -5 else fd:>5}  {path}")
    threads = q.proc_threads(pid)
    print(f"threads            {len(threads)}")
    for tid, user, system in threads:
        print(f"  {tid:>7}  user {user:.2f}s, system {system:.2f}s")
    maps = q.proc_memory_maps(pid)
    kinds = {}
    for _, _, where, resident, private, _, _ in maps:
        kind = where if where.startswith("[") else "file"
        count, pages, own = kinds.get(kind, (0, 0, 0))
        kinds[kind] = (count + 1, pages + resident, own + private)
    print(f"memory maps        {len(maps)} mappings")
    for kind, (count, pages, own) in sorted(kinds.items(), key=lambda k: -k[1][1]):
        print(f"  {kind:<10} {count:>5} mappings, {human(pages * page):>7} resident, "
              f"{human(own * page):>7} private")
    print("largest resident")
    for addr, perms, where, resident, _, _, _ in sorted(maps, key=lambda m: -m[3])[:largest]:
        print(f"  {human(resident * page):>7}  {perms}  {addr:<31}  {where}")


def main():
    print(f"Snapshot of {os.uname().nodename} at {time.strftime('%Y-%m-%d %H:%M:%S %Z')}")
    section_processes()
    section_cpu()
    section_memory()
    section_this_process()
    section_module()
    return 0


if __name__ == "__main__":
    sys.exit(main())
