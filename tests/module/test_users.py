"""Logged-in users: injected login records and a login-record file written
through the host's own utmpx calls, compared with who."""

import ctypes
import errno
import os
import shutil
import subprocess

import pytest

import _quarn_bsd as q
import standin
from leakcheck import assert_flat
from records import utmpx

BOOT_TIME, LOGIN_PROCESS, DEAD_PROCESS = 1, 6, 7


def logins(*records):
    standin.push("utmpx", "", standin.answer(b"".join(records)))


class TestInjected:
    @pytest.mark.parametrize("host, shown", [
        ("", "localhost"), (":0", "localhost"), (":0.0", "localhost"),
        (":0.1", ":0.1"), (":1", ":1"), ("example.net", "example.net"),
        ("h" * 128, "h" * 128),
    ])
    def test_host_text(self, host, shown):
        logins(utmpx("alice", "pts/0", host, sec=1700000000, pid=42))
        assert q.users() == [("alice", "pts/0", shown, 1700000000.0, 42)]

    def test_only_user_processes_in_order(self):
        logins(utmpx("reboot", "~", type=BOOT_TIME), utmpx("a", "pts/1"),
               utmpx("LOGIN", "tty1", type=LOGIN_PROCESS), utmpx("b", "pts/2"),
               utmpx("gone", "pts/3", type=DEAD_PROCESS))
        assert [u[0] for u in q.users()] == ["a", "b"]

    def test_login_time_in_whole_seconds(self):
        logins(utmpx("a", "pts/1", sec=1700000000, usec=999999))
        assert q.users()[0][3] == 1700000000.0

    def test_full_width_names_are_taken_whole(self):
        logins(utmpx("u" * 32, "l" * 16, "h" * 128))
        assert q.users() == [("u" * 32, "l" * 16, "h" * 128, 0.0, 0)]

    @pytest.mark.parametrize("step", [standin.answer(b""), standin.answer(b"\1" * 100),
                                      standin.error(errno.EIO)])
    def test_empty_or_unreadable_database_gives_no_users(self, step):
        standin.push("utmpx", "", step)
        assert q.users() == []

    def test_records_are_opened_and_closed_once(self):
        logins(utmpx("a", "pts/1"), utmpx("b", "pts/2"))
        q.users()
        calls = [c.call for c in standin.log() if c.call.endswith("utxent")]
        assert calls == ["setutxent"] + ["getutxent"] * 3 + ["endutxent"]


# ---- live: a login-record file of the test's own ----

class HostUtmpx(ctypes.Structure):
    """The host C library's utmpx record (x86_64)."""
    _fields_ = [("ut_type", ctypes.c_short), ("ut_pid", ctypes.c_int),
                ("ut_line", ctypes.c_char * 32), ("ut_id", ctypes.c_char * 4),
                ("ut_user", ctypes.c_char * 32), ("ut_host", ctypes.c_char * 256),
                ("ut_exit", ctypes.c_short * 2), ("ut_session", ctypes.c_int32),
                ("tv_sec", ctypes.c_int32), ("tv_usec", ctypes.c_int32),
                ("ut_addr_v6", ctypes.c_int32 * 4), ("reserved", ctypes.c_char * 20)]


HOST_USER_PROCESS, HOST_LOGIN_PROCESS, HOST_BOOT_TIME = 7, 6, 2


@pytest.fixture
def login_file(tmp_path):
    """Writes records through the host's utmpxname and pututxline into a
    file of the test's own and points the stand-in at it."""
    assert ctypes.sizeof(HostUtmpx) == 384
    libc = ctypes.CDLL(None)
    libc.pututxline.restype = ctypes.c_void_p
    path = tmp_path / "utmp"
    path.write_bytes(b"")

    def write(records):
        assert libc.utmpxname(str(path).encode()) == 0
        libc.setutxent()
        for i, (type_, user, line, host, sec) in enumerate(records):
            rec = HostUtmpx(ut_type=type_, ut_pid=1000 + i, ut_line=line.encode(),
                            ut_id=str(i).encode(), ut_user=user.encode(), ut_host=host.encode(),
                            tv_sec=sec, tv_usec=500000)
            assert libc.pututxline(ctypes.byref(rec)), "pututxline failed"
        libc.endutxent()
        libc.utmpxname(b"/var/run/utmp")
        standin.utmpx_file(path)
        return path

    try:
        yield write
    finally:
        standin.utmpx_file(None)


def who(path):
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    out = subprocess.run(["who", str(path)], capture_output=True, text=True, check=True,
                         env=env).stdout
    users = []
    for line in out.splitlines():
        w = line.split()
        host = w[-1][1:-1] if w[-1].startswith("(") else ""
        users.append((w[0], w[1], host))
    return users


def test_live_file_agrees_with_who(login_file):
    if not shutil.which("who"):
        pytest.skip("no who")
    path = login_file([
        (HOST_BOOT_TIME, "reboot", "~", "", 1700000000),
        (HOST_USER_PROCESS, "alice", "pts/1", "example.net", 1700000100),
        (HOST_USER_PROCESS, "bob", "tty7", ":0", 1700000200),
        (HOST_LOGIN_PROCESS, "LOGIN", "tty1", "", 1700000300),
        (HOST_USER_PROCESS, "carol", "pts/2", "", 1700000400),
    ])
    got = q.users()
    local = ("", ":0", ":0.0")
    assert [(u, l, "localhost" if h in local else h) for u, l, h in who(path)] == \
        [u[:3] for u in got]
    assert [(u[3], u[4]) for u in got] == [(1700000100.0, 1001), (1700000200.0, 1002),
                                          (1700000400.0, 1004)]


def test_live_missing_file_gives_no_users(tmp_path):
    standin.utmpx_file(tmp_path / "none")
    try:
        assert q.users() == []
    finally:
        standin.utmpx_file(None)


# ---- leaks ----

# Names decode with surrogate escapes, so only an allocation can fail; the
# unreadable database is the failure path the platform can give.
@pytest.mark.parametrize("step", [
    standin.answer(utmpx("a", "pts/1", ":0") + utmpx("b", "pts/2", "h")),
    standin.answer(utmpx(b"\xff", "pts/1")),
    standin.error(errno.EIO),
])
def test_no_leaks(step):
    standin.push("utmpx", "", step)
    assert_flat(q.users, calls=2000)
