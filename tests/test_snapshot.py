"""The snapshot: the one-screen report, the process table, --pid, --json
against its schema, and the exit status."""

import errno
import io
import json
import os
import socket
import struct
import sys

import pytest

import _quarn_bsd as q
import schema_check
import standin
from records import kinfo_proc, proc_table

TOP = os.path.join(os.path.dirname(__file__), "..")
sys.path.insert(0, os.path.join(TOP, "tools"))
from view import cli, system, text  # noqa: E402

PAGE = os.sysconf("SC_PAGESIZE")
SCHEMA = json.load(open(os.path.join(TOP, "docs", "snapshot.schema.json")))
SECTIONS = ["CPU ", "Memory ", "Disks", "Network", "Connections ", "Users", "Processes "]
# What no reader should meet: the module's internal error text and jargon.
JARGON = ["originated from", "force ", "traps", "vnode", "[phys]", "kvm_", "sysctl"]


def few_processes():
    """The process list is this process and its parent (their figures
    live): a scan of a busy host's thousands would cost a test minutes."""
    standin.sysctl_answer([1, 14, 8, 0], proc_table(
        kinfo_proc(ki_pid=p) for p in (os.getppid(), os.getpid())))


@pytest.fixture(autouse=True)
def small_host():
    """Few processes, and no open files to join sockets with (the one test
    of listeners reads the host's)."""
    few_processes()
    standin.sysctl_answer("kern.file", b"")


def run(*argv):
    """(exit status, output) of one run with a short sample."""
    out = io.StringIO()
    status = cli.main(["--interval", "0.05", *argv], out=out)
    return status, out.getvalue()


def doc_of(*argv):
    status, out = run("--json", *argv)
    doc = json.loads(out)
    assert schema_check.faults(doc, SCHEMA) == []
    return status, doc


# Five processes of users 0 and 1: (pid, uid, resident pages, CPU seconds in
# the first sample, CPU seconds in the second).
PROCS = [(101, 0, 50, 10, 10.3), (102, 1, 10, 90, 90.1), (103, 0, 30, 5, 5.0),
         (104, 1, 40, 0, 0.4), (105, 0, 20, 50, 50.2)]


@pytest.fixture
def procs():
    """Primes the two samples; call again before each run."""
    def prime():
        standin.reset()
        inject()
    prime()
    return prime


def inject():
    standin.sysctl_answer([1, 14, 8, 0], proc_table(kinfo_proc(ki_pid=p[0]) for p in PROCS))
    for pid, uid, pages, before, after in PROCS:
        standin.sysctl_sequence([1, 14, 1, pid], [standin.answer(kinfo_proc(
            comm=f"p{pid}", ki_pid=pid, ki_ppid=1, ki_stat=3, ki_uid=uid, ki_rssize=pages,
            ki_size=pages * 2 * PAGE, ru_utime_sec=int(t), ru_utime_usec=round(t % 1 * 1e6)))
            for t in (before, after)])


def table(out):
    lines = out.splitlines()
    at = next(i for i, line in enumerate(lines) if line.split()[:2] == ["PID", "USER"])
    return [line.split() for line in lines[at + 1:] if line.split()[0].isdigit()]


@pytest.mark.parametrize("argv,pids", [
    ((), [104, 101, 105, 102, 103]),                   # %CPU over the sample
    (("--sort", "mem"), [101, 104, 103, 105, 102]),
    (("--sort", "pid"), [101, 102, 103, 104, 105]),
    (("--sort", "time"), [102, 105, 101, 103, 104]),
    (("--user", "root", "--sort", "mem"), [101, 103, 105]),
    (("--top", "2", "--sort", "pid"), [101, 102]),
])
def test_process_table(procs, argv, pids):
    status, out = run(*argv)
    rows = table(out)
    assert [int(r[0]) for r in rows] == pids
    by_pid = {int(r[0]): r for r in rows}
    if 101 in by_pid:
        assert by_pid[101][1:3] == ["root", "S"]
        assert by_pid[101][5:7] == [f"{50 * PAGE / 1024:.0f}KiB", f"{100 * PAGE / 1024:.0f}KiB"]
        assert by_pid[101][7] == "0:10.30" and by_pid[101][8] == "[p101]"
    procs()
    doc = doc_of(*argv)[1]
    assert [p["pid"] for p in doc["processes"]["list"]] == pids
    assert doc["processes"]["count"] == 5
    for p in doc["processes"]["list"]:
        assert p["memory_percent"] == round(100 * p["rss_bytes"] / doc["memory"]["total_bytes"], 1)


