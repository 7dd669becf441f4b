"""A process's executable, arguments, environment and working directory:
live against /proc for a made-up child, and injected."""

import errno
import os
import struct

import pytest

import _quarn_bsd as q
import standin
from leakcheck import assert_flat
from records import KINFO_FILE_SIZE, kinfo_proc

MISSING_PID = 2 ** 22 + 12345  # above Linux's pid_max ceiling
P_INMEM, P_SYSTEM = 0x10000000, 0x00000200
KF_FD_OFF, KF_PATH_OFF = 8, 368


def pathname_key(pid):
    return [1, 14, 12, pid]


def args_key(pid):
    return [1, 14, 7, pid]


def kinfo_file(fd, path=b""):
    buf = bytearray(KINFO_FILE_SIZE)
    struct.pack_into("<ii", buf, 0, KINFO_FILE_SIZE, 1)
    struct.pack_into("<i", buf, KF_FD_OFF, fd)
    buf[KF_PATH_OFF:KF_PATH_OFF + len(path)] = path
    return bytes(buf)


def proc_link(pid, name):
    return os.readlink(f"/proc/{pid}/{name}")


def proc_strings(pid, name):
    with open(f"/proc/{pid}/{name}", "rb") as f:
        return f.read().split(b"\0")[:-1]


class TestLive:
    def test_exe_is_the_copy(self, child):
        assert q.proc_exe(child.pid) == proc_link(child.pid, "exe") == os.fsdecode(child.exe)

    def test_cmdline_keeps_empty_and_undecodable_arguments(self, child):
        got = q.proc_cmdline(child.pid)
        assert got == [os.fsdecode(a) for a in proc_strings(child.pid, "cmdline")]
        assert got == [os.fsdecode(a) for a in child.argv]
        assert got[-4:] == ["a", "", "b", os.fsdecode(b"\xfe\xff")]

    def test_environ_keeps_the_later_duplicate_and_skips_entries_without_equals(self, child):
        assert proc_strings(child.pid, "environ") == [b"A=1", b"NOEQUALS", b"B=x=y", b"A=2"]
        assert q.proc_environ(child.pid) == {"A": "2", "B": "x=y"}

    def test_cwd_is_the_known_directory(self, child):
        assert q.proc_cwd(child.pid) == proc_link(child.pid, "cwd") == os.fsdecode(child.cwd)

    @pytest.mark.parametrize("fn", [q.proc_exe, q.proc_cmdline, q.proc_environ, q.proc_cwd])
    def test_missing_pid_is_a_lookup_error(self, fn):
        with pytest.raises(ProcessLookupError):
            fn(MISSING_PID)

    def test_environ_parses_a_long(self):
        with pytest.raises(OverflowError):
            q.proc_environ(2 ** 63)
        with pytest.raises(TypeError):
            q.proc_exe("1")

    @pytest.mark.parametrize("pid, message", [
        (2 ** 32 + os.getpid(), "signed integer is greater than maximum"),  # would wrap to us
        (2 ** 31, "signed integer is greater than maximum"),
        (-2 ** 31 - 1, "signed integer is less than minimum"),
        (2 ** 63, "Python int too large to convert to C long"),
    ])
    def test_environ_id_outside_int_is_refused_before_the_kernel(self, pid, message):
        standin.clear_log()
        with pytest.raises(OverflowError) as e:
            q.proc_environ(pid)
        assert str(e.value) == message
        assert standin.log() == []

    @pytest.mark.parametrize("pid", [2 ** 31 - 1, -2 ** 31])
    def test_environ_ids_at_the_int_bounds_are_asked_for(self, pid):
        with pytest.raises(ProcessLookupError) as e:
            q.proc_environ(pid)
        assert str(e.value) == "[Errno 3] force no such process (originated from kvm_getprocs)"


