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


def section_disks():
    parts = q.disk_partitions()
    heading(f"Mounted file systems ({len(parts)})")
    print(f"{'DEVICE':<24} {'MOUNT POINT':<28} {'TYPE':<10} OPTIONS")
    for device, mountpoint, fstype, opts in parts:
        print(f"{device[:24]:<24} {mountpoint[:28]:<28} {fstype[:10]:<10} {opts}")
    disks = q.disk_io_counters()
    heading(f"Disk I/O ({len(disks)} devices)")
    print(f"{'DEVICE':<12} {'READS':>10} {'WRITES':>10} {'READ':>8} {'WRITTEN':>8} "
          f"{'READ MS':>9} {'WRITE MS':>9} {'BUSY MS':>9}")
    for name in sorted(disks):
        reads, writes, rbytes, wbytes, rtime, wtime, busy = disks[name]
        print(f"{name:<12} {reads:>10} {writes:>10} {human(rbytes):>8} {human(wbytes):>8} "
              f"{rtime:>9} {wtime:>9} {busy:>9}")


def section_sensors():
    heading("Sensors")
    try:
        percent, minutes, plugged = q.sensors_battery()
        left = "unknown" if minutes < 0 else f"{minutes // 60}h {minutes % 60:02d}m"
        print(f"battery            {percent}%, {left} left, "
              f"{'on' if plugged == 1 else 'off'} external power")
    except NotImplementedError as e:
        print(f"battery            {e}")
    count = q.cpu_count_logical() or 1
    for cpu in range(count):
        try:
            current, tjmax = q.sensors_cpu_temperature(cpu)
        except NotImplementedError as e:
            print(f"cpu temperature    {e}")
            break
        limit = "" if tjmax == -273 else f" (max {tjmax} C)"
        print(f"  cpu{cpu:<3} {current} C{limit}")


def section_users():
    users = q.users()
    heading(f"Users logged in ({len(users)})")
    for name, line, host, started_at, pid in users:
        print(f"{name:<12} {line:<10} {time.strftime('%Y-%m-%d %H:%M', time.localtime(started_at))}"
              f"  {host}  (pid {pid})")
    if not users:
        print("nobody")


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
    section_cpu()
    section_memory()
    section_disks()
    section_sensors()
    section_users()
    section_module()
    return 0


if __name__ == "__main__":
    sys.exit(main())
