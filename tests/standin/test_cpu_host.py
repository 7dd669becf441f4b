"""CPU answers of the stand-in from a made-up /proc and /sys: hardware this
host lacks."""

import os
import xml.etree.ElementTree as ET

import pytest

import _quarn_bsd as q

TICK = 1.0 / 128


def host_hz():
    return os.sysconf("SC_CLK_TCK")


def stat_text(cpus):
    """A /proc/stat whose CPU lines give each listed host CPU its number as
    user ticks."""
    lines = ["cpu  %d 0 0 0 0 0 0 0 0 0" % sum(cpus)]
    lines += ["cpu%d %d 0 0 0 0 0 0 0 0 0" % (c, c) for c in cpus]
    lines += ["intr 5 0 0", "ctxt 7", "btime 1234567", "softirq 9 0 0"]
    return "\n".join(lines) + "\n"


class TestMadeUpHost:
    """Live answers from a made-up /proc and /sys: hardware this host lacks."""

    def smt_host(self, write, cpus=(0, 1, 2, 3)):
        # Two cores of two threads each, one shared L3, per-core L1 and L2.
        write("/sys/devices/system/cpu/online", ",".join(map(str, cpus)) + "\n")
        write("/proc/stat", stat_text(cpus))
        for c in cpus:
            core = [x for x in cpus if x // 2 == c // 2]
            base = f"/sys/devices/system/cpu/cpu{c}"
            write(f"{base}/topology/physical_package_id", "0\n")
            write(f"{base}/topology/thread_siblings_list", ",".join(map(str, core)) + "\n")
            for idx, (level, kind, shared) in enumerate([
                    (1, "Data", core), (1, "Instruction", core), (2, "Unified", core),
                    (3, "Unified", list(cpus))]):
                d = f"{base}/cache/index{idx}"
                write(f"{d}/level", f"{level}\n")
                write(f"{d}/type", f"{kind}\n")
                write(f"{d}/shared_cpu_list", ",".join(map(str, shared)) + "\n")

    def test_smt_topology_is_the_schedulers_text(self, host_tree):
        self.smt_host(host_tree)
        zeros = ",0" * 15
        assert q.cpu_topology() == (
            "<groups>\n"
            " <group level=\"1\" cache-level=\"3\">\n"
            f"  <cpu count=\"4\" mask=\"f{zeros}\">0, 1, 2, 3</cpu>\n"
            "  <children>\n"
            "   <group level=\"2\" cache-level=\"2\">\n"
            f"    <cpu count=\"2\" mask=\"3{zeros}\">0, 1</cpu>\n"
            "    <flags><flag name=\"THREAD\">THREAD group</flag>"
            "<flag name=\"SMT\">SMT group</flag></flags>\n"
            "   </group>\n"
            "   <group level=\"2\" cache-level=\"2\">\n"
            f"    <cpu count=\"2\" mask=\"c{zeros}\">2, 3</cpu>\n"
            "    <flags><flag name=\"THREAD\">THREAD group</flag>"
            "<flag name=\"SMT\">SMT group</flag></flags>\n"
            "   </group>\n"
            "  </children>\n"
            " </group>\n"
            "</groups>\n")

    def test_two_packages_without_cache_data(self, host_tree):
        cpus = range(4)
        host_tree("/sys/devices/system/cpu/online", "0-3\n")
        host_tree("/proc/stat", stat_text(cpus))
        for c in cpus:
            base = f"/sys/devices/system/cpu/cpu{c}/topology"
            host_tree(f"{base}/physical_package_id", f"{c // 2}\n")
            host_tree(f"{base}/thread_siblings_list", f"{c}\n")
        root = ET.fromstring(q.cpu_topology()).find("group")
        assert root.get("cache-level") == "0"
        packages = root.findall("children/group")
        assert [g.find("cpu").text for g in packages] == ["0, 1", "2, 3"]
        cores = [g.find("cpu").text for g in root.findall("children/group/children/group")]
        assert cores == ["0", "1", "2", "3"]
        assert root.find("flags") is None

    def test_cpus_past_a_hole_are_numbered_without_gaps(self, host_tree):
        # Host CPU 1 offline: FreeBSD's CPUs 0, 1, 2 are the host's 0, 2, 3.
        self.smt_host(host_tree, cpus=(0, 2, 3))
        assert q.cpu_count_logical() == 3
        hz = host_hz()
        # stat_text gives each host CPU its own number as user ticks.
        assert [t[0] for t in q.per_cpu_times()] == [(h * 128 // hz) * TICK for h in (0, 2, 3)]
        root = ET.fromstring(q.cpu_topology()).find("group")
        assert root.find("cpu").get("count") == "3"
        assert [g.find("cpu").text for g in root.findall("children/group")] == ["0", "1, 2"]

    def test_boot_time_and_counters_from_proc_stat(self, host_tree):
        host_tree("/proc/stat", stat_text([0]))
        host_tree("/proc/vmstat", "pgfault 4294967301\n")
        assert q.boot_time() == 1234567.0
        # The page-fault count wraps to 32 bits as the kernel's view does.
        assert q.cpu_stats() == (7, 5, 9, 0, 5)

    def test_ticks_are_rescaled_to_128_a_second(self, host_tree):
        hz = host_hz()
        host_tree("/proc/stat", "cpu  %d %d %d %d %d %d %d %d 0 0\n" % (
            3 * hz, hz, 2 * hz, 10 * hz, hz // 2, hz, hz, hz))
        # system + steal, idle + iowait, irq + softirq
        assert q.cpu_times() == (3.0, 1.0, 3.0, 10.5, 2.0)

    def test_cpufreq_frequency_and_levels(self, host_tree):
        self.smt_host(host_tree)
        d = "/sys/devices/system/cpu/cpu2/cpufreq"
        host_tree(f"{d}/scaling_cur_freq", "2401000\n")
        host_tree(f"{d}/scaling_available_frequencies", "1200000 2400000 1800000 \n")
        assert q.cpu_freq(2) == (2401, "2400/-1 1800/-1 1200/-1")
        with pytest.raises(NotImplementedError):
            q.cpu_freq(1)

    def test_cpufreq_range_only(self, host_tree):
        self.smt_host(host_tree)
        d = "/sys/devices/system/cpu/cpu0/cpufreq"
        host_tree(f"{d}/scaling_cur_freq", "999999\n")
        host_tree(f"{d}/cpuinfo_max_freq", "3500000\n")
        host_tree(f"{d}/cpuinfo_min_freq", "800000\n")
        assert q.cpu_freq(0) == (999, "3500/-1 800/-1")

    def test_cpufreq_without_levels(self, host_tree):
        self.smt_host(host_tree)
        host_tree("/sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq", "1000000\n")
        assert q.cpu_freq(0) == (1000, "")
