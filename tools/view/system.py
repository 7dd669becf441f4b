"""The host, CPU, memory, disk and user figures of a snapshot."""

import re
import time

import _quarn_bsd as q

from . import host

# Tick counters per CPU: user, nice, system, idle, interrupt (seconds).
IDLE = 3
# File-system types that hold no files of a disk: kernel views, memory and
# control groups. Shown only with --all.
PSEUDO = {"autofs", "binfmt_misc", "bpf", "cgroup", "cgroup2", "configfs", "debugfs",
          "devfs", "devpts", "devtmpfs", "efivarfs", "fdescfs", "fusectl", "hugetlbfs",
          "linprocfs", "linsysfs", "mqueue", "nsfs", "proc", "procfs", "pstore", "ramfs",
          "rpc_pipefs", "securityfs", "sysfs", "tmpfs", "tracefs"}
# A slice or partition of a disk: ada0p2, da1s1a, vd0p1.
PART = re.compile(r"(p\d+|s\d+[a-h]?)$")


def cpu_sample(g):
    """Per-CPU tick totals, taken at both ends of the sample."""
    return time.monotonic(), g.ask("cpu", "per-CPU times", q.per_cpu_times, default=[])


def busy(before, after):
    """Per-CPU busy percentage between two samples (None when unknown)."""
    out = []
    for b, a in zip(before, after):
        total = sum(a) - sum(b)
        out.append(None if total <= 0 else
                   round(max(0.0, 100.0 * (1.0 - (a[IDLE] - b[IDLE]) / total)), 1))
    return out


def host_section(g, now):
    name, system = host.identity()
    boot = g.ask("host", "boot time", q.boot_time)
    logged = g.ask("host", "logged-in users", q.users)
    battery = g.optional(q.sensors_battery)
    if battery is not None:
        percent, minutes, plugged = battery
        battery = {"percent": percent, "minutes_left": None if minutes < 0 else minutes,
                   "power_plugged": plugged == 1}
    return {"name": name, "os": system, "time": now, "boot_time": boot,
            "uptime_seconds": None if boot is None else max(0.0, now - boot),
            "load_average": host.load_average(),
            "users": None if logged is None else len({u[0] for u in logged}),
            "battery": battery}, logged


def cpu_section(g, first, last):
    (t0, before), (t1, after) = first, last
    count = g.ask("cpu", "CPU count", q.cpu_count_logical)
    shares = busy(before, after)
    per_cpu = []
    for n, share in enumerate(shares):
        freq = g.optional(q.cpu_freq, n)
        temp = g.optional(q.sensors_cpu_temperature, n)
        per_cpu.append({"cpu": n, "busy_percent": share,
                        "frequency_mhz": None if freq is None else freq[0],
                        "temperature_celsius": None if temp is None else temp[0],
                        "max_celsius": None if temp is None or temp[1] == -273 else temp[1]})
    known = [s for s in shares if s is not None]
    times = g.ask("cpu", "CPU times", q.cpu_times)
    stats = g.ask("cpu", "CPU event counts", q.cpu_stats)
    switches, interrupts, soft, calls, faults = stats or (None,) * 5
    freq = g.optional(q.cpu_freq, 0)
    return {
        "logical": count, "sample_seconds": round(t1 - t0, 3),
        "busy_percent": round(sum(known) / len(known), 1) if known else None,
        "per_cpu": per_cpu,
        "times_seconds": None if times is None else dict(
            zip(("user", "nice", "system", "idle", "interrupt"), times)),
        "context_switches": switches, "interrupts": interrupts, "soft_interrupts": soft,
        # No kernel that counts system calls has made none: 0 is no count.
        "system_calls": calls or None,
        "page_faults": faults,
        "frequency_levels": None if freq is None else freq[1] or None,
        "topology": g.optional(q.cpu_topology),
    }


def memory_section(g):
    vm = g.ask("memory", "physical memory", q.virtual_mem)
    sw = g.ask("memory", "swap", q.swap_mem)
    data = dict.fromkeys(("total_bytes", "used_bytes", "available_bytes", "free_bytes",
                          "active_bytes", "inactive_bytes", "wired_bytes", "cached_bytes",
                          "buffers_bytes", "shared_bytes", "swap_total_bytes",
                          "swap_used_bytes", "swap_free_bytes", "swap_pager_operations",
                          "file_pager_operations"))
    if vm is not None:
        total, free, active, inactive, wired, cached, buffers, shared = vm
        # What can be had without swapping: the free pages and those the
        # kernel drops or reuses on demand.
        available = min(total, free + inactive + cached)
        data.update(total_bytes=total, used_bytes=total - available, available_bytes=available,
                    free_bytes=free, active_bytes=active, inactive_bytes=inactive,
                    wired_bytes=wired, cached_bytes=cached, buffers_bytes=buffers,
                    shared_bytes=shared)
    if sw is not None:
        data.update(zip(("swap_total_bytes", "swap_used_bytes", "swap_free_bytes",
                         "swap_pager_operations", "file_pager_operations"), sw))
    return data


def disk_of(device, io_names):
    """The I/O device a mount lives on (/dev/ada0p2 on ada0), or None."""
    name = device.rsplit("/", 1)[-1] if device.startswith("/dev/") else None
    if name is None:
        return None
    if name in io_names:
        return name
    whole = PART.sub("", name)
    return whole if whole in io_names else None


def disks_section(g):
    mounts = g.ask("disks", "mount table", q.disk_partitions, default=[])
    counters = g.ask("disks", "disk I/O", q.disk_io_counters, default={})
    filesystems, seen = [], set()
    for device, mountpoint, fstype, options in mounts:
        usage = host.fs_usage(mountpoint)
        size, used, avail = usage or (None, None, None)
        pseudo = fstype in PSEUDO or size == 0 or (device, mountpoint) in seen
        seen.add((device, mountpoint))
        filesystems.append({
            "device": device, "disk": disk_of(device, counters), "mountpoint": mountpoint,
            "fstype": fstype, "options": options, "pseudo": pseudo, "size_bytes": size,
            "used_bytes": used, "available_bytes": avail,
            # As df rounds it: used over what a user may fill, upwards.
            "use_percent": None if not size or used is None or avail is None or used + avail == 0
            else -(-100 * used // (used + avail))})
    devices = []
    for name, values in sorted(counters.items()):
        d = dict(zip(("reads", "writes", "read_bytes", "written_bytes", "read_ms",
                      "write_ms", "busy_ms"), values))
        d.update(name=name, idle=d["reads"] == 0 and d["writes"] == 0)
        devices.append(d)
    return {"filesystems": filesystems, "devices": devices}


def users_section(logged):
    return [{"user": u, "terminal": t, "host": h, "login_time": s, "pid": p}
            for u, t, h, s, p in (logged or [])]