@pytest.mark.parametrize("argv,width", [((), 80), (("--all",), 80), (("--width", "132"), 132),
                                        (("--all", "--width", "40"), 40)])
def test_report_fits_its_width_in_reading_order(argv, width):
    status, out = run(*argv)
    lines = out.splitlines()
    assert status == 0 and max(map(len, lines)) <= width
    assert lines[0].startswith(os.uname().nodename + "  ")
    starts = [next(i for i, line in enumerate(lines) if line.startswith(s)) for s in SECTIONS]
    assert starts == sorted(starts)
    # Other processes' command lines may say anything.
    ours = "\n".join(lines[:starts[-1]])
    assert not [j for j in JARGON if j in ours]
    assert ("Module" in lines) == ("--all" in argv)


@pytest.mark.parametrize("argv", [(), ("--all",), ("--pid", "1"), ("--user", "root", "--top", "0")])
def test_json_holds_every_key_with_its_type(argv):
    """The document validates whatever is asked; a refused figure is null
    with its reason listed, and the status says so."""
    status, doc = doc_of(*argv)
    assert status == (2 if doc["errors"] else 0)
    for e in doc["errors"]:
        assert not [j for j in JARGON if j in e["reason"]]


# A refused figure: the injection, the error entry, the report's line; the
# rest of the snapshot is still there and the exit status says 2.
@pytest.mark.parametrize("name,err,entry,key", [
    ("hw.physmem", errno.EACCES, ("memory", "physical memory", "permission denied"),
     ("memory", "total_bytes")),
    ("kern.cp_time", errno.EIO, ("cpu", "CPU times", "input/output error"),
     ("cpu", "times_seconds")),
    ([1, 21], errno.EPERM, ("host", "boot time", "permission denied"),
     ("host", "uptime_seconds")),
])
def test_refused_figure_is_unknown_and_named(name, err, entry, key):
    standin.sysctl_error(name, err)
    status, doc = doc_of()
    assert status == 2 and dict(zip(("section", "what", "reason"), entry)) in doc["errors"]
    assert doc[key[0]][key[1]] is None
    status, out = run()
    assert status == 2 and f"  {': '.join(entry)}" in out.splitlines()
    ours = out[:out.index("\nProcesses ")] + out[out.index("\nNot read:"):]
    assert all(s in out for s in SECTIONS) and not [j for j in JARGON if j in ours]


@pytest.mark.parametrize("argv,message", [
    (("--sort", "size"), "invalid choice"), (("--top", "-1"), "--top must be"),
    (("--width", "20"), "--width 40 or more"),
    (("--user", "no-such-user-here"), "no user named"), (("--json", "--watch", "1"), "one of"),
    (("--interval", "0"), "positive"), (("--frobnicate",), "unrecognized"),
])
def test_usage_errors_exit_1(argv, message, capsys):
    assert run(*argv)[0] == 1
    assert message in capsys.readouterr().err


@pytest.mark.parametrize("calls,text,value", [(0, "no count of system calls", None),
                                              (7, "7 system calls", 7)])
def test_a_figure_the_host_cannot_count_is_unknown(calls, text, value):
    standin.sysctl_answer("vm.stats.sys.v_syscall", struct.pack("<I", calls))
    assert text in run("--all")[1]
    assert doc_of()[1]["cpu"]["system_calls"] == value


def cpu0(out):
    return next(line for line in out.splitlines() if line.startswith("  cpu0 "))


