"""Open files, descriptor count, threads and memory maps live on a child
that holds known descriptors, mappings and busy threads, compared with
/proc; a zombie's tables, refused descriptor links and a deleted
executable. The injected entries are in test_proc_files.py."""

import errno
import os
import shutil
import subprocess
import sys
import textwrap
import time

import pytest

import _quarn_bsd as q
from test_proc_files import MISSING_PID, TABLE_FUNCTIONS

CLK_TCK = os.sysconf("SC_CLK_TCK")
PAGE = os.sysconf("SC_PAGESIZE")

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
