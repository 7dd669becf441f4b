"""Process lookup and the one-shot record, name and thread count, live
against /proc and the host's ps: this process, its children, their threads
and zombies. The injected records are in test_proc.py."""

import errno
import os
import signal
import subprocess
import sys
import time

import pytest

import _quarn_bsd as q
import standin
from records import kinfo_proc
from test_proc import MISSING_PID, PAGE, proc_key

CLK_TCK = os.sysconf("SC_CLK_TCK")


def proc_dirs():
    return {int(n) for n in os.listdir("/proc") if n.isdigit()}


def stat_fields(pid):
    with open(f"/proc/{pid}/stat") as f:
        text = f.read()
    # Fields after the name; index 0 is field 3 (the state).
    return text[text.rindex(")") + 2:].split()


def boot_time():
    with open("/proc/stat") as f:
        for line in f:
            if line.startswith("btime "):
                return int(line.split()[1])
    raise AssertionError("no btime line")


def wait_for_state(pid, states, timeout=10.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if stat_fields(pid)[0] in states:
            return
        time.sleep(0.01)
    raise AssertionError(f"process {pid} never reached {states}")


class TestLivePids:
    def test_matches_the_proc_listing(self):
        before = proc_dirs()
        listed = q.pids()
        after = proc_dirs()
        assert len(listed) == len(set(listed))
        assert os.getpid() in listed
        # Processes may come and go meanwhile; none may be invented or lost.
        assert before & after <= set(listed) <= before | after

    def test_missing_pid_raises_lookup_error_in_all_three(self):
        for fn in (q.proc_oneshot_info, q.proc_name, q.proc_num_threads):
            with pytest.raises(ProcessLookupError) as e:
                fn(MISSING_PID)
            assert e.value.errno == errno.ESRCH
            assert e.value.strerror == (os.strerror(errno.ESRCH)
                                        + " (originated from sysctl(kinfo_proc))")

    def test_negative_pid_raises_the_lookups_runtime_error(self):
        for fn in (q.proc_oneshot_info, q.proc_name, q.proc_num_threads):
            with pytest.raises(RuntimeError) as e:
                fn(-1)
            assert str(e.value) == "quarn_kinfo_proc() invalid args passed to function"
        assert standin.calls_to("sysctl", proc_key(-1)) == []

    def test_a_thread_id_is_not_a_process(self):
        import threading
        ready, done = threading.Event(), threading.Event()
        tid = []

        def worker():
            tid.append(threading.get_native_id())
            ready.set()
            done.wait(10)

        t = threading.Thread(target=worker)
        t.start()
        try:
            ready.wait(10)
            assert tid[0] != os.getpid()
            with pytest.raises(ProcessLookupError):
                q.proc_name(tid[0])
            assert tid[0] not in q.pids()
        finally:
            done.set()
            t.join()

    def test_parser_errors(self):
        with pytest.raises(TypeError):
            q.proc_oneshot_info()
        with pytest.raises(TypeError):
            q.proc_name("1")
        with pytest.raises(OverflowError):
            q.proc_num_threads(2 ** 31)
        with pytest.raises(TypeError):
            q.proc_is_zombie(1.5)


class TestLiveOneshot:
    def test_own_record_matches_the_host(self):
        with open("/proc/self/statm") as f:
            statm_before = [int(x) for x in f.read().split()]
        st = stat_fields(os.getpid())
        info = q.proc_oneshot_info(os.getpid())
        with open("/proc/self/statm") as f:
            statm_after = [int(x) for x in f.read().split()]
        st_after = stat_fields(os.getpid())

        assert len(info) == 25
        assert info[0] == os.getppid()
        assert info[1] in (q.SRUN, q.SSLEEP)
        assert info[2:5] == os.getresuid()
        assert info[5:8] == os.getresgid()
        tty_nr = int(st[7 - 3])
        if tty_nr == 0:
            assert info[8] == -1
        else:
            assert info[8] >= 0
        start = boot_time() + int(st[22 - 3]) / CLK_TCK
        assert info[9] == pytest.approx(start, abs=0.011)
        assert 0 <= info[10] and 0 <= info[11]
        assert info[14] == pytest.approx(int(st[14 - 3]) / CLK_TCK, abs=0.05)
        assert info[15] == pytest.approx(int(st[15 - 3]) / CLK_TCK, abs=0.05)
        assert info[14] <= int(st_after[14 - 3]) / CLK_TCK + 1e-9
        # The interpreter's own allocations move the figures between reads.
        low, high = sorted([statm_before[1], statm_after[1]])
        assert (low - 64) * PAGE <= info[18] <= (high + 64) * PAGE
        assert abs(info[19] - int(st[23 - 3])) <= 64 * PAGE
        assert info[20] == statm_before[3] * PAGE
        for i in (18, 20, 21, 22):
            assert info[i] % PAGE == 0
        assert 0 <= info[23] < os.cpu_count()
        with open("/proc/self/comm") as f:
            assert info[24] == f.read().rstrip("\n")

    def test_name_and_threads_of_a_child(self):
        child = subprocess.Popen(["sleep", "30"])
        try:
            wait_for_state(child.pid, {"S"})
            assert q.proc_name(child.pid) == "sleep"
            assert q.proc_num_threads(child.pid) == 1
            info = q.proc_oneshot_info(child.pid)
            assert info[0] == os.getpid()
            assert info[1] == q.SSLEEP
            assert info[24] == "sleep"
        finally:
            child.kill()
            child.wait()

    def test_thread_count_of_a_threaded_child(self):
        code = ("import threading, sys\n"
                "e = threading.Event()\n"
                "ts = [threading.Thread(target=e.wait) for _ in range(4)]\n"
                "[t.start() for t in ts]\n"
                "print('ready', flush=True)\n"
                "sys.stdin.read()\n"
                "e.set()\n")
        child = subprocess.Popen([sys.executable, "-c", code], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, text=True)
        try:
            assert child.stdout.readline() == "ready\n"
            assert q.proc_num_threads(child.pid) == 5
            assert len(os.listdir(f"/proc/{child.pid}/task")) == 5
        finally:
            child.stdin.close()
            child.wait(10)

    def test_zombie_child(self):
        pid = os.fork()
        if pid == 0:
            os._exit(7)
        try:
            wait_for_state(pid, {"Z"})
            assert q.proc_is_zombie(pid) is True
            assert q.proc_oneshot_info(pid)[1] == q.SZOMB
            assert q.proc_name(pid) == q.proc_name(os.getpid())
        finally:
            os.waitpid(pid, 0)
        assert q.proc_is_zombie(pid) is False

    @pytest.mark.skipif(os.geteuid() != 0, reason="needs root to change IDs")
    def test_child_with_changed_ids(self):
        r, w = os.pipe()
        pid = os.fork()
        if pid == 0:
            try:
                os.close(r)
                os.setresgid(1001, 1002, 1003)
                os.setresuid(2001, 2002, 2003)
                os.write(w, b"x")
                time.sleep(30)
            finally:
                os._exit(0)
        os.close(w)
        try:
            assert os.read(r, 1) == b"x"
            info = q.proc_oneshot_info(pid)
            assert info[2:5] == (2001, 2002, 2003)
            assert info[5:8] == (1001, 1002, 1003)
        finally:
            os.close(r)
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)


