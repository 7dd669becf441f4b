"""The stand-in's host readers under a made-up root, and its netlink dumps
answered from injected datagrams: the module sees only what they give."""

import errno
import socket
import struct

import pytest

import _quarn_bsd as q
import standin


@pytest.fixture
def root(host_tree):
    """A made-up host root (host_tree), and nothing injected afterwards."""
    yield host_tree
    standin.reset()


def made_up_process(tree):
    """Process 1 of the made-up root: "madeup", threads 1 and 7, made from
    this process's own files with the names and numbers changed."""
    with open("/proc/self/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    fields[0], fields[17] = "S", "2"  # the state and the thread count

    def status(tid):
        with open("/proc/self/status") as f:
            lines = f.read().splitlines()
        new = {"Name": "madeup", "Tgid": "1", "Pid": str(tid), "Threads": "2",
               "State": "S (sleeping)"}
        return "\n".join(f"{k}:\t{new[k]}" if (k := ln.split(":")[0]) in new else ln
                         for ln in lines) + "\n"

    for d, tid in (("/proc/1", 1), ("/proc/1/task/1", 1), ("/proc/1/task/7", 7)):
        tree(f"{d}/stat", f"{tid} (madeup) {' '.join(fields)}\n")
        tree(f"{d}/status", status(tid))
    tree("/proc/1/comm", "madeup\n")
    tree("/proc/1/cmdline", b"made\0--up\0")
    tree("/proc/1/environ", b"MADE=up\0")
    with open("/proc/self/smaps") as f:
        text = f.read().splitlines()
    head = text[0].split()
    block = [" ".join(head[:5] + ["/made/up/lib.so"])]
    block += [ln for ln in text[1:] if ":" in ln.split()[0]][:20]
    tree("/proc/1/smaps", "\n".join(block) + "\n")
    tree.link("/proc/1/exe", "/made/up/init")


@pytest.mark.parametrize("fn,args,pick,expected", [
    ("pids", (), list, [1]),
    ("proc_name", (1,), str, "madeup"),
    ("proc_num_threads", (1,), int, 2),
    ("proc_threads", (1,), lambda ts: sorted(t[0] for t in ts), [1, 7]),
    ("proc_exe", (1,), str, "/made/up/init"),
    ("proc_cmdline", (1,), list, ["made", "--up"]),
    ("proc_environ", (1,), dict, {"MADE": "up"}),
    ("proc_memory_maps", (1,), lambda ms: [m[2] for m in ms], ["/made/up/lib.so"]),
    ("proc_oneshot_info", (1,), lambda r: r[-1], "madeup"),
])
def test_per_process_readers_follow_the_root(root, fn, args, pick, expected):
    made_up_process(root)
    assert pick(getattr(q, fn)(*args)) == expected


def utmp(user, line, host, pid, sec):
    """A record of the host's utmp file (x86_64 layout, 384 bytes)."""
    return struct.pack("<hxxi32s4s32s256shhiii16s20x", 7, pid, line.encode(), b"ts/9",
                       user.encode(), host.encode(), 0, 0, 0, sec, 0, b"")


@pytest.mark.parametrize("path,data,fn,args,expected", [
    pytest.param("/proc/self/mountinfo",
                 "36 35 98:0 / /made/up rw,noatime shared:1 - ext3 /dev/made1 rw,errors=continue\n",
                 "disk_partitions", (True,), [("/dev/made1", "/made/up", "ext3", "rw,noatime")],
                 id="mountinfo"),
    pytest.param("/var/run/utmp", utmp("maker", "pts/9", "made.example", 4242, 1765000000),
                 "users", (), [("maker", "pts/9", "made.example", 1765000000.0, 4242)], id="utmp"),
])
def test_tables_follow_the_root(root, path, data, fn, args, expected):
    root(path, data)
    assert getattr(q, fn)(*args) == expected


# Lines of a made-up mount table and the partitions they give: escapes
# undone, optional fields passed over, options matched whole, lines that are
# no mount skipped.
@pytest.mark.parametrize("lines,expected", [
    pytest.param(["36 35 98:0 / /made/with\\040blank rw - ext4 /dev/back\\134slash rw"],
                 [("/dev/back\\slash", "/made/with blank", "ext4", "rw")], id="escapes"),
    pytest.param(["37 35 0:5 / /r ro,nosuid,noexec shared:2 master:1 - tmpfs none rw,acl"],
                 [("none", "/r", "tmpfs", "ro,noexec,nosuid,acls")], id="optional-fields"),
    pytest.param(["38 35 0:6 / /n rw,relatime - xfs /dev/n rw,noacl,sync=1"],
                 [("/dev/n", "/n", "xfs", "rw,sync")], id="whole-options"),
    pytest.param(["39 35 0:7 / /gone rw tmpfs none rw", "40 35", "41 35 0:8 / /cut rw - tmpfs",
                  "42 35 0:9 / /kept rw - tmpfs kept rw"],
                 [("kept", "/kept", "tmpfs", "rw")], id="no-mount-lines"),
    pytest.param(["43 35 0:9 / /long rw - tmpfs " + "s" * 300000 + " rw",
                  "44 35 0:9 / /after rw - tmpfs after rw"],
                 [("s" * 1023, "/long", "tmpfs", "rw"), ("after", "/after", "tmpfs", "rw")],
                 id="line-past-a-read"),
    pytest.param([f"{i} 1 0:9 / /m{i} rw - tmpfs m{i} rw" for i in range(1500)],
                 [(f"m{i}", f"/m{i}", "tmpfs", "rw") for i in range(1500)],
                 id="past-the-first-buffer"),
])
def test_mount_table_lines(root, lines, expected):
    root.put("/proc/self/mountinfo", "\n".join(lines))  # the last line unended
    assert q.disk_partitions(True) == expected


# Netlink messages as the host's kernel sends them.
NLMSG_ERROR, NLMSG_DONE = 2, 3
RTM_NEWLINK, RTM_NEWADDR, SOCK_DIAG_BY_FAMILY = 16, 20, 20
DUMPS = ("sock_diag.tcp4", "sock_diag.tcp6", "sock_diag.udp4", "sock_diag.udp6",
         "sock_diag.unix", "route.link", "route.addr")


def nlmsg(type_, payload, length=None):
    pad = b"\0" * (-len(payload) % 4)
    n = 16 + len(payload) if length is None else length
    return struct.pack("<IHHII", n, type_, 2, 1, 0) + payload + pad


def attr(type_, data):
    return struct.pack("<HH", 4 + len(data), type_) + data + b"\0" * (-len(data) % 4)


DONE = nlmsg(NLMSG_DONE, b"\0" * 4)


def tcp4_listener(ip, port, inode):
    sid = struct.pack(">HH", port, 0) + socket.inet_aton(ip) + b"\0" * 28 + b"\0" * 12
    return nlmsg(SOCK_DIAG_BY_FAMILY, struct.pack("<BBBB", 2, 10, 0, 0) + sid +
                 struct.pack("<IIIII", 0, 0, 0, 0, inode))


def link(index, name):
    return nlmsg(RTM_NEWLINK, struct.pack("<BxHiII", 0, 772, index, 0x49, 0) +
                 attr(3, name.encode() + b"\0") + attr(4, struct.pack("<I", 1500)))


def addr4(index, ip, prefix):
    return nlmsg(RTM_NEWADDR, struct.pack("<BBBBI", 2, prefix, 0, 0, index) +
                 attr(1, socket.inet_aton(ip)) + attr(2, socket.inet_aton(ip)))


LISTENER = [(3, 2, 1, ("127.0.0.1", 8080), (), q.TCPS_LISTEN, 1)]
MADE0 = [("made0", 2, "10.1.2.3", "255.255.255.0", None, None)]
CUT = tcp4_listener("127.0.0.1", 8080, 4242)[:60]


TCP = ("net_connections", ([2], [1]))
IFS = ("net_if_addrs", ())


@pytest.mark.parametrize("dumps,call,expected", [
    pytest.param({"sock_diag.tcp4": [tcp4_listener("127.0.0.1", 8080, 4242) + DONE]},
                 TCP, LISTENER, id="one-datagram"),
    pytest.param({"sock_diag.tcp4": [tcp4_listener("127.0.0.1", 8080, 4242), DONE]},
                 TCP, LISTENER, id="two-datagrams"),
    pytest.param({"sock_diag.tcp4": [errno.ENOBUFS]}, TCP, errno.ENOBUFS, id="recv-error"),
    pytest.param({"sock_diag.tcp4": [CUT]}, TCP, errno.EIO, id="cut-message"),
    pytest.param({"sock_diag.tcp4": [nlmsg(SOCK_DIAG_BY_FAMILY, b"", length=0xfffffff0)]},
                 TCP, errno.EIO, id="length-past-2g"),
    pytest.param({"sock_diag.tcp4": [DONE + nlmsg(NLMSG_DONE, b"\0")[:17]]},
                 TCP, errno.EIO, id="unpadded-end"),
    pytest.param({"sock_diag.tcp4": [tcp4_listener("127.0.0.1", 8080, 4242), b""]},
                 TCP, errno.EIO, id="hung-up"),
    pytest.param({"sock_diag.tcp4": [nlmsg(NLMSG_ERROR, struct.pack("<i", -errno.EPERM) +
                                           b"\0" * 16)]}, TCP, errno.EPERM, id="error-reply"),
    pytest.param({"route.link": [link(2, "made0"), DONE],
                  "route.addr": [addr4(2, "10.1.2.3", 24) + DONE]}, IFS, MADE0, id="links-addrs"),
    pytest.param({"route.link": [link(2, "made0") + link(3, "made1") + DONE],
                  "route.addr": [addr4(3, "10.9.0.1", 16) + addr4(2, "10.1.2.3", 24) +
                                 addr4(9, "10.7.7.7", 8) + addr4(3, "10.9.0.2", 16) + DONE]},
                 IFS, MADE0 + [("made1", 2, ip, "255.255.0.0", None, None)
                               for ip in ("10.9.0.1", "10.9.0.2")], id="addresses-by-link"),
    pytest.param({"route.link": [errno.EPERM]}, IFS, errno.EPERM, id="link-recv-error"),
    pytest.param({"route.link": [link(2, "made0") + DONE],
                  "route.addr": [addr4(2, "10.1.2.3", 24)[:-3]]}, IFS, errno.EIO, id="cut-addr"),
    pytest.param({"route.link": [link(2, "made0")]}, IFS, errno.EIO, id="no-end"),
    pytest.param({"route.link": [nlmsg(RTM_NEWLINK, b"") * 4000 for _ in range(17)]}, IFS,
                 errno.ENOBUFS, id="too-many-links"),
])
def test_injected_netlink_dumps(root, dumps, call, expected):
    fn, args = call
    root.link("/proc/1/fd/3", "socket:[4242]")
    for key in DUMPS:
        for step in dumps.get(key, [DONE]):
            standin.push("netlink_recv", key, standin.error(step) if isinstance(step, int)
                         else standin.answer(step))
    if isinstance(expected, int):
        with pytest.raises(OSError) as e:
            getattr(q, fn)(*args)
        assert e.value.errno == expected
    else:
        out = getattr(q, fn)(*args)
        assert [r for r in out if r[0] != "lo"] == expected
