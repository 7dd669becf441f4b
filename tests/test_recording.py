"""Recording a machine's platform answers and replaying them (docs/recording.md)."""

import errno
import os
import struct
import subprocess
import sys

import pytest

import _quarn_bsd as q
from quarn_record import __main__ as cli
from quarn_record import calls, fileformat as F

NCPU = ("sysctl", "6.3", [(F.ANSWER, 1, (0, 0, struct.pack("<i", 64)))])


def write(path, keys):
    F.write(path, F.lay_out_keys(keys), {}, [])
    return path


def packed(body, version=1, size=None):
    return F.MAGIC + struct.pack("<II", version, len(body) if size is None else size) + \
        F.pack(body)


@pytest.fixture(scope="module")
def host_recording(tmp_path_factory):
    path = tmp_path_factory.mktemp("rec") / "host.qrec"
    cli.record(str(path), raw=True)
    return path


def test_host_round_trip_is_exact(host_recording, replay):
    _, _, made = F.read(host_recording)
    assert len(made) > 500
    replay(host_recording)
    assert calls.check(q, made) == []
    # The comparison sees a difference when there is one.
    wrong = [[made[0][0], made[0][1], {"r": -1}]]
    assert len(calls.check(q, wrong)) == 1


def test_replay_never_asks_the_host(host_recording, replay):
    _, _, made = F.read(host_recording)
    recorded = next(r for name, _, r in made if name == "pids")["r"]
    late = subprocess.Popen([sys.executable, "-c", "import time; time.sleep(30)"])
    try:
        replay(host_recording)
        assert q.pids() == recorded
        with pytest.raises(ProcessLookupError):
            q.proc_name(late.pid)
    finally:
        late.kill()
        late.wait()


@pytest.mark.parametrize("fn, args, want", [
    ("cpu_count_logical", (), 64),
    ("proc_name", (1,), ProcessLookupError),
    ("proc_open_files", (1,), ProcessLookupError),
    ("net_if_mtu", ("em0",), OSError),
    ("users", (), []),
    ("cpu_freq", (0,), NotImplementedError),
])
def test_what_a_recording_lacks_is_missing(tmp_path, replay, fn, args, want):
    replay(write(tmp_path / "r.qrec", [NCPU]))
    if isinstance(want, type):
        with pytest.raises(want):
            getattr(q, fn)(*args)
    else:
        assert getattr(q, fn)(*args) == want


@pytest.mark.parametrize("setter, getter, value, host", [
    ("proc_priority_set", "proc_priority_get", (7,), lambda p: os.getpriority(os.PRIO_PROCESS, p)),
    ("proc_setrlimit", "proc_getrlimit", (7, 64, 128), lambda p: open(f"/proc/{p}/limits").read()),
    ("proc_cpu_affinity_set", "proc_cpu_affinity_get", ([0],), lambda p: os.sched_getaffinity(p)),
])
def test_setters_change_the_replay_only(host_recording, replay, setter, getter, value, host):
    pid = os.getpid()
    before = host(pid)
    replay(host_recording)
    getattr(q, setter)(pid, *value)
    got = getattr(q, getter)(pid, *value[:1]) if setter == "proc_setrlimit" else \
        getattr(q, getter)(pid)
    want = {"proc_priority_set": 7, "proc_setrlimit": (64, 128),
            "proc_cpu_affinity_set": [0]}[setter]
    assert got == want
    assert host(pid) == before
    with pytest.raises(ProcessLookupError):
        getattr(q, setter)(2 ** 22 + 1, *value)


def _key_twice():
    return F.lay_out_keys([NCPU, NCPU]) + F.record(F.END, b"")