class TestLiveZombieCheck:
    def test_false_without_exception_and_errno(self):
        assert q.proc_is_zombie(MISSING_PID) is False
        assert q.proc_is_zombie(-1) is False
        assert q.proc_is_zombie(os.getpid()) is False


class TestShortAndThreadedRecords:
    def test_short_answer_leaves_the_rest_zero(self):
        rec = kinfo_proc(ki_pid=71, ki_ppid=9, ki_ruid=5)[:400]
        standin.sysctl_answer(proc_key(71), rec)
        info = q.proc_oneshot_info(71)
        assert info[0] == 9 and info[2] == 5
        assert info[1] == 0 and info[8] == 0 and info[9] == 0.0 and info[23] == 0
        assert info[24] == ""
        assert q.proc_num_threads(71) == 0
        assert q.proc_name(71) == ""

    def test_process_whose_main_thread_exited_is_not_a_zombie(self):
        code = ("import ctypes, threading, time\n"
                "threading.Thread(target=time.sleep, args=(60,)).start()\n"
                "print('ready', flush=True)\n"
                "ctypes.CDLL(None).pthread_exit(None)\n")
        child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True)
        try:
            assert child.stdout.readline() == "ready\n"
            wait_for_state(child.pid, {"Z"})
            assert len(os.listdir(f"/proc/{child.pid}/task")) == 2
            # The other thread runs until it reaches its sleep.
            other = next(t for t in os.listdir(f"/proc/{child.pid}/task") if int(t) != child.pid)
            wait_for_state(f"{child.pid}/task/{other}", {"S"})
            assert q.proc_is_zombie(child.pid) is False
            assert q.proc_oneshot_info(child.pid)[1] == q.SSLEEP
        finally:
            child.kill()
            child.wait(10)

    def test_context_switches_count_every_thread(self):
        code = ("import sys, threading, time\n"
                "def work():\n"
                "    for _ in range(100):\n"
                "        time.sleep(0.0005)\n"
                "ts = [threading.Thread(target=work) for _ in range(3)]\n"
                "[t.start() for t in ts]\n"
                "[t.join(0) for t in ts]\n"
                "while any(t.is_alive() for t in ts):\n"
                "    time.sleep(0.01)\n"
                "e = threading.Event()\n"
                "threading.Thread(target=e.wait).start()\n"
                "print('ready', flush=True)\n"
                "sys.stdin.read()\n"
                "e.set()\n")
        child = subprocess.Popen([sys.executable, "-c", code], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, text=True)

        def switches(task):
            with open(f"/proc/{child.pid}/task/{task}/status") as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches:"):
                        return int(line.split()[1])

        def per_thread():
            return {int(t): switches(t) for t in os.listdir(f"/proc/{child.pid}/task")}

        try:
            assert child.stdout.readline() == "ready\n"
            # The waiting thread may not have blocked yet on a busy machine.
            for task in os.listdir(f"/proc/{child.pid}/task"):
                wait_for_state(f"{child.pid}/task/{task}", {"S"})
            # Both remaining threads are blocked, so their counts hold still.
            before = per_thread()
            info = q.proc_oneshot_info(child.pid)
            assert per_thread() == before
            assert len(before) == 2 and all(n > 0 for n in before.values())
            assert info[10] == sum(before.values())
            assert q.proc_num_threads(child.pid) == 2
        finally:
            child.stdin.close()
            child.wait(10)