class TestInjectedExe:
    @pytest.mark.parametrize("answer, pid, expect", [
        (standin.error(errno.ENOENT), MISSING_PID, ""),  # no liveness check at all
        (standin.answer(b""), os.getpid(), ""),
        (standin.answer(b"\0/ignored\0"), os.getpid(), ""),
        (standin.answer(b"x" * 1024), os.getpid(), "x" * 1024),  # no NUL: bounded
        (standin.answer(b"/bin/sh\0junk"), os.getpid(), "/bin/sh"),
    ])
    def test_answers(self, answer, pid, expect):
        standin.push("sysctl", pathname_key(pid), answer)
        assert q.proc_exe(pid) == expect
        if expect == "" and answer.kind == "error":
            assert standin.calls_to("kill") == []

    @pytest.mark.parametrize("pid", [MISSING_PID, 0, -1])
    def test_empty_answer_for_a_gone_process(self, pid):
        standin.sysctl_answer(pathname_key(pid), b"")
        with pytest.raises(ProcessLookupError) as e:
            q.proc_exe(pid)
        assert e.value.strerror == "force no such process (originated from quarn_pid_exists -> 0)"

    def test_other_errors_are_annotated(self):
        standin.sysctl_error(pathname_key(os.getpid()), errno.EPERM)
        with pytest.raises(PermissionError) as e:
            q.proc_exe(os.getpid())
        assert e.value.errno == errno.EPERM
        assert e.value.strerror == (os.strerror(errno.EPERM)
                                    + " (originated from sysctl(KERN_PROC_PATHNAME))")

    def test_failed_liveness_check_raises_its_errno(self):
        pid = os.getpid()
        standin.sysctl_answer(pathname_key(pid), b"")
        standin.push("kill", str(pid), standin.error(errno.EINVAL))
        with pytest.raises(OSError) as e:
            q.proc_exe(pid)
        assert e.value.errno == errno.EINVAL


class TestInjectedCmdline:
    @pytest.mark.parametrize("data, expect", [
        (b"a\0\0b\0", ["a", "", "b"]),
        (b"", []),
        (b"a\0bc", ["a", "bc"]),  # last string without NUL ends with the answer
        (b"\0", [""]),
        (b"\xff\0", [os.fsdecode(b"\xff")]),
    ])
    def test_walk(self, data, expect):
        standin.sysctl_answer(args_key(os.getpid()), data)
        assert q.proc_cmdline(os.getpid()) == expect

    def test_read_failure_is_the_growing_reads(self):
        standin.sysctl_error(args_key(os.getpid()), errno.EPERM)
        with pytest.raises(PermissionError) as e:
            q.proc_cmdline(os.getpid())
        assert e.value.strerror.endswith("(originated from sysctl() malloc 1/3)")


def inject_record(pid, flag=P_INMEM, uid=0, count=None):
    rec = kinfo_proc(ki_pid=pid, ki_flag=flag, ki_uid=uid)
    standin.push("kvm_getprocs", str(pid), standin.answer(rec, value=count))


class TestInjectedEnviron:
    PID = 4242

    def test_entries(self):
        inject_record(self.PID)
        standin.push("kvm_getenvv", str(self.PID),
                     standin.answer(b"A=1\0NOEQUALS\0B=x=y\0A=2\0=X\0E=\0V=\xff\0"))
        assert q.proc_environ(self.PID) == {"A": "2", "B": "x=y", "": "X", "E": "",
                                            "V": os.fsdecode(b"\xff")}

    def test_undecodable_name_fails_the_call(self):
        inject_record(self.PID)
        standin.push("kvm_getenvv", str(self.PID), standin.answer(b"\xff=1\0"))
        with pytest.raises(UnicodeDecodeError):
            q.proc_environ(self.PID)

    @pytest.mark.parametrize("flag", [0, P_INMEM | P_SYSTEM, P_SYSTEM])
    def test_swapped_out_or_system_process_is_not_asked(self, flag):
        inject_record(self.PID, flag=flag)
        assert q.proc_environ(self.PID) == {}
        assert standin.calls_to("kvm_getenvv") == []
        assert len(standin.calls_to("kvm_close")) == 1

    @pytest.mark.parametrize("err, exc, message", [
        (errno.EPERM, PermissionError, "force permission denied (originated from "
                                       "kvm_getenvv -> EPERM)"),
        (errno.ESRCH, ProcessLookupError, "force no such process (originated from "
                                          "kvm_getenvv -> ESRCH)"),
        (errno.ENOMEM, PermissionError, "force permission denied (originated from "
                                        "kvm_getenvv(pid=4242, ki_uid=1001) -> ENOMEM)"),
        (errno.EIO, OSError, os.strerror(errno.EIO) + " (originated from kvm_getenvv(pid=4242))"),
    ])
    def test_getenvv_errno_table(self, err, exc, message):
        inject_record(self.PID, uid=1001)
        standin.push("kvm_getenvv", str(self.PID), standin.error(err))
        with pytest.raises(exc) as e:
            q.proc_environ(self.PID)
        assert e.value.strerror == message
        assert e.value.errno == {errno.ENOMEM: errno.EACCES, errno.EPERM: errno.EACCES}.get(err, err)
        assert len(standin.calls_to("kvm_close")) == 1

    @pytest.mark.parametrize("answer", [standin.error(0), standin.answer(b"")])
    def test_empty_environment(self, answer):
        inject_record(self.PID)
        standin.push("kvm_getenvv", str(self.PID), answer)
        assert q.proc_environ(self.PID) == {}

    @pytest.mark.parametrize("step, count, message", [
        (standin.error(errno.ESRCH), None, "kvm_getprocs"),
        (None, -1, "kvm says no"),
        (None, 0, "kvm_getprocs: cnt==0"),
    ])
    def test_process_lookup_failures(self, step, count, message):
        if step is None:
            inject_record(self.PID, count=count)
        else:
            standin.push("kvm_getprocs", str(self.PID), step)
        standin.push("kvm_geterr", "", standin.answer(b"kvm says no"))
        with pytest.raises(ProcessLookupError) as e:
            q.proc_environ(self.PID)
        assert e.value.strerror == f"force no such process (originated from {message})"
        assert len(standin.calls_to("kvm_close")) == 1

    @pytest.mark.parametrize("step, exc, message", [
        (standin.answer(b"kvm: Operation not permitted"), PermissionError,
         "force permission denied (originated from (originated from kvm_openfiles: "
         "kvm: Operation not permitted))"),
        (standin.answer(b"100% broken"), RuntimeError,
         "(originated from kvm_openfiles: 100% broken)"),
        (standin.error(errno.EACCES), PermissionError,
         "force permission denied (originated from (originated from kvm_openfiles: "
         "/dev/null: Permission denied))"),
        (standin.error(errno.ENOENT), RuntimeError,
         "(originated from kvm_openfiles: /dev/null: No such file or directory)"),
    ])
    def test_open_failures(self, step, exc, message):
        standin.push("kvm_openfiles", "", step)
        with pytest.raises(exc) as e:
            q.proc_environ(self.PID)
        assert (e.value.strerror if isinstance(e.value, OSError) else str(e.value)) == message
        assert standin.calls_to("kvm_close") == []


