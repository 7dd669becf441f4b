"""Cost of a process's memory map, open files and descriptor count: live on
a child with 10,000 mappings and one with 10,000 descriptors, beside the
plain host read in the same run; and on injected 100,000-entry tables,
beside one copy of the same bytes. Prints figures and ratios; asserts
nothing about speed."""

import os
import resource
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))

import _quarn_bsd as q  # noqa: E402
import standin  # noqa: E402
from procs import MAPPER, OPENER, child, read_bytes  # noqa: E402
from records import kinfo_file, kinfo_proc, kinfo_vmentry  # noqa: E402

COUNT = 10_000
INJECTED = 100_000

# Every other page read-only, so each page is a mapping of its own.


def best_of(fn, repeat):
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def row(what, seconds, base=None):
    line = f"  {what:<52} {seconds * 1e3:10.3f} ms"
    if base:
        line += f"   x{seconds / base:6.2f}"
    print(line)


def live_maps():
    p = child(MAPPER, COUNT // 2)  # COUNT mappings
    try:
        maps = q.proc_memory_maps(p.pid)
        print(f"live, a process with {len(maps)} mappings (best of 10)")
        base = best_of(lambda: read_bytes(f"/proc/{p.pid}/smaps"), 10)
        row(f"host: read /proc/{p.pid}/smaps", base)
        row("proc_memory_maps()", best_of(lambda: q.proc_memory_maps(p.pid), 10), base)
    finally:
        p.stdin.close()
        p.wait()


def live_files():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard != resource.RLIM_INFINITY and hard < COUNT + 100 and os.geteuid() != 0:
        print(f"live descriptors skipped: the descriptor limit is {hard}")
        return
    p = child(OPENER, COUNT)
    try:
        n = q.proc_num_fds(p.pid)
        print(f"live, a process with {n} table entries (best of 10)")
        ls = f"ls /proc/{p.pid}/fd | wc -l"
        base = best_of(lambda: subprocess.run(ls, shell=True, check=True,
                                              stdout=subprocess.DEVNULL), 10)
        row("host: " + ls, base)
        row("proc_num_fds()", best_of(lambda: q.proc_num_fds(p.pid), 10), base)
        row("proc_open_files()", best_of(lambda: q.proc_open_files(p.pid), 10), base)
    finally:
        p.stdin.close()
        p.wait()


def injected():
    print(f"injected tables of {INJECTED} entries (best of 5), beside one copy of the bytes")
    pid = 4343
    standin.sysctl_answer([1, 14, 1, pid], kinfo_proc(ki_pid=pid))
    files = b"".join(kinfo_file(f"/data/file{i}", kf_type=1, kf_vnode_type=1, kf_fd=i)
                     for i in range(INJECTED))
    standin.push("kinfo_getfile", str(pid), standin.answer(files))
    base = best_of(lambda: bytearray(files), 5)
    row(f"copy of the file table ({len(files) >> 20} MiB)", base)
    row("proc_num_fds()", best_of(lambda: q.proc_num_fds(pid), 5), base)
    row("proc_open_files()", best_of(lambda: q.proc_open_files(pid), 5), base)
    del files

    vm = b"".join(kinfo_vmentry(f"/lib/lib{i}.so" if i % 2 else b"", kve_type=1 + i % 2,
                                kve_start=i << 12, kve_end=(i + 1) << 12, kve_protection=5,
                                kve_resident=i % 7)
                  for i in range(INJECTED))
    standin.push("kinfo_getvmmap", str(pid), standin.answer(vm))
    base = best_of(lambda: bytearray(vm), 5)
    row(f"copy of the map ({len(vm) >> 20} MiB)", base)
    row("proc_memory_maps()", best_of(lambda: q.proc_memory_maps(pid), 5), base)
    del vm

    threads = b"".join(kinfo_proc(ki_pid=pid, ki_tid=100000 + i, ru_utime_usec=i % 1000000)
                       for i in range(INJECTED))
    standin.sysctl_answer([1, 14, 17, pid], threads)
    base = best_of(lambda: bytearray(threads), 5)
    row(f"copy of the thread table ({len(threads) >> 20} MiB)", base)
    row("proc_threads()", best_of(lambda: q.proc_threads(pid), 5), base)
    standin.reset()


def main():
    live_maps()
    live_files()
    injected()
    return 0


if __name__ == "__main__":
    sys.exit(main())
