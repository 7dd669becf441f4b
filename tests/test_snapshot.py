"""The snapshot report: the largest processes by default, every one with
--all, the same figures as one JSON document with --json."""

import errno
import json
import os
import socket
import struct
import sys

import pytest

import _quarn_bsd as q
import standin
from records import kinfo_proc, proc_table

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
import snapshot  # noqa: E402

PAGE = os.sysconf("SC_PAGESIZE")


@pytest.fixture
def procs():
    """25 injected processes; process N has N resident pages, so the largest
    are the highest numbers."""
    pids = list(range(101, 126))
    standin.sysctl_answer([1, 14, 8, 0], proc_table(kinfo_proc(ki_pid=p) for p in pids))
    for p in pids:
        standin.sysctl_answer([1, 14, 1, p], kinfo_proc(
            comm=f"p{p}", ki_pid=p, ki_ppid=1, ki_stat=3, ki_rssize=p, ki_numthreads=2))
    return pids


def report(capsys, *argv):
    assert snapshot.main(list(argv)) == 0
    return capsys.readouterr().out


def process_rows(out):
    """The words of each row of the process table."""
    lines = out.splitlines()
    start = next(i for i, line in enumerate(lines) if line.split()[:1] == ["PID"]) + 1
    rows = []
    for line in lines[start:]:
        if not line or line.startswith("... "):
            break
        rows.append(line.split())
    return rows


@pytest.mark.parametrize("argv,shown,more", [((), 20, 5), (("--all",), 25, 0)])
def test_process_listing(procs, capsys, argv, shown, more):
    out = report(capsys, *argv)
    rows = process_rows(out)
    assert [int(r[0]) for r in rows] == sorted(procs, reverse=True)[:shown]
    assert rows[0][5] == snapshot.human(125 * PAGE)
    assert all(r[4] == "2" for r in rows)
    tail = [line for line in out.splitlines() if line.startswith("... and ")]
    assert tail == ([f"... and {more} more, smaller (--all lists every process)"] if more else [])

    doc = json.loads(report(capsys, "--json", *argv))
    listed = doc["processes"]["list"]
    assert [p["pid"] for p in listed] == [int(r[0]) for r in rows]
    assert listed[0]["rss"] == 125 * PAGE and listed[0]["name"] == "p125"
    assert (doc["processes"]["count"], doc["processes"]["more"]) == (25, more)


def test_json_holds_every_section(capsys):
    doc = json.loads(report(capsys, "--json"))
    assert set(doc) == {"host", "time"} | {fn.__name__ for fn in snapshot.SECTIONS}
    assert doc["cpu"]["logical"] == os.cpu_count()
    assert len(doc["cpu"]["busy"]) == os.cpu_count()
    assert doc["memory"]["physical"]["total"] > 0


@pytest.mark.parametrize("calls,text,value", [
    (0, "system calls not counted by this host", None),
    (7, "7 system calls", 7),
])
def test_system_calls_the_host_does_not_count(capsys, calls, text, value):
    standin.sysctl_answer("vm.stats.sys.v_syscall", struct.pack("<I", calls))
    events = [line for line in report(capsys).splitlines() if line.startswith("events")]
    assert len(events) == 1 and f", {text}, " in events[0]
    assert json.loads(report(capsys, "--json"))["cpu"]["events"]["system_calls"] == value


def test_a_refused_figure_spoils_only_its_section(capsys):
    standin.sysctl_error("hw.physmem", errno.EACCES)
    out = report(capsys)
    assert "\nMemory\n------\nunavailable: " in out
    assert "\nThe module\n" in out and "\nCPU\n" in out
    assert "error" in json.loads(report(capsys, "--json"))["memory"]


def test_this_process_and_its_parent(capsys):
    import resource
    me = json.loads(report(capsys, "--json"))["this_process"]["self"]
    with open("/proc/self/environ", "rb") as f:
        env = dict(e.split(b"=", 1) for e in f.read().split(b"\0") if b"=" in e)
    with open("/proc/self/cmdline", "rb") as f:
        argv = [os.fsdecode(a) for a in f.read().split(b"\0")[:-1]]
    limits = [None if v == resource.RLIM_INFINITY else v
              for v in resource.getrlimit(resource.RLIMIT_NOFILE)]
    assert (me["pid"], me["executable"], me["command_line"], me["cwd"]) == (
        os.getpid(), os.readlink("/proc/self/exe"), argv, os.getcwd())
    assert me["environment"]["count"] == len(env)
    assert me["environment"]["names"] == sorted(os.fsdecode(n) for n in env)[:5]
    assert (me["cpus"], me["nice"], me["limits"]["open_files"]) == (
        sorted(os.sched_getaffinity(0)), os.getpriority(os.PRIO_PROCESS, 0), limits)


def test_a_refused_process_figure_is_named_not_fatal(capsys):
    standin.push("getpriority", str(os.getpid()), standin.error(errno.EPERM))
    lines = report(capsys).splitlines()
    at = lines.index(f"this process ({os.getpid()})")
    assert lines[at + 6] == f"  nice               not available ({os.strerror(errno.EPERM)})"
    assert json.loads(report(capsys, "--json"))["this_process"]["self"]["nice"] == {
        "error": os.strerror(errno.EPERM)}


def test_connections_show_a_listener_and_its_owner(capsys):
    with socket.socket() as lsn:
        lsn.bind(("127.0.0.1", 0))
        lsn.listen()
        port, fd = lsn.getsockname()[1], lsn.fileno()
        doc = json.loads(report(capsys, "--json"))["connections"]
        text = report(capsys)
    mine = [s for s in doc["listening"] if s["port"] == port]
    assert mine == [{"host": "127.0.0.1", "port": port, "family": 2, "pid": os.getpid(),
                     "fd": fd, "name": q.proc_name(os.getpid())}]
    assert f"  127.0.0.1:{port} " in text
