"""Open files, descriptor count, threads and memory maps: live on a child
that holds known descriptors, mappings and busy threads, compared with
/proc; injected from entries built at their byte offsets."""

import errno
import os
import shutil
import subprocess
import sys
import textwrap
import time

import pytest

import _quarn_bsd as q
import standin
from leakcheck import assert_flat
from records import KINFO_PROC_SIZE, PATH_LEN, kinfo_file, kinfo_proc, kinfo_vmentry

CLK_TCK = os.sysconf("SC_CLK_TCK")
PAGE = os.sysconf("SC_PAGESIZE")
MISSING_PID = 2 ** 22 + 12345
FAKE_PID = 4343
KEY = str(FAKE_PID)

KF_TYPE_VNODE, KF_TYPE_SOCKET, KF_TYPE_PIPE = 1, 2, 3
KF_VTYPE_VREG, KF_VTYPE_VDIR = 1, 2

FILE_PAGES, ANON_PAGES, ANON_TOUCHED, BURNERS = 5, 37, 5, 4

CHILD = textwrap.dedent("""
    import ctypes, mmap, os, socket, sys, threading, time
    path, burn = sys.argv[1], float(sys.argv[2])
    f = open(path, "rb")
    again = os.dup(f.fileno())
    d = os.open(os.path.dirname(path), os.O_RDONLY)
    r, w = os.pipe()
    s = socket.socket()
    fmap = mmap.mmap(f.fileno(), 0, prot=mmap.PROT_READ)
    fmap[:]  # every page resident
    anon = mmap.mmap(-1, %(anon)d * mmap.PAGESIZE)
    anon.madvise(mmap.MADV_DONTFORK)  # never merged with a neighbour
    for i in range(%(touched)d):
        anon[i * mmap.PAGESIZE] = 1
    addr = ctypes.addressof(ctypes.c_char.from_buffer(anon))
    done = threading.Event()
    burnt = threading.Semaphore(0)
    def burner():
        while time.thread_time() < burn:
            pass
        burnt.release()
        done.wait()
    ts = [threading.Thread(target=burner) for _ in range(%(burners)d)]
    [t.start() for t in ts]
    for t in ts:
        burnt.acquire()
    print(f.fileno(), again, addr, " ".join(str(t.native_id) for t in ts), flush=True)
    sys.stdin.read()
    done.set()
""") % {"anon": ANON_PAGES, "touched": ANON_TOUCHED, "burners": BURNERS}


class Child:
    def __init__(self, tmp_path):
        self.path = str(tmp_path / "mapped.bin")
        with open(self.path, "wb") as f:
            f.write(b"q" * FILE_PAGES * PAGE)
        self.proc = subprocess.Popen([sys.executable, "-c", CHILD, self.path, "0.15"],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True)
        words = self.proc.stdout.readline().split()
        self.fd1, self.fd2, self.anon_addr = (int(w) for w in words[:3])
        self.burners = [int(w) for w in words[3:]]
        self.pid = self.proc.pid

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(20)


@pytest.fixture(scope="module")
def child(tmp_path_factory):
    c = Child(tmp_path_factory.mktemp("files"))
    yield c
    c.close()


def fd_links(pid):
    d = f"/proc/{pid}/fd"
    return {int(n): os.readlink(f"{d}/{n}") for n in os.listdir(d)}


def has_ctty(pid):
    with open(f"/proc/{pid}/stat") as f:
        text = f.read()
    return int(text[text.rindex(")") + 2:].split()[4]) != 0


def smaps_entries(pid):
    """(start, end, perms, path, rss_kb, private_kb) per mapping of smaps."""
    out = []
    with open(f"/proc/{pid}/smaps") as f:
        for line in f:
            words = line.split(None, 5)
            if "-" in words[0] and not words[0].endswith(":"):
                start, end = (int(x, 16) for x in words[0].split("-"))
                path = words[5].rstrip("\n") if len(words) == 6 else ""
                out.append([start, end, words[1][:3], path, 0, 0])
            elif words[0] == "Rss:":
                out[-1][4] = int(words[1])
            elif words[0] in ("Private_Clean:", "Private_Dirty:"):
                out[-1][5] += int(words[1])
    return out


def range_text(start, end):
    return "-".join(f"{v:#x}" if v else "0" for v in (start, end))