BAD = [
    ("not a recording", lambda good: b"PK\x03\x04" + good[4:],
     "not a recording (no QUARNREC header)"),
    ("cut in the header", lambda good: good[:12], "recording is cut short"),
    ("cut in the body", lambda good: good[:len(good) // 2], "recording is cut short"),
    ("last byte cut", lambda good: good[:-1], "recording is cut short"),
    ("wrong version", lambda good: good[:8] + struct.pack("<I", 2) + good[12:],
     "recording version 2 is not supported (this build reads version 1)"),
    ("oversized record", lambda good: packed(struct.pack("<BI", F.KEY, 1 << 30)),
     "recording is corrupt: a record of 1073741824 bytes, over the limit of 256 MiB"),
    ("key given twice", lambda good: packed(_key_twice()),
     "recording gives the key sysctl 6.3 twice"),
    ("no end record", lambda good: packed(F.lay_out_keys([NCPU])), "recording is cut short"),
    ("data after the end", lambda good: packed(F.record(F.END, b"") + b"\0"),
     "recording is corrupt: data after the end record"),
    ("size stated wrong", lambda good: packed(F.record(F.END, b""), size=4),
     "recording is corrupt: the compressed body does not give the size it states"),
    ("unknown record", lambda good: packed(F.record(9, b"") + F.record(F.END, b"")),
     "recording is corrupt: a record of type 9"),
]


def _key(runs, call=b"sysctl", key=b"6.3", count=None):
    rec = struct.pack("<B", len(call)) + call + struct.pack("<H", len(key)) + key
    rec += struct.pack("<I", len(runs) if count is None else count) + b"".join(runs)
    return packed(F.record(F.KEY, rec) + F.record(F.END, b""))


ANSWER4 = struct.pack("<BIBqI", F.ANSWER, 1, 0, 0, 4) + b"\0\0\0\0"
BAD += [
    ("repeat of 0", lambda good: _key([struct.pack("<BIi", F.ERROR, 0, 2)]),
     "recording is corrupt: a repeat count of 0"),
    ("errno out of range", lambda good: _key([struct.pack("<BIi", F.ERROR, 1, 5000)]),
     "recording is corrupt: an error number of 5000"),
    ("measure too large", lambda good: _key([struct.pack("<BIQ", F.MEASURE, 1, 1 << 40)]),
     "recording is corrupt: a measure of 1099511627776 bytes"),
    ("again before an answer", lambda good: _key([struct.pack("<BIBq", F.AGAIN, 1, 0, 0)]),
     "recording is corrupt: an answer given again before it was given"),
    ("unknown run kind", lambda good: _key([struct.pack("<BIi", 9, 1, 0)]),
     "recording is corrupt: an answer of kind 9"),
    ("answer past its record", lambda good: _key([ANSWER4[:-2]]),
     "recording is corrupt: an answer runs past its record"),
    ("bytes left over", lambda good: _key([ANSWER4 + b"\0"]),
     "recording is corrupt: bytes left over in a key record"),
    ("count beyond the record", lambda good: _key([ANSWER4], count=1000),
     "recording is corrupt: a key with 1000 answers"),
    ("call that is no call", lambda good: _key([ANSWER4], call=b"Sys ctl"),
     "recording is corrupt: a call name that is no call"),
]


@pytest.mark.parametrize("case, mangle, message", BAD, ids=[b[0] for b in BAD])
def test_bad_recording_is_refused_with_its_reason(tmp_path, replay, case, mangle, message):
    good = write(tmp_path / "good.qrec", [NCPU]).read_bytes()
    bad = tmp_path / "bad.qrec"
    bad.write_bytes(mangle(good))
    with pytest.raises(ValueError) as e:
        replay(bad)
    assert str(e.value) == message
    # Nothing answers after a failed load, neither the file nor the host.
    with pytest.raises(ProcessLookupError):
        q.proc_name(os.getpid())
    assert q.cpu_count_logical() != 64
    if case in [b[0] for b in BAD[:11]] and case != "key given twice":
        # The tool's own reader checks the file and its records, the module
        # the keys and their answers.
        with pytest.raises(F.RecordingError) as e:
            F.read(bad)
        assert str(e.value) == message


def test_privacy_replaces_consistently(tmp_path, replay):
    secret_dir = tmp_path / "privatedirname"
    secret_dir.mkdir()
    args = ["-c", "import time; time.sleep(60)", "--token=Hunter2Secret", str(secret_dir)]
    child = subprocess.Popen([sys.executable] + args, cwd=secret_dir,
                             env={"SECRETVAR": "swordfish77"})
    try:
        out = tmp_path / "private.qrec"
        assert cli.main([str(out), "--pid", str(child.pid)]) == 0
    finally:
        child.kill()
        child.wait()
    meta, keys, made = F.read(out)
    for word in (b"Hunter2Secret", b"swordfish77", b"privatedirname"):
        assert word not in keys and word.decode() not in str(made)
    assert meta["raw"] is False and meta["kept"]
    replay(out)
    argv = q.proc_cmdline(child.pid)
    token, path = argv[-2], argv[-1]
    shape = [(c.isupper(), c.isdigit(), c.isalnum() or c) for c in "--token=Hunter2Secret"]
    assert token != "--token=Hunter2Secret"
    assert [(c.isupper(), c.isdigit(), c.isalnum() or c) for c in token] == shape
    assert q.proc_cwd(child.pid) == path and len(path) == len(str(secret_dir))
    env = q.proc_environ(child.pid)
    assert len(env["SECRETVAR"]) == 11 and env["SECRETVAR"] != "swordfish77"
    assert cli.check(str(out)) == 0


FIXTURES = sorted(str(p) for p in
                  (__import__("pathlib").Path(__file__).parent / "recordings").glob("*.qrec"))


@pytest.mark.parametrize("path", FIXTURES, ids=os.path.basename)
def test_fixture_replays_exactly(path):
    meta, keys, made = F.read(path)
    assert made and cli.check(path) == 0
    # The tool's reader and writer agree with the module's layout.
    assert F.lay_out_keys(F.parse_keys(keys)) == keys


def _table(n):
    return b"".join(struct.pack("<i68xi1012x", 1088, 100 + i) for i in range(n))


@pytest.mark.parametrize("runs, want", [
    # A table that grew between the measure and the read: the read fails
    # with ENOMEM and the module measures and reads again.
    ([(F.MEASURE, 1, 2 * 1088), (F.ERROR, 1, errno.ENOMEM), (F.MEASURE, 1, 3 * 1088),
      (F.ANSWER, 1, (0, 0, _table(3)))], [100, 101, 102]),
    # An answer alone: a measure gets its size.
    ([(F.ANSWER, 1, (0, 0, _table(2)))], [100, 101]),
])
def test_replayed_table_reads_as_on_freebsd(tmp_path, replay, runs, want):
    replay(write(tmp_path / "t.qrec", [("sysctl", "1.14.8.0", runs)]))
    assert q.pids() == want
    assert q.pids() == want  # the last answer stays in force


def test_environment_names_the_replay(tmp_path):
    bad = tmp_path / "bad.qrec"
    bad.write_bytes(b"QUARNREC\2\0\0\0")
    code = ("import _quarn_bsd as q\ntry:\n    print(q.cpu_count_logical(), len(q.pids()))\n"
            "except OSError as e:\n    print(e.errno)")
    env = dict(os.environ, QUARN_REPLAY=FIXTURES[0])
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)
    assert out.stdout.split() == ["64", "2000"]
    env["QUARN_REPLAY"] = str(bad)
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)
    assert "QUARN_REPLAY=%s: recording is cut short" % bad in out.stderr
    assert out.stdout.split() == [str(errno.ESRCH)]  # nothing of the host's either