@pytest.mark.parametrize("present", [True, False])
def test_sensors_where_known(present):
    for name, value in zip(("hw.acpi.battery.life", "hw.acpi.battery.time", "hw.acpi.acline"),
                           (40, 95, 0)):
        if present:
            standin.sysctl_answer(name, struct.pack("<i", value))
        else:
            standin.sysctl_error(name, errno.ENOENT)
    for cpu in range(os.cpu_count()):
        if present:
            standin.sysctl_answer(f"dev.cpu.{cpu}.temperature", struct.pack("<i", 3231))
            standin.sysctl_answer(f"dev.cpu.{cpu}.coretemp.tjmax", struct.pack("<i", 3731))
            standin.sysctl_answer(f"dev.cpu.{cpu}.freq", struct.pack("<i", 2400))
        else:
            standin.sysctl_error(f"dev.cpu.{cpu}.temperature", errno.ENOENT)
    status, out = run()
    doc = doc_of()[1]
    assert status == 0  # an absent sensor is no unread figure
    if present:
        assert "battery 40%, 1h 35m left, on battery" in out
        assert "  2400 MHz  50 C (max 100 C)" in cpu0(out)
        assert doc["cpu"]["per_cpu"][0]["temperature_celsius"] == 50
        assert doc["host"]["battery"] == {"percent": 40, "minutes_left": 95,
                                          "power_plugged": False}
    else:
        assert "battery" not in out and " C" not in cpu0(out)
        assert doc["host"]["battery"] is None
        assert doc["cpu"]["per_cpu"][0]["temperature_celsius"] is None


def test_listener_with_its_owner():
    standin.reset()
    few_processes()
    with socket.socket() as lsn:
        lsn.bind(("127.0.0.1", 0))
        lsn.listen()
        port, fd = lsn.getsockname()[1], lsn.fileno()
        doc = doc_of()[1]["connections"]
        out = run()[1]
    mine = [s for s in doc["listening"] if s["port"] == port]
    assert mine == [{"protocol": "tcp", "address": f"127.0.0.1:{port}", "port": port,
                     "pid": os.getpid(), "fd": fd, "command": q.proc_name(os.getpid())}]
    assert f"  tcp   127.0.0.1:{port}" in out


@pytest.mark.parametrize("command,shown", [
    ("/usr/lib/gcc/cc1plus -quiet a.cpp", "cc1plus -quiet a.cpp"), ("[kthreadd]", "[kthreadd]"),
    ("python3 /usr/bin/meson", "python3 /usr/bin/meson"), ("/bin/", "/bin/"),
])
def test_a_command_line_names_its_program_not_its_path(command, shown):
    assert text.short_command(command) == shown


@pytest.mark.parametrize("levels,shown", [("2400/-1 1200/-1", "2400 MHz, 1200 MHz"),
                                           ("3000/35000", "3000 MHz (35000 mW)")])
def test_frequency_steps_leave_out_an_unknown_power(levels, shown):
    assert text.steps(levels) == shown


@pytest.mark.parametrize("device,io,disk", [
    ("/dev/ada0p2", {"ada0"}, "ada0"), ("/dev/da1s1a", {"da1"}, "da1"),
    ("/dev/vd0", {"vd0"}, "vd0"), ("/dev/nvd0p3", {"nvd0"}, "nvd0"),
    ("zroot/ROOT/default", {"ada0"}, None), ("/dev/md9", {"ada0"}, None),
])
def test_a_mount_names_its_disk_as_the_io_table_does(device, io, disk):
    assert system.disk_of(device, io) == disk


def test_one_process_in_full(tmp_path):
    me = os.getpid()
    held = tmp_path / "held"
    with open(held, "w") as f:
        fd = f.fileno()
        status, doc = doc_of("--pid", str(me))
    p = doc["process"]
    assert {"fd": fd, "path": str(held)} in p["open_files"]
    assert sorted(t["tid"] for t in p["threads"]) == sorted(
        int(n) for n in os.listdir("/proc/self/task"))
    with open("/proc/self/maps") as f:
        assert abs(len(p["memory_maps"]) - len(f.readlines())) < 10
    assert (p["executable"], p["command_line"], p["cwd"]) == (
        os.readlink("/proc/self/exe"), q.proc_cmdline(me), os.getcwd())
    with open("/proc/self/environ", "rb") as f:
        env = dict(e.split(b"=", 1) for e in f.read().split(b"\0") if b"=" in e)
    assert p["record"]["ppid"] == os.getppid()
    assert p["environment"] == {os.fsdecode(k): os.fsdecode(v) for k, v in env.items()}
    assert p["cpus"] == sorted(os.sched_getaffinity(0)) and p["zombie"] is False
    assert p["limits"]["open_files"]["soft"] == os.sysconf("SC_OPEN_MAX")
    out = run("--pid", str(me))[1]
    assert f"Process {me}  " in out and "  limits" in out
    assert not [j for j in JARGON if j in out.split("  environment")[0]]
    assert run("--pid", "999999999") == (2, "No process 999999999.\n")
    assert doc_of("--pid", "999999999")[1]["process"] is None
