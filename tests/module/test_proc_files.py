"""Open files, descriptor count, threads and memory maps injected from
entries built at their byte offsets; the null tables' outcomes; and the
leak checks, live and injected. The live tests, on a child that holds
known descriptors, mappings and busy threads, are in test_proc_files_live.py."""

import errno
import os

import pytest

import _quarn_bsd as q
import standin
from leakcheck import assert_flat
from records import KINFO_PROC_SIZE, PATH_LEN, kinfo_file, kinfo_proc, kinfo_vmentry

MISSING_PID = 2 ** 22 + 12345
FAKE_PID = 4343
KEY = str(FAKE_PID)

KF_TYPE_VNODE, KF_TYPE_SOCKET, KF_TYPE_PIPE = 1, 2, 3
KF_VTYPE_VREG, KF_VTYPE_VDIR = 1, 2


def inject_record(pid=FAKE_PID, **fields):
    fields.setdefault("ki_pid", pid)
    standin.sysctl_answer([1, 14, 1, pid], kinfo_proc(**fields))


@pytest.fixture
def files():
    def install(entries, count=None):
        inject_record()
        standin.push("kinfo_getfile", KEY, standin.answer(b"".join(entries), value=count))
    return install


@pytest.fixture
def vmmap():
    def install(entries, count=None):
        inject_record()
        standin.push("kinfo_getvmmap", KEY, standin.answer(b"".join(entries), value=count))
    return install


def vnode(path, fd, vtype=KF_VTYPE_VREG):
    return kinfo_file(path, kf_type=KF_TYPE_VNODE, kf_vnode_type=vtype, kf_fd=fd)


def mapping(path=b"", **fields):
    fields.setdefault("kve_start", 0x200000)
    fields.setdefault("kve_end", 0x201000)
    return kinfo_vmentry(path, **fields)


class TestInjectedFiles:
    @pytest.mark.parametrize("entries, listed", [
        ([vnode("/bin/x", -5), vnode("/", -1, KF_VTYPE_VDIR),
          kinfo_file(kf_type=KF_TYPE_SOCKET, kf_fd=3, kf_vnode_type=KF_VTYPE_VREG),
          kinfo_file("/p", kf_type=KF_TYPE_PIPE, kf_fd=4), vnode("/etc/a", 5),
          vnode("/etc/a", 9)], [("/bin/x", -5), ("/etc/a", 5), ("/etc/a", 9)]),
        ([vnode("/", -1, KF_VTYPE_VDIR), kinfo_file(kf_type=KF_TYPE_SOCKET, kf_fd=0)], []),
        ([vnode(b"/" + b"a" * (PATH_LEN - 1), 3)], [("/" + "a" * (PATH_LEN - 1), 3)]),
        ([vnode(b"/tmp/\xff", 3)], [("/tmp/\udcff", 3)]),
    ])
    def test_regular_vnodes_are_listed_and_every_entry_counted(self, files, entries, listed):
        files(entries)
        assert q.proc_open_files(FAKE_PID) == listed
        assert q.proc_num_fds(FAKE_PID) == len(entries)

    @pytest.mark.parametrize("count, listed, counted", [
        (0, [], 0), (-1, [], 0), (-2 ** 31, [], 0), (50, [("/etc/a", 3)], 50)])
    def test_count_against_the_array(self, files, count, listed, counted):
        files([vnode("/etc/a", 3)], count=count)
        assert q.proc_open_files(FAKE_PID) == listed
        assert q.proc_num_fds(FAKE_PID) == counted


class TestInjectedMaps:
    @pytest.mark.parametrize("start, end, text", [
        (0x200000, 0x201000, "0x200000-0x201000"),
        (0, 0x1000, "0-0x1000"),
        (0, 0, "0-0"),
        (0x7FFFFFFFF000, 2 ** 64 - 1, "0x7ffffffff000-0xffffffffffffffff"),
    ])
    def test_range_text(self, vmmap, start, end, text):
        vmmap([mapping(kve_start=start, kve_end=end)])
        assert q.proc_memory_maps(FAKE_PID)[0][0] == text

    @pytest.mark.parametrize("prot, text", [
        (0, "---"), (1, "r--"), (2, "-w-"), (4, "--x"), (3, "rw-"), (5, "r-x"), (7, "rwx"),
        (-8 | 1, "r--"),
    ])
    def test_permissions(self, vmmap, prot, text):
        vmmap([mapping(kve_protection=prot)])
        assert q.proc_memory_maps(FAKE_PID)[0][1] == text

    @pytest.mark.parametrize("kind, text", [
        (0, "[none]"), (1, "[default]"), (2, "[vnode]"), (3, "[swap]"), (4, "[device]"),
        (5, "[phys]"), (6, "[dead]"), (7, "[sg]"), (8, "[?]"), (9, "[?]"), (255, "[unknown]"),
        (-1, "[?]"), (256, "[?]"),
    ])
    def test_kind_text_without_a_path(self, vmmap, kind, text):
        vmmap([mapping(kve_type=kind), mapping(b"/lib/x.so", kve_type=kind)])
        assert [m[2] for m in q.proc_memory_maps(FAKE_PID)] == [text, "/lib/x.so"]

    def test_counts_come_unscaled(self, vmmap):
        vmmap([mapping(kve_resident=3, kve_private_resident=2, kve_ref_count=7,
                       kve_shadow_count=-1, kve_protection=5)])
        assert q.proc_memory_maps(FAKE_PID) == [
            ("0x200000-0x201000", "r-x", "[none]", 3, 2, 7, -1)]

    def test_path_filling_its_field_without_nul_stops_there(self, vmmap):
        vmmap([mapping(b"/" + b"b" * (PATH_LEN - 1))])
        assert q.proc_memory_maps(FAKE_PID)[0][2] == "/" + "b" * (PATH_LEN - 1)

    @pytest.mark.parametrize("count, expected", [(0, 0), (-5, 0), (1, 1), (3, 3)])
    def test_count_against_the_array(self, vmmap, count, expected):
        vmmap([mapping(b"/a")], count=count)
        maps = q.proc_memory_maps(FAKE_PID)
        assert len(maps) == expected
        if expected:
            assert maps[0][2] == "/a"


