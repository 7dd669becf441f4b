"""CPU figures live against /proc/stat and the host's CPUs, and the leak
checks, live and injected. The injected answers are in test_cpu.py."""

import errno
import os
import struct
import xml.etree.ElementTree as ET

import pytest

import _quarn_bsd as q
import standin
from leakcheck import assert_flat
from test_cpu import HW_NCPU, KERN_BOOTTIME, TICK


def host_hz():
    return os.sysconf("SC_CLK_TCK")


def stat_lines():
    with open("/proc/stat") as f:
        return {w[0]: [int(x) for x in w[1:]] for w in (line.split() for line in f)
                if w and w[0].startswith("cpu")}


def expected_times(fields, hz):
    """The stand-in's documented mapping of one /proc/stat cpu line."""
    user, nice, system, idle, iowait, irq, softirq, steal = (fields + [0] * 8)[:8]

    def secs(ticks):
        return (ticks * 128 // hz) * TICK

    return (secs(user), secs(nice), secs(system + steal), secs(idle + iowait),
            secs(irq + softirq))


def assert_between(lo, got, hi, slack=0.0):
    for a, g, b in zip(lo, got, hi):
        assert a - slack <= g <= b + slack, (lo, got, hi)


# ---- live ----

class TestLive:
    def test_logical_count_is_the_hosts(self):
        assert q.cpu_count_logical() == os.cpu_count()

    def test_cpu_times_agree_with_proc_stat(self):
        hz = host_hz()
        before = expected_times(stat_lines()["cpu"], hz)
        got = q.cpu_times()
        after = expected_times(stat_lines()["cpu"], hz)
        # The host's idle accounting may step back by a tick per CPU.
        assert_between(before, got, after, slack=os.cpu_count() / hz)

    def test_per_cpu_times_agree_with_proc_stat(self):
        hz = host_hz()
        lines = stat_lines()
        cpus = sorted((k for k in lines if k != "cpu"), key=lambda k: int(k[3:]))
        before = [expected_times(lines[c], hz) for c in cpus]
        got = q.per_cpu_times()
        lines = stat_lines()
        after = [expected_times(lines[c], hz) for c in cpus]
        assert len(got) == len(cpus) == q.cpu_count_logical()
        for lo, g, hi in zip(before, got, after):
            assert_between(lo, g, hi, slack=1 / hz)

    def test_per_cpu_sums_match_the_total(self):
        first = q.cpu_times()
        per = q.per_cpu_times()
        last = q.cpu_times()
        # The host cuts each CPU's line to its own clock ticks and the total
        # only once, and each is then cut to whole ticks here.
        slack = len(per) * (1.0 / host_hz() + TICK) + TICK
        for k in range(5):
            total = sum(p[k] for p in per)
            assert first[k] - slack <= total <= last[k] + slack

    def test_boot_time_is_the_btime_line(self):
        with open("/proc/stat") as f:
            btime = next(int(line.split()[1]) for line in f if line.startswith("btime"))
        assert q.boot_time() == float(btime)

    def test_cpu_stats_counters(self):
        with open("/proc/stat") as f:
            ctxt = next(int(line.split()[1]) for line in f if line.startswith("ctxt"))
        swtch, intr, soft, syscalls, traps = q.cpu_stats()
        # 32-bit counters: compare modulo 2**32, allowing for switches since.
        assert 0 <= (swtch - ctxt) % 2**32 < 10**7
        assert syscalls == 0
        assert intr > 0 and soft > 0 and traps > 0

    def test_frequency_on_this_host(self):
        if os.path.isdir("/sys/devices/system/cpu/cpu0/cpufreq"):
            freq, levels = q.cpu_freq(0)
            assert freq > 0
        else:
            with pytest.raises(NotImplementedError, match=r"^unable to read frequency$"):
                q.cpu_freq(0)

    @pytest.mark.parametrize("cpu", [-1, 4096, 2**31 - 1])
    def test_cpu_the_host_does_not_have(self, cpu):
        with pytest.raises(NotImplementedError, match=r"^unable to read frequency$"):
            q.cpu_freq(cpu)

    def test_cpu_count_is_also_the_first_missing_cpu(self):
        with pytest.raises(NotImplementedError):
            q.cpu_freq(q.cpu_count_logical())

    def test_topology_covers_every_cpu(self):
        text = q.cpu_topology()
        root = ET.fromstring(text)
        assert root.tag == "groups"
        top = root.find("group")
        ncpu = q.cpu_count_logical()
        cpu = top.find("cpu")
        assert int(cpu.get("count")) == ncpu
        assert [int(c) for c in cpu.text.split(", ")] == list(range(ncpu))
        words = [int(w, 16) for w in cpu.get("mask").split(",")]
        assert len(words) == 16
        assert sum(w << (64 * i) for i, w in enumerate(words)) == (1 << ncpu) - 1
        # The leaves of the tree are the CPUs, each exactly once.
        leaves = []
        for group in top.iter("group"):
            if group.find("children") is None:
                leaves += [int(c) for c in group.find("cpu").text.split(", ")]
        assert sorted(leaves) == list(range(ncpu))


# ---- leaks ----

class TestLeaks:
    @pytest.mark.parametrize("fn", [q.cpu_count_logical, q.cpu_times, q.per_cpu_times,
                                    q.cpu_stats, q.boot_time])
    def test_live_success(self, fn):
        assert_flat(fn, calls=3000)

    def test_live_topology(self):
        assert_flat(q.cpu_topology, calls=500)

    def test_live_missing_frequency(self):
        if os.path.isdir("/sys/devices/system/cpu/cpu0/cpufreq"):
            assert_flat(q.cpu_freq, 0, calls=2000)
        else:
            assert_flat(q.cpu_freq, 0, expect=NotImplementedError, calls=3000)

    def test_injected_success(self):
        standin.sysctl_answer("dev.cpu.0.freq", struct.pack("<i", 1))
        standin.sysctl_answer("dev.cpu.0.freq_levels", b"1/-1\0")
        standin.sysctl_answer("kern.sched.topology_spec", b"<groups/>")
        assert_flat(q.cpu_freq, 0)
        assert_flat(q.cpu_topology)

    def test_failure_paths(self):
        standin.sysctl_error("kern.cp_time", errno.EIO)
        standin.sysctl_error("vm.stats.sys.v_trap", errno.EIO)
        standin.sysctl_error(KERN_BOOTTIME, errno.EIO)
        standin.sysctl_answer(HW_NCPU, struct.pack("<i", 2))
        standin.sysctl_error("kern.cp_times", errno.EIO)
        standin.sysctl_error("dev.cpu.0.freq", errno.EIO)
        standin.sysctl_error("dev.cpu.1.freq", errno.ENOENT)
        standin.sysctl_answer("dev.cpu.2.freq", struct.pack("<i", 1))
        standin.sysctl_error("dev.cpu.2.freq_levels", errno.ENOENT)
        standin.sysctl_error("kern.sched.topology_spec", errno.ENOENT)
        assert_flat(q.cpu_times, expect=OSError)
        assert_flat(q.cpu_stats, expect=OSError)
        assert_flat(q.boot_time, expect=OSError)
        assert_flat(q.per_cpu_times, expect=OSError)
        assert_flat(q.cpu_freq, 0, expect=OSError)
        assert_flat(q.cpu_freq, 1, expect=NotImplementedError)
        assert_flat(q.cpu_freq, 2)
        assert_flat(q.cpu_freq, "x", expect=TypeError)
        assert_flat(q.cpu_topology)
        standin.sysctl_error(HW_NCPU, errno.EIO)
        assert_flat(q.cpu_count_logical)
        assert_flat(q.per_cpu_times, expect=OSError)

    def test_odd_counts_and_texts(self):
        standin.sysctl_answer(HW_NCPU, struct.pack("<i", -1))
        assert_flat(q.per_cpu_times, expect=MemoryError)
        standin.sysctl_answer("kern.sched.topology_spec", b"\xff\0")
        assert_flat(q.cpu_topology, expect=UnicodeDecodeError)
