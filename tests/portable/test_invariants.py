"""What holds on any host: this process read back as it knows itself, the
machine's figures consistent with one another, its sockets and interfaces
found where they belong."""

import os
import resource
import socket
import sys
import time

import pytest

import _quarn_bsd as q
from portable import ME, listening, live  # noqa: F401  (a fixture)


def burn(seconds):
    end = time.process_time() + seconds
    while time.process_time() < end:
        pass


@live
def test_caller_is_listed_and_named():
    assert ME in q.pids()
    exe = os.path.realpath(sys.executable)
    assert q.proc_exe(ME) == exe
    name = q.proc_name(ME)
    assert name and os.path.basename(exe).startswith(name)
    assert q.proc_cmdline(ME) == sys.orig_argv


@live
def test_record_is_the_callers():
    info = q.proc_oneshot_info(ME)
    assert info[0] == os.getppid()
    assert info[2:5] == os.getresuid()
    assert (info[5], info[6], info[7]) == (os.getresgid()[0], os.getegid(), os.getresgid()[2])
    assert q.boot_time() <= info[9] <= time.time()
    assert info[24] == q.proc_name(ME)
    assert len(q.proc_threads(ME)) == q.proc_num_threads(ME) >= 1


@live
def test_working_directory_follows_chdir(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    assert q.proc_cwd(ME) == os.path.realpath(tmp_path)


@live
def test_an_opened_file_is_seen_and_counted(tmp_path):
    before = q.proc_num_fds(ME)
    path = tmp_path / "f"
    path.write_text("x")
    fd = os.open(path, os.O_RDONLY)
    try:
        assert (os.path.realpath(path), fd) in q.proc_open_files(ME)
        assert q.proc_num_fds(ME) == before + 1
    finally:
        os.close(fd)
    assert q.proc_num_fds(ME) == before


@live
@pytest.mark.parametrize("name", ["RLIMIT_NOFILE", "RLIMIT_STACK", "RLIMIT_CORE", "RLIMIT_CPU"])
def test_limits_are_the_callers(name):
    def ours(v):
        return q.RLIM_INFINITY if v == resource.RLIM_INFINITY else v
    soft, hard = resource.getrlimit(getattr(resource, name))
    assert q.proc_getrlimit(ME, getattr(q, name)) == (ours(soft), ours(hard))


@live
def test_cpu_times_grow():
    mine, machine = q.proc_oneshot_info(ME), sum(q.cpu_times())
    burn(0.3)
    after = q.proc_oneshot_info(ME)
    assert after[14] + after[15] >= mine[14] + mine[15] + 0.1
    assert sum(q.cpu_times()) > machine
    assert len(q.per_cpu_times()) == q.cpu_count_logical()


def test_memory_figures_are_consistent():
    total, free, active, inactive, wired = q.virtual_mem()[:5]
    assert total >= free and total >= active and total >= inactive and total >= wired
    assert total > 0
    swap_total, used, swap_free = q.swap_mem()[:3]
    assert swap_total == used + swap_free


def _entry(sock, family, kind, local):
    status = q.TCPS_LISTEN if (family, kind) == (2, 1) else q.QUARN_CONN_NONE
    remote = "" if family == 1 else ()
    return (sock.fileno(), family, kind, local, remote, status)


@live
def test_held_sockets_are_in_both_tables_with_their_owner(listening):
    mine = q.proc_net_connections(ME, [1, 2, 28], [1, 2])
    system = q.net_connections([1, 2, 28], [1, 2])
    for sock, family, kind, local in listening:
        expected = _entry(sock, family, kind, local)
        assert expected in mine
        assert expected + (ME,) in system


@live
@pytest.mark.parametrize("families,kinds,held", [([2], [1], 0), ([2], [2], 1), ([1], [1], 2)])
def test_filters_keep_only_what_is_asked_for(listening, families, kinds, held):
    mine = q.proc_net_connections(ME, families, kinds)
    assert {(c[1], c[2]) for c in mine} <= {(families[0], kinds[0])}
    assert _entry(*listening[held]) in mine


@live
def test_host_interfaces_are_in_both_interface_functions():
    names = {n for _, n in socket.if_nameindex()}
    assert names
    assert names <= set(q.net_io_counters())
    assert names <= {a[0] for a in q.net_if_addrs()}
    lo = next(n for n in names if "loopback" in q.net_if_flags(n))
    assert ("127.0.0.1" in {a[2] for a in q.net_if_addrs() if a[0] == lo})
    assert q.net_if_mtu(lo) > 0 and "up" in q.net_if_flags(lo)