def thread(tid, user, system):
    return kinfo_proc(ki_pid=FAKE_PID, ki_tid=tid,
                      ru_utime_sec=int(user), ru_utime_usec=round(user % 1 * 1e6),
                      ru_stime_sec=int(system), ru_stime_usec=round(system % 1 * 1e6))


THREADS_KEY = [1, 14, 17, FAKE_PID]


class TestInjectedThreads:
    @pytest.mark.parametrize("tail", [b"", b"\x01" * 500, b"\x01" * (KINFO_PROC_SIZE - 1)])
    def test_partial_record_is_ignored(self, tail):
        standin.sysctl_answer(THREADS_KEY, thread(100001, 1.25, 0.5)
                              + thread(-1, 0, 0.000001) + tail)
        assert q.proc_threads(FAKE_PID) == [(100001, 1.25, 0.5), (2 ** 32 - 1, 0.0, 0.000001)]

    def test_shorter_than_one_record_is_empty(self):
        standin.sysctl_answer(THREADS_KEY, b"\x01" * 100)
        assert q.proc_threads(FAKE_PID) == []

    def test_empty_answer_is_no_such_process(self):
        standin.sysctl_answer(THREADS_KEY, b"")
        with pytest.raises(ProcessLookupError) as e:
            q.proc_threads(FAKE_PID)
        assert e.value.errno == errno.ESRCH
        assert e.value.strerror == "force no such process (originated from sysctl (size = 0))"


# quarn_raise_for_pid's four outcomes after a null table.
OUTCOMES = [
    ("errno", PermissionError,
     lambda what: f"{os.strerror(errno.EPERM)} (originated from {what})"),
    ("gone", ProcessLookupError, lambda what: f"force no such process (originated from {what})"),
    ("zombie", q.ZombieProcessError, lambda what: ""),
    ("silent", RuntimeError, lambda what: f"{what} syscall failed"),
]
TABLE_FUNCTIONS = [(q.proc_open_files, "kinfo_getfile"), (q.proc_num_fds, "kinfo_getfile"),
                   (q.proc_memory_maps, "kinfo_getvmmap")]


def inject_null(call, outcome):
    inject_record(ki_stat=q.SZOMB if outcome == "zombie" else q.SSLEEP)
    standin.push(call, KEY, standin.error(errno.EPERM if outcome == "errno" else 0))
    standin.push("kill", KEY,
                 standin.error(errno.ESRCH) if outcome == "gone" else standin.answer())


class TestNullTables:
    @pytest.mark.parametrize("fn, call", TABLE_FUNCTIONS)
    @pytest.mark.parametrize("outcome, exc, message", OUTCOMES)
    def test_raise_for_pid_outcomes(self, fn, call, outcome, exc, message):
        inject_null(call, outcome)
        with pytest.raises(exc) as e:
            fn(FAKE_PID)
        text = e.value.strerror if isinstance(e.value, OSError) else str(e.value)
        assert text == message(call + "()")

    @pytest.mark.parametrize("fn, call", TABLE_FUNCTIONS)
    def test_record_failure_stands_and_the_library_is_not_asked(self, fn, call):
        standin.sysctl_error([1, 14, 1, FAKE_PID], errno.ESRCH)
        with pytest.raises(ProcessLookupError) as e:
            fn(FAKE_PID)
        assert e.value.strerror.endswith("(originated from sysctl(kinfo_proc))")
        assert standin.calls_to(call) == []


class TestLeaks:
    @pytest.mark.parametrize("fn", [q.proc_open_files, q.proc_num_fds, q.proc_threads,
                                    q.proc_memory_maps])
    def test_live_success_and_missing_pid(self, fn):
        assert_flat(fn, os.getpid(), calls=300)
        assert_flat(fn, MISSING_PID, calls=2000, expect=ProcessLookupError)

    def test_injected_tables(self, files):
        files([vnode("/etc/a", 3), vnode("/etc/b", 4), vnode(b"/\xff", 5)])
        standin.push("kinfo_getvmmap", KEY,
                     standin.answer(mapping(b"/a") + mapping(kve_type=9) + mapping(b"/\xfe")))
        standin.sysctl_answer(THREADS_KEY, thread(1, 1, 1) * 3 + b"x")
        for fn in (q.proc_open_files, q.proc_num_fds, q.proc_memory_maps, q.proc_threads):
            assert_flat(fn, FAKE_PID)

    @pytest.mark.parametrize("fn, call", TABLE_FUNCTIONS)
    @pytest.mark.parametrize("outcome", ["errno", "gone", "zombie", "silent"])
    def test_null_tables(self, fn, call, outcome):
        inject_null(call, outcome)
        assert_flat(fn, FAKE_PID, calls=2000, expect=Exception)

    def test_empty_thread_answer(self):
        standin.sysctl_answer(THREADS_KEY, b"")
        assert_flat(q.proc_threads, FAKE_PID, calls=2000, expect=ProcessLookupError)
