"""Memory figures live against /proc/meminfo, /proc/swaps and /proc/vmstat,
and the allocator's statistics under a real block and many threads. The
injected answers and the leak checks are in test_mem.py."""

import ctypes
import threading

import pytest

import _quarn_bsd as q
from conftest import SANITIZED


def meminfo():
    with open("/proc/meminfo") as f:
        return {line.split(":")[0]: int(line.split()[1]) for line in f}


def swaps():
    with open("/proc/swaps") as f:
        rows = [line.split() for line in f.readlines()[1:] if line.split()]
    return [(int(r[2]), int(r[3])) for r in rows]


class TestLive:
    def test_virtual_mem_agrees_with_meminfo(self):
        ps = q.getpagesize()
        before = meminfo()
        got = q.virtual_mem()
        after = meminfo()
        assert got[0] == before["MemTotal"] * 1024
        slack = 64 << 20
        lo = min(before["MemFree"], after["MemFree"]) * 1024 - slack
        hi = max(before["MemFree"], after["MemFree"]) * 1024 + slack
        assert lo <= got[1] <= hi
        for k in (1, 2, 3, 4, 5, 7):
            assert got[k] % ps == 0
        assert got[5] == 0
        # The page queues and wired memory make up the whole.
        assert abs(sum(got[1:5]) - got[0]) < 4 * ps + slack
        assert abs(got[7] - before["Shmem"] * 1024) <= slack

    def test_swap_mem_agrees_with_proc_swaps(self):
        ps = q.getpagesize()
        total, used, free, _, _ = q.swap_mem()
        rows = swaps()
        assert total == sum(s * 1024 // ps for s, _ in rows) * ps
        assert abs(used - sum(u * 1024 // ps for _, u in rows) * ps) <= 64 << 20
        assert free == total - used

    def test_paging_counters_follow_proc_vmstat(self):

        def expected():
            with open("/proc/vmstat") as f:
                vm = {k: int(v) for k, v in (line.split() for line in f)}
            # Swap pages; file-backed pages read in by major faults and
            # written back from the page cache, less the swap pages.
            vnode = (max(vm["pgmajfault"] - vm["pswpin"], 0)
                     + max(vm["nr_written"] - vm["pswpout"], 0))
            return vm["pswpin"] + vm["pswpout"], vnode

        before = expected()
        got = q.swap_mem()[3:]
        after = expected()
        for lo, g, hi in zip(before, got, after):
            assert lo % 2**32 <= g <= hi % 2**32 or hi >= 2**32

    @pytest.mark.skipif(SANITIZED, reason="the sanitizer replaces the C library's allocator")
    def test_heap_follows_a_50_mb_block(self):
        libc = ctypes.CDLL(None)
        libc.malloc.restype = ctypes.c_void_p
        libc.malloc.argtypes = [ctypes.c_size_t]
        libc.free.argtypes = [ctypes.c_void_p]
        size = 50 << 20
        base, _ = q.heap_info()
        block = libc.malloc(size)
        assert block
        try:
            grown, mapped = q.heap_info()
            assert size <= grown - base < size + (4 << 20)
            assert mapped >= grown - base
        finally:
            libc.free(block)
        q.heap_trim()
        after, _ = q.heap_info()
        assert after - base < 4 << 20

    def test_heap_info_from_many_threads(self):
        results, errors = [], []

        def work():
            try:
                for _ in range(200):
                    results.append(q.heap_info())
                    q.heap_trim()
            except Exception as e:  # pragma: no cover - reported below
                errors.append(e)

        threads = [threading.Thread(target=work) for _ in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert errors == []
        assert len(results) == 1600
        assert all(alloc > 0 and mapped > 0 for alloc, mapped in results) or SANITIZED