class TestAgainstPs:
    """The whole process table against the host's own ps."""

    @staticmethod
    def ps_table(pid=None):
        # The host's tool runs without the sanitizer runtime the suite may
        # have preloaded.
        env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        which = ["-e"] if pid is None else ["-p", str(pid)]
        out = subprocess.run(["ps", *which, "-o", "pid=,ppid=,ruid=,euid=,rgid=,nlwp=,comm="],
                             capture_output=True, text=True, env=env,
                             timeout=60).stdout
        rows = {}
        for line in out.splitlines():
            pid, ppid, ruid, euid, rgid, nlwp, comm = line.split(None, 6)
            # FreeBSD keeps 19 bytes of a name; the host's kernel threads
            # may have longer ones.
            rows[int(pid)] = (int(ppid), int(ruid), int(euid), int(rgid), int(nlwp),
                              comm.encode()[:19].decode(errors="ignore"))
        return rows

    def test_ids_threads_and_names_agree_with_ps(self):
        before = self.ps_table()
        ours = {}

        def ours_of(pid):
            info = q.proc_oneshot_info(pid)
            return (info[0], info[2], info[3], info[5], q.proc_num_threads(pid), info[24])

        for pid in q.pids():
            try:
                ours[pid] = ours_of(pid)
            except ProcessLookupError:
                pass
        after = self.ps_table()
        # Only processes that held still across both ps runs are compared.
        steady = {pid for pid in before if after.get(pid) == before[pid]}
        ps_self = {os.getpid()} | {p for p in steady if before[p][0] == os.getpid()}
        compared = 0
        for pid in steady - ps_self:
            if pid in ours:
                # A kernel worker renames itself for each work item, so a
                # difference is read again, both ways, before it counts.
                theirs = before[pid]
                for _ in range(5):
                    if ours[pid] == theirs:
                        break
                    theirs = self.ps_table(pid).get(pid)
                    try:
                        ours[pid] = ours_of(pid)
                    except ProcessLookupError:
                        theirs = None
                    if theirs is None:
                        break
                if theirs is None:
                    continue  # gone meanwhile
                assert ours[pid] == theirs, pid
                compared += 1
        assert compared >= len(steady - ps_self) - 2
        assert compared > 0
