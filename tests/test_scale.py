"""The stand-in at scale: the process list under process churn, and CPU
lists far longer than any host writes."""

import os
import subprocess
import sys

import pytest

import _quarn_bsd as q

CHURN = """
import os, sys, time
print("ready", flush=True)
while True:
    pid = os.fork()
    if pid == 0:
        os._exit(0)
    os.waitpid(pid, 0)
    time.sleep(0.002)
"""


def test_pids_never_fail_while_processes_come_and_go():
    child = subprocess.Popen([sys.executable, "-c", CHURN], stdout=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "ready\n"
        for _ in range(200):
            pids = q.pids()
            assert os.getpid() in pids and child.pid in pids
            assert len(pids) == len(set(pids))
    finally:
        child.kill()
        child.wait(10)


@pytest.mark.parametrize("online, count", [
    ("0-1023," * (1 << 17), 1024),     # 1 MiB of whole ranges
    ("7," * (1 << 19), 1),             # 1 MiB of one repeated CPU
    ("5000-9000,3-2,x,0-1\n", 2),      # out of range, reversed and foreign items
])
def test_long_online_lists_are_cheap_and_bounded(host_tree, online, count):  # noqa: F811
    host_tree("/sys/devices/system/cpu/online", online[:1 << 20])
    assert q.cpu_count_logical() == count


def test_a_long_sibling_list_leaves_one_core_of_all_cpus(host_tree):  # noqa: F811
    host_tree("/sys/devices/system/cpu/online", "0-3\n")
    host_tree("/proc/stat", "cpu  0 0 0 0\n")
    for c in range(4):
        base = f"/sys/devices/system/cpu/cpu{c}/topology"
        host_tree(f"{base}/physical_package_id", "0\n")
        host_tree(f"{base}/thread_siblings_list", ("0-1023," * 8000)[:1 << 16])
    text = q.cpu_topology()
    assert '<cpu count="4" mask="f,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0">0, 1, 2, 3</cpu>' in text
    assert "<children>" not in text


def test_an_online_list_past_the_read_limit_is_not_taken_cut(host_tree):  # noqa: F811
    # Cut at 1 MiB the list would name CPU 0 alone; whole, it is unreadable
    # and the CPUs of /proc/stat stand.
    host_tree("/sys/devices/system/cpu/online", "0," * (1 << 19) + "1-3\n")
    host_tree("/proc/stat", "cpu  0 0 0 0\ncpu0 1 0 0 0\ncpu1 1 0 0 0\ncpu2 1 0 0 0\n")
    assert q.cpu_count_logical() == 3