class TestInjectedCwd:
    @pytest.mark.parametrize("entries, expect", [
        ([kinfo_file(3, b"/fd3"), kinfo_file(-1, b"/first"), kinfo_file(-1, b"/second")],
         "/first"),
        ([kinfo_file(-2, b"/root"), kinfo_file(0, b"/dev/null")], ""),
        ([], ""),
        ([kinfo_file(-1, b"p" * 1024)], "p" * 1024),  # no NUL: bounded by the field
    ], ids=["first", "none", "empty", "unterminated"])
    def test_first_cwd_entry(self, entries, expect):
        standin.push("kinfo_getfile", str(os.getpid()), standin.answer(b"".join(entries)))
        assert q.proc_cwd(os.getpid()) == expect

    def test_null_table_without_errno_for_a_living_process(self):
        standin.push("kinfo_getfile", str(os.getpid()), standin.error(0))
        with pytest.raises(RuntimeError, match=r"^kinfo_getfile\(\) syscall failed$"):
            q.proc_cwd(os.getpid())

    def test_record_fetch_comes_first(self):
        with pytest.raises(RuntimeError, match="quarn_kinfo_proc"):
            q.proc_cwd(-1)
        assert standin.calls_to("kinfo_getfile") == []


class TestLeaks:
    @pytest.mark.parametrize("fn", [q.proc_exe, q.proc_cmdline, q.proc_environ, q.proc_cwd])
    def test_success(self, fn):
        assert_flat(fn, os.getpid(), calls=2000)

    @pytest.mark.parametrize("fn", [q.proc_exe, q.proc_cmdline, q.proc_environ, q.proc_cwd])
    def test_missing_process(self, fn):
        assert_flat(fn, MISSING_PID, calls=2000, expect=ProcessLookupError)

    def test_environ_failure_paths(self):
        inject_record(4242, uid=7)
        standin.push("kvm_getenvv", str(4242), standin.error(errno.ENOMEM))
        assert_flat(q.proc_environ, 4242, calls=2000, expect=PermissionError)
        standin.reset()
        inject_record(4242)
        standin.push("kvm_getenvv", str(4242), standin.answer(b"A=1\0\xff=2\0"))
        assert_flat(q.proc_environ, 4242, calls=2000, expect=UnicodeDecodeError)
        standin.push("kvm_openfiles", "", standin.answer(b"no"))
        assert_flat(q.proc_environ, 4242, calls=2000, expect=RuntimeError)

    def test_cwd_null_table(self):
        standin.push("kinfo_getfile", str(os.getpid()), standin.error(errno.EIO))
        assert_flat(q.proc_cwd, os.getpid(), calls=2000, expect=OSError)