class TestLive:
    def test_open_files_list_regular_files_and_the_text(self, child):
        exe = os.readlink(f"/proc/{child.pid}/exe")
        regular = sorted((link, fd) for fd, link in fd_links(child.pid).items()
                         if os.path.isfile(f"/proc/{child.pid}/fd/{fd}"))
        assert (child.path, child.fd1) in regular and (child.path, child.fd2) in regular
        assert q.proc_open_files(child.pid) == [(exe, -5)] + sorted(regular, key=lambda r: r[1])

    def test_num_fds_counts_descriptors_and_pseudo_entries(self, child):
        pseudo = 3 + has_ctty(child.pid)  # text, working and root directory
        assert q.proc_num_fds(child.pid) == len(fd_links(child.pid)) + pseudo

    def test_memory_maps_agree_with_smaps(self, child):
        maps = q.proc_memory_maps(child.pid)
        host = smaps_entries(child.pid)
        assert [m[0] for m in maps] == [range_text(h[0], h[1]) for h in host]
        assert [m[1] for m in maps] == [h[2] for h in host]
        for m, h in zip(maps, host):
            assert m[3:5] == (h[4] * 1024 // PAGE, h[5] * 1024 // PAGE), m
            if h[3].startswith("/") and not h[3].endswith(" (deleted)"):
                assert m[2] == h[3]

    def test_the_file_and_the_anonymous_mapping(self, child):
        maps = q.proc_memory_maps(child.pid)
        file_maps = [m for m in maps if m[2] == child.path]
        assert len(file_maps) == 1
        (text, perms, _, resident, _, _, _), = file_maps
        start, end = (int(x, 16) for x in text.split("-"))
        assert (end - start, perms, resident) == (FILE_PAGES * PAGE, "r--", FILE_PAGES)
        anon, = [m for m in maps if m[0] == range_text(child.anon_addr,
                                                       child.anon_addr + ANON_PAGES * PAGE)]
        assert anon[1:5] == ("rw-", "[default]", ANON_TOUCHED, ANON_TOUCHED)

    def test_threads_agree_with_the_task_directory(self, child):
        threads = q.proc_threads(child.pid)
        tids = [t[0] for t in threads]
        assert sorted(tids) == sorted(int(n) for n in os.listdir(f"/proc/{child.pid}/task"))
        assert set(child.burners) <= set(tids) and child.pid in tids
        for tid, user, system in threads:
            with open(f"/proc/{child.pid}/task/{tid}/stat") as f:
                text = f.read()
            fields = text[text.rindex(")") + 2:].split()
            assert user == pytest.approx(int(fields[11]) / CLK_TCK, abs=1e-6)
            assert system == pytest.approx(int(fields[12]) / CLK_TCK, abs=1e-6)
            if tid in child.burners:
                assert user + system >= 0.15 - 2 / CLK_TCK

    @pytest.mark.parametrize("fn", [q.proc_open_files, q.proc_num_fds, q.proc_threads,
                                    q.proc_memory_maps])
    def test_missing_pid_is_a_lookup_error(self, fn):
        with pytest.raises(ProcessLookupError):
            fn(MISSING_PID)

    @pytest.mark.skipif(os.geteuid() != 0, reason="needs root to drop privileges")
    def test_a_caller_without_rights_is_refused(self):
        """As an unprivileged user, PID 1's table and map are refused with the
        host's errno, never handed out empty."""
        r, w = os.pipe()
        pid = os.fork()
        if pid == 0:
            try:
                os.close(r)
                os.setresgid(65534, 65534, 65534)
                os.setresuid(65534, 65534, 65534)
                for fn in (q.proc_open_files, q.proc_num_fds, q.proc_memory_maps):
                    try:
                        out = repr(fn(1))
                    except OSError as e:
                        out = f"{type(e).__name__} {e.errno} {e.strerror}"
                    os.write(w, (out + "\n").encode())
            finally:
                os._exit(0)
        os.close(w)
        with os.fdopen(r) as f:
            lines = f.read().splitlines()
        os.waitpid(pid, 0)
        denied = os.strerror(errno.EACCES)
        assert lines == [f"PermissionError 13 {denied} (originated from kinfo_getfile())"] * 2 + [
            f"PermissionError 13 {denied} (originated from kinfo_getvmmap())"]


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


@pytest.fixture
def zombie():
    pid = os.fork()
    if pid == 0:
        os._exit(0)
    for _ in range(1000):
        with open(f"/proc/{pid}/stat") as f:
            if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                break
        time.sleep(0.01)
    yield pid
    os.waitpid(pid, 0)


@pytest.mark.parametrize("fn, call", TABLE_FUNCTIONS)
def test_a_zombies_tables_are_refused(zombie, fn, call):
    with pytest.raises(ProcessLookupError) as e:
        fn(zombie)
    assert e.value.strerror == f"{os.strerror(errno.ESRCH)} (originated from {call}())"


def test_a_zombies_environment_is_empty(zombie):
    assert q.proc_environ(zombie) == {}


def host_refuses_links(pid):
    try:
        os.readlink(f"/proc/{pid}/cwd")
    except PermissionError:
        return True
    return False


@pytest.mark.skipif(not host_refuses_links(1), reason="this host shows process 1's links")
@pytest.mark.parametrize("fn", [q.proc_num_fds, q.proc_open_files, q.proc_cwd])
def test_refused_descriptor_links_refuse_the_table(fn):
    with pytest.raises(PermissionError) as e:
        fn(1)
    assert e.value.strerror == f"{os.strerror(errno.EACCES)} (originated from kinfo_getfile())"


def test_a_deleted_executable_has_no_name(tmp_path):
    exe = tmp_path / "sleeper"
    shutil.copy("/bin/sleep", exe)
    proc = subprocess.Popen([exe, "60"])
    try:
        for _ in range(500):
            if os.readlink(f"/proc/{proc.pid}/exe") == str(exe):
                break
            time.sleep(0.01)
        exe.unlink()
        assert os.readlink(f"/proc/{proc.pid}/exe") == f"{exe} (deleted)"
        assert q.proc_exe(proc.pid) == ""
        assert ("", -5) in q.proc_open_files(proc.pid)  # the table says the same
    finally:
        proc.kill()
        proc.wait()


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
