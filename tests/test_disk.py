"""Mounted file systems and per-device I/O counters, injected and live."""

import errno
import json
import os
import shutil
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import _quarn_bsd as q
import standin
from leakcheck import assert_flat
from records import STATFS_SIZE, devstat, statfs

MNT = dict(RDONLY=0x1, SYNCHRONOUS=0x2, NOEXEC=0x4, NOSUID=0x8, NFS4ACLS=0x10, UNION=0x20,
           ASYNC=0x40, SUIDDIR=0x100000, SOFTDEP=0x200000, NOSYMFOLLOW=0x400000,
           GJOURNAL=0x2000000, MULTILABEL=0x4000000, ACLS=0x8000000, NOATIME=0x10000000,
           NOCLUSTERR=0x40000000, NOCLUSTERW=0x80000000)
ALL_TEXT = ("ro,sync,noexec,nosuid,async,noatime,softdep,union,suiddir,nosymfollow,gjournal,"
            "multilabel,acls,noclusterr,noclusterw,nfs4acls")


def host_env():
    """The environment for host tools: without the sanitizer runtime the suite
    may have preloaded."""
    return {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


def mounts(*records, counts=None):
    """Answers both getfsstat calls: by default the count of the records,
    then the records; counts=(first, second) claims other counts."""
    data = b"".join(records)
    if counts is None:
        standin.push("getfsstat", "", standin.answer(data))
    else:
        standin.sequence("getfsstat", "", [standin.answer(data, value=counts[0]),
                                           standin.answer(data, value=counts[1])])


def devices(*records, numdevs=None):
    standin.push("devstat_getdevs", "", standin.answer(b"".join(records), value=numdevs))


# ---- disk_partitions, injected ----

class TestPartitionOptions:
    @pytest.mark.parametrize("flags, text", [
        (0, "rw"),
        (MNT["RDONLY"] | MNT["NOEXEC"] | MNT["NOSUID"], "ro,noexec,nosuid"),
        (MNT["NOATIME"] | MNT["ASYNC"], "rw,async,noatime"),
        (MNT["NFS4ACLS"] | MNT["ACLS"], "rw,acls,nfs4acls"),
        (MNT["NOCLUSTERW"], "rw,noclusterw"),
        (0xFFFFFFFF00000000 | MNT["SYNCHRONOUS"], "rw,sync"),
        (0x1000 | 0x4000 | 0x8000, "rw"),
        (sum(MNT.values()), ALL_TEXT),
    ])
    def test_options_text(self, flags, text):
        mounts(statfs("/dev/da0p2", "/", "ufs", flags))
        assert q.disk_partitions() == [("/dev/da0p2", "/", "ufs", text)]


class TestPartitionRecords:
    def test_records_in_kernel_order(self):
        mounts(statfs("/dev/ada0p2", "/", "ufs"), statfs("devfs", "/dev", "devfs"),
               statfs("tmpfs", "/tmp", "tmpfs", MNT["NOSUID"]))
        assert q.disk_partitions() == [("/dev/ada0p2", "/", "ufs", "rw"),
                                       ("devfs", "/dev", "devfs", "rw"),
                                       ("tmpfs", "/tmp", "tmpfs", "rw,nosuid")]

    def test_full_width_names_are_taken_whole(self):
        dev, mnt, fstype = "d" * 1024, "/" + "m" * 1023, "f" * 16
        mounts(statfs(dev, mnt, fstype))
        assert q.disk_partitions() == [(dev, mnt, fstype, "rw")]

    def test_measures_then_reads_count_records(self):
        mounts(statfs("a", "/a", "ufs"), statfs("b", "/b", "ufs"))
        q.disk_partitions()
        calls = standin.calls_to("getfsstat")
        assert [(c.op, c.size) for c in calls] == [("measure", 0), ("read", 2 * STATFS_SIZE)]

    @pytest.mark.parametrize("counts, expected", [
        ((0, 0), 0),      # nothing mounted
        ((2, 0), 0),      # all unmounted between the calls
        ((2, 1), 1),      # one unmounted between the calls
        ((1, 5), 1),      # more claimed than the buffer holds
        ((-7, 3), 0),     # a count below -1
        ((2, -4), 0),     # a record count below -1
    ])
    def test_counts_never_read_past_the_buffer(self, counts, expected):
        mounts(statfs("a", "/a", "ufs"), statfs("b", "/b", "ufs"), counts=counts)
        assert len(q.disk_partitions()) == expected

    def test_records_the_kernel_did_not_write_are_not_reported(self):
        earlier = statfs("a", "/a", "ufs") + statfs("b", "/b", "ufs") + statfs("c", "/c", "ufs")
        # One record written, three claimed, into memory that still holds an
        # earlier table (the fill stands for a recycled block).
        standin.alloc_fill(earlier)
        mounts(statfs("d", "/d", "ufs"), counts=(3, 3))
        assert q.disk_partitions() == [("d", "/d", "ufs", "rw")]
        standin.reset()
        mounts(statfs("d", "/d", "ufs"), statfs("e", "/e", "ufs", version=0),
               statfs("f", "/f", "ufs"))
        assert q.disk_partitions() == [("d", "/d", "ufs", "rw")]

    @pytest.mark.parametrize("claimed, given, reads", [
        (2 ** 20 + 1, 1, [1024]),         # a count taken on faith would be 2.4 GB
        (2 ** 31 - 1, 0, [1024]),
        (1500, 1500, [1024, 1500]),       # grown into only while the kernel fills it
        (1024, 1024, [1024]),
    ])
    def test_buffer_follows_what_the_kernel_fills(self, claimed, given, reads):
        data = statfs("a", "/a", "ufs") * given
        # the read claims the count as well
        standin.push("getfsstat", "", standin.answer(data, value=claimed))
        assert len(q.disk_partitions()) == given
        sizes = [c.size for c in standin.calls_to("getfsstat") if c.op == "read"]
        assert sizes == [n * STATFS_SIZE for n in reads]

    @pytest.mark.parametrize("steps", [
        [standin.error(errno.EIO)],
        [standin.answer(statfs("a", "/a", "ufs")), standin.error(errno.EFAULT)],
    ])
    def test_failed_call_is_the_plain_oserror(self, steps):
        standin.sequence("getfsstat", "", steps)
        with pytest.raises(OSError) as e:
            q.disk_partitions()
        assert e.value.errno == steps[-1].err
        assert e.value.strerror == os.strerror(steps[-1].err)

    def test_undecodable_device_raises_the_interpreter_error(self, monkeypatch):
        mounts(statfs("ok", "/ok", "ufs"), statfs("a", "/a", b"\xff\xfe"))
        with pytest.raises(UnicodeDecodeError):
            q.disk_partitions()

    def test_lock_is_released_around_getfsstat(self):
        standin.getfsstat_hold(True)
        result = []
        worker = threading.Thread(target=lambda: result.append(q.disk_partitions()))
        try:
            worker.start()
            deadline = time.monotonic() + 5
            # This loop runs Python code, so it advances only while the
            # worker, held inside getfsstat, has let go of the lock.
            while standin.getfsstat_waiting() == 0:
                assert time.monotonic() < deadline, "getfsstat held the interpreter lock"
                time.sleep(0.001)
        finally:
            standin.getfsstat_hold(False)
            worker.join()
        assert result and isinstance(result[0], list)


# ---- disk_io_counters, injected ----

class TestIoCounters:
    @pytest.mark.parametrize("bintime, ms", [
        ((1, 1 << 63), 1500),
        ((0, (1 << 64) - 1), 999),
        ((2, 1 << 62), 2250),
        ((0, 0xFFFFFFFF), 0),         # the lower 32 bits never count
        ((-1, 0), -1000),
    ])
    def test_bintime_as_milliseconds(self, bintime, ms):
        devices(devstat("ada", 0, rtime=bintime, wtime=bintime, busy=bintime))
        assert q.disk_io_counters()["ada0"][4:] == (ms, ms, ms)

    def test_counters_in_order(self):
        devices(devstat("da", 12, reads=1, writes=2, rbytes=3, wbytes=(1 << 64) - 1))
        assert q.disk_io_counters() == {"da12": (1, 2, 3, (1 << 64) - 1, 0, 0, 0)}

    def test_later_duplicate_replaces_earlier(self):
        devices(devstat("ada", 0, reads=1), devstat("cd", 0), devstat("ada", 0, reads=2))
        assert q.disk_io_counters() == {"ada0": (2, 0, 0, 0, 0, 0, 0),
                                        "cd0": (0, 0, 0, 0, 0, 0, 0)}

    def test_full_width_driver_name_is_taken_whole(self):
        devices(devstat("x" * 16, 3))
        assert list(q.disk_io_counters()) == ["x" * 16 + "3"]

    @pytest.mark.parametrize("numdevs", [None, 0, -1, -(1 << 31)])
    def test_no_devices_give_an_empty_dictionary(self, numdevs):
        devices(*([] if numdevs is None else [devstat("ada", 0)]), numdevs=numdevs)
        assert q.disk_io_counters() == {}

    def test_library_never_counts_past_what_it_holds(self):
        devices(devstat("ada", 0), numdevs=1000)
        assert list(q.disk_io_counters()) == ["ada0"]

    @pytest.mark.parametrize("call, step, message", [
        ("devstat_checkversion", standin.error(errno.EINVAL), "devstat_checkversion() syscall failed"),
        ("devstat_checkversion", standin.answer(value=-1), "devstat_checkversion() syscall failed"),
        ("devstat_getdevs", standin.error(errno.ENOMEM), "devstat_getdevs() syscall failed"),
    ])
    def test_library_failures(self, call, step, message):
        standin.push(call, "", step)
        with pytest.raises(RuntimeError, match=r"^" + message.replace("(", r"\(").replace(")", r"\)") + "$"):
            q.disk_io_counters()
        if call == "devstat_checkversion":
            assert standin.calls_to("devstat_getdevs") == []


# ---- the stand-in's device names, from a made-up /proc and /sys ----

DISKSTATS = "\n".join(
    f"{maj} {mn} {name} 10 0 8 7 20 0 16 1234 0 5001 0" for maj, mn, name in [
        (8, 0, "sda"), (8, 1, "sda1"), (8, 16, "sdb"), (65, 160, "sdaa"), (253, 0, "vda"),
        (259, 0, "nvme0n1"), (259, 1, "nvme0n1p1"), (7, 0, "loop0"), (179, 0, "mmcblk0"),
        (252, 0, "dm-0")]) + "\n"


def test_host_names_become_recognisable_keys(host_tree):
    host_tree("/proc/diskstats", DISKSTATS)
    for part in ("sda1", "nvme0n1p1"):
        host_tree(f"/sys/class/block/{part}/partition", "1\n")
    got = q.disk_io_counters()
    assert sorted(got) == sorted(["sd0", "sd1", "sd26", "vd0", "nvme0n1", "loop0", "mmcblk0",
                                  "dm-0"])
    # Sectors are 512 bytes; milliseconds come back exactly from bintimes.
    assert got["sd0"] == (10, 20, 8 * 512, 16 * 512, 7, 1234, 5001)


# ---- live ----

def diskstats():
    """/proc/diskstats as name -> the module's seven numbers."""
    out = {}
    with open("/proc/diskstats") as f:
        for line in f:
            w = line.split()
            if len(w) >= 13:
                out[w[2]] = (int(w[3]), int(w[7]), int(w[5]) * 512, int(w[9]) * 512,
                             int(w[6]), int(w[10]), int(w[12]))
    return out


def expected_key(name):
    """The documented naming rule: a name ending in digits is kept; a
    lettered disk is its driver and the drive's number from a = 0."""
    if name[-1].isdigit():
        return name
    for prefix in ("xvd", "sd", "vd", "hd"):
        if name.startswith(prefix) and name[len(prefix):].isalpha():
            unit = 0
            for c in name[len(prefix):]:
                unit = unit * 26 + ord(c) - ord("a") + 1
            return f"{prefix}{unit - 1}"
    return name + "0"


def test_live_counters_agree_with_diskstats():
    before = diskstats()
    got = q.disk_io_counters()
    after = diskstats()
    assert got
    by_key = {expected_key(name): name for name in before
              if not os.path.exists(f"/sys/class/block/{name}/partition")}
    assert set(got) == set(by_key)
    for key, values in got.items():
        name = by_key[key]
        assert all(lo <= v <= hi for lo, v, hi in zip(before[name], values, after[name])), key


@pytest.fixture
def loop_device(tmp_path):
    if not shutil.which("losetup") or os.geteuid() != 0:
        pytest.skip("no losetup or not root")
    image = tmp_path / "disk.img"
    image.write_bytes(b"\0" * (8 << 20))
    made = subprocess.run(["losetup", "-f", "--show", str(image)], capture_output=True, text=True,
                          env=host_env())
    if made.returncode != 0:
        pytest.skip("cannot make a loop device: " + made.stderr.strip())
    dev = made.stdout.strip()
    try:
        yield dev
    finally:
        subprocess.run(["losetup", "-d", dev], env=host_env())


def test_live_write_to_a_loop_device_is_counted(loop_device):
    key = os.path.basename(loop_device)
    before = q.disk_io_counters()[key]
    block = os.urandom(1 << 20)
    fd = os.open(loop_device, os.O_WRONLY)
    try:
        for _ in range(4):
            os.write(fd, block)
        os.fsync(fd)
    finally:
        os.close(fd)
    after = q.disk_io_counters()[key]
    assert after[3] - before[3] >= 4 << 20
    assert after[1] > before[1]
    assert all(a <= b for a, b in zip(after, diskstats()[key]))


def in_mount_namespace(code):
    """Runs code in a child Python inside a private mount namespace of its
    own; returns what it prints, as JSON."""
    if not shutil.which("unshare") or os.geteuid() != 0:
        pytest.skip("no unshare or not root")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    run = subprocess.run(["unshare", "-m", "--propagation", "private", sys.executable, "-c",
                          textwrap.dedent(code)], capture_output=True, text=True, env=env,
                         timeout=60)
    if run.returncode != 0 and "unshare" in run.stderr[:200]:
        pytest.skip("cannot make a mount namespace: " + run.stderr.strip())
    assert run.returncode == 0, run.stderr
    return json.loads(run.stdout)


def test_live_mount_shows_its_options():
    got = in_mount_namespace("""
        import json, os, subprocess, tempfile
        import _quarn_bsd as q
        env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        d = tempfile.mkdtemp()
        subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,noexec,nosuid", "quarn-test", d],
                       check=True, env=env)
        print(json.dumps([p for p in q.disk_partitions() if p[1] == d]))
        subprocess.run(["umount", d], check=True, env=env)
        os.rmdir(d)
    """)
    assert len(got) == 1
    assert got[0][0] == "quarn-test" and got[0][2:] == ["tmpfs", "ro,noexec,nosuid"]


def test_live_partitions_agree_with_findmnt():
    if not shutil.which("findmnt"):
        pytest.skip("no findmnt")
    got = in_mount_namespace("""
        import json, os, subprocess
        import _quarn_bsd as q
        env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        os.makedirs("/tmp/quarn esc\\\\dir", exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "sp ace", "/tmp/quarn esc\\\\dir"], check=True,
                       env=env)
        ours = q.disk_partitions()
        tool = json.loads(subprocess.run(
            ["findmnt", "-J", "-l", "-v", "-o", "SOURCE,TARGET,FSTYPE"], capture_output=True,
            text=True, check=True, env=env).stdout)["filesystems"]
        print(json.dumps([ours, tool]))
    """)
    ours, tool = got
    assert [tuple(p[:3]) for p in ours] == [(bsd_source(t["source"]), t["target"], t["fstype"])
                                            for t in tool]
    assert ("sp ace", "/tmp/quarn esc\\dir", "tmpfs", "rw") in [tuple(p) for p in ours]


def bsd_source(source, root="/"):
    """A mount's source as the stand-in names it: a host block device by
    the device statistics' key (/dev/vda as /dev/vd0, /dev/vda1 as
    /dev/vd0p1)."""
    name = source.removeprefix("/dev/")
    block = os.path.join(root, "sys/class/block", name)
    if name == source or "/" in name or not os.path.exists(block):
        return source
    part = os.path.join(block, "partition")
    if not os.path.exists(part):
        return "/dev/" + expected_key(name)
    with open(part) as f:
        number = f.read().strip()
    disk = os.path.basename(os.path.dirname(os.path.realpath(block)))
    return f"/dev/{expected_key(disk)}p{number}"


@pytest.mark.parametrize("source,tree,want", [
    ("/dev/vdq", {"vdq/dev": "254:0"}, "/dev/vd16"),
    ("/dev/nvme0n1p2", {"nvme0n1p2": "nvme0n1"}, "/dev/nvme0n1p2"),
    ("/dev/sdb3", {"sdb3": "sdb"}, "/dev/sd1p3"),
    ("/dev/vdq", {}, "/dev/vdq"),                       # no such block device
    ("/dev/mapper/root", {"vdq/dev": "254:0"}, "/dev/mapper/root"),
    ("tank/home", {}, "tank/home"),
])
def test_a_mounted_disk_goes_by_its_statistics_name(host_tree, tmp_path, source, tree, want):
    """The mount and I/O tables name one disk alike. tree: block device ->
    its dev file, or partition -> its disk (a link into the disk's folder)."""
    host_tree("/proc/self/mountinfo", f"28 1 254:0 / / rw,relatime - ext4 {source} rw\n")
    host_tree("/sys/class/block/.keep", "")
    for name, what in tree.items():
        if name.endswith("/dev"):
            host_tree(f"/sys/class/block/{name}", what + "\n")
            continue
        host_tree(f"/sys/devices/virtual/block/{what}/{name}/partition", name[-1] + "\n")
        os.symlink(f"../../devices/virtual/block/{what}/{name}",
                   tmp_path / f"sys/class/block/{name}")
    assert q.disk_partitions() == [(want, "/", "ext4", "rw")]
    assert bsd_source(source, str(tmp_path)) == want


def test_live_calls_from_threads_agree():
    want = q.disk_partitions()
    results = []

    def worker():
        for _ in range(20):
            results.append(q.disk_partitions())

    threads = [threading.Thread(target=worker) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(results) == 80 and all(r == want for r in results)


# ---- leaks ----

@pytest.mark.parametrize("setup, fn, expect", [
    (lambda: None, q.disk_partitions, None),
    (lambda: mounts(statfs("a", "/a", "ufs"), statfs("b", "/b", "ufs")), q.disk_partitions, None),
    (lambda: standin.push("getfsstat", "", standin.error(errno.EIO)), q.disk_partitions, OSError),
    (lambda: mounts(statfs("a", "/a", b"\xff")), q.disk_partitions, UnicodeDecodeError),
    (lambda: None, q.disk_io_counters, None),
    (lambda: devices(devstat("ada", 0), devstat("da", 1)), q.disk_io_counters, None),
    (lambda: standin.push("devstat_getdevs", "", standin.error(errno.EIO)), q.disk_io_counters,
     RuntimeError),
    (lambda: standin.push("devstat_checkversion", "", standin.error(errno.EIO)),
     q.disk_io_counters, RuntimeError),
])
def test_no_leaks(setup, fn, expect):
    setup()
    assert_flat(fn, calls=2000, expect=expect)
