"""The module against FreeBSD's own tools; skipped elsewhere."""

import re

import _quarn_bsd as q
from portable import ME, listening, tool  # noqa: F401  (a fixture)


def test_ps_agrees_on_parent_and_name():
    ppid, comm = tool("ps", "-o", "ppid=,comm=", "-p", str(ME)).split(None, 1)
    info = q.proc_oneshot_info(ME)
    assert (info[0], info[24]) == (int(ppid), comm.strip())


def test_procstat_agrees_on_arguments():
    line = tool("procstat", "-h", "-c", str(ME)).split(None, 2)[2]
    assert line.split() == " ".join(q.proc_cmdline(ME)).split()


def test_sockstat_lists_the_listening_socket(listening):
    port = listening[0][3][1]
    out = tool("sockstat", "-4", "-l", "-P", "tcp", "-p", str(port))
    assert re.search(rf"\s{ME}\s.*127\.0\.0\.1:{port}\b", out)


def test_ifconfig_lists_the_same_interfaces():
    assert set(tool("ifconfig", "-l").split()) == set(q.net_io_counters())


def test_sysctl_agrees_on_cpus_memory_and_boot():
    assert int(tool("sysctl", "-n", "hw.ncpu")) == q.cpu_count_logical()
    assert int(tool("sysctl", "-n", "hw.physmem")) == q.virtual_mem()[0]
    sec = re.search(r"sec = (\d+)", tool("sysctl", "-n", "kern.boottime")).group(1)
    assert int(sec) == q.boot_time()


def test_df_mount_points_are_partitions():
    lines = tool("df", "-P").splitlines()[1:]
    assert {ln.split()[-1] for ln in lines} <= {p[1] for p in q.disk_partitions()}