def test_snapshot_shows_the_recorded_machine():
    root = os.path.join(os.path.dirname(__file__), "..")
    env = dict(os.environ, QUARN_REPLAY=FIXTURES[0])
    out = subprocess.run([sys.executable, os.path.join(root, "tools", "snapshot.py")], env=env,
                         capture_output=True, text=True, check=True).stdout
    header = out.splitlines()[0].split()
    assert header[:4] == ["bighost.example", "FreeBSD", "14.2-RELEASE,", "recorded"]
    assert "Processes  2000 " in out


def test_recording_keeps_runs_and_answers_again(host_tree):
    from quarn_record import native
    for pid in (1, 7):
        host_tree("/proc/%d/stat" % pid, "%d (x) S 0 0 0 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 1 0 0"
                  % pid + " 0" * 30 + "\n")
    native.start()
    try:
        assert sorted(q.pids()) == sorted(q.pids()) == [1, 7]
        pages = [q.getpagesize() for _ in range(3)]
    finally:
        native.stop()
    keys = {(c, k): runs for c, k, runs in F.parse_keys(native.take())}
    table = keys[("sysctl", "1.14.8.0")]
    assert [r[0] for r in table] == [F.MEASURE, F.ANSWER, F.MEASURE, F.AGAIN]
    assert keys[("sysconf", "47")] == [(F.ANSWER, 3, (1, pages[0], b""))]


@pytest.mark.parametrize("results", [[["set_debug", [True], {}]], [["pids"]], [7]])
def test_check_makes_only_the_recorders_calls(tmp_path, capsys, results):
    path = tmp_path / "r.qrec"
    F.write(path, F.lay_out_keys([NCPU]), {}, results)
    assert cli.main(["--check", str(path)]) == 1
    assert "a result that is no call of the recorder's" in capsys.readouterr().err


PORTABLE = os.path.join(os.path.dirname(__file__), "portable")


@pytest.mark.skipif(not os.path.isdir(PORTABLE), reason="no portable suite in this tree")
@pytest.mark.parametrize("path", FIXTURES, ids=os.path.basename)
def test_portable_suite_holds_on_the_replay(path):
    env = dict(os.environ, QUARN_REPLAY=path)
    run = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider",
                          PORTABLE], env=env, capture_output=True, text=True)
    assert run.returncode == 0, run.stdout[-3000:]


REGRESSIONS = os.path.join(os.path.dirname(__file__), "..", "fuzz", "regressions", "recording")


@pytest.mark.parametrize("name", sorted(os.listdir(REGRESSIONS)))
def test_fuzz_regression_is_refused(tmp_path, replay, name):
    # The first byte says what follows (fuzz/recording.cpp): even, a file;
    # odd, a body, here put in a file of its own.
    data = open(os.path.join(REGRESSIONS, name), "rb").read()
    path = tmp_path / "r.qrec"
    path.write_bytes(data[1:] if data[0] % 2 == 0 else packed(data[1:]))
    with pytest.raises(ValueError, match="^recording is (cut short|corrupt: )"):
        replay(path)
    with pytest.raises(ProcessLookupError):
        q.proc_name(os.getpid())
