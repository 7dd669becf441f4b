"""net_connections and proc_net_connections on real sockets that the tests
make and close, compared with what they were made as and with ss."""

import os
import re
import socket
import subprocess
import sys

import pytest

import _quarn_bsd as q

AF_UNIX, AF_INET, AF_INET6 = 1, 2, 28
LISTEN, ESTABLISHED, NONE = 1, 4, 128
ALL = ((1, 2, 28), (1, 2))
ME = os.getpid()


def tcp_pair(family, host):
    lsn = socket.socket(family, socket.SOCK_STREAM)
    lsn.bind((host, 0))
    lsn.listen()
    cli = socket.create_connection(lsn.getsockname()[:2])
    srv, _ = lsn.accept()
    return lsn, cli, srv


def pair_of(sock, peer=True):
    """The address pairs a socket should be reported with."""
    local = sock.getsockname()[:2]
    try:
        remote = sock.getpeername()[:2] if peer else ()
    except OSError:
        remote = ()
    return local, remote


class Sockets:
    """Every kind of socket the tables must show, owned by this process (and
    one also by a child); expected maps fd to its 6-element tuple."""

    def __init__(self, tmp):
        self.socks, self.expected = [], {}
        for family, host, af in ((socket.AF_INET, "127.0.0.1", AF_INET),
                                 (socket.AF_INET6, "::1", AF_INET6)):
            lsn, cli, srv = tcp_pair(family, host)
            self.add(lsn, af, 1, *pair_of(lsn, False), LISTEN)
            for s in (cli, srv):
                self.add(s, af, 1, *pair_of(s), ESTABLISHED)
        bound = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        bound.bind(("127.0.0.1", 0))
        self.add(bound, AF_INET, 2, *pair_of(bound, False), NONE)
        conn = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        conn.connect(bound.getsockname())
        self.add(conn, AF_INET, 2, *pair_of(conn), NONE)
        for type_, name in ((socket.SOCK_STREAM, "s.sock"), (socket.SOCK_DGRAM, "d.sock")):
            u = socket.socket(socket.AF_UNIX, type_)
            u.bind(str(tmp / name))
            if type_ == socket.SOCK_STREAM:
                u.listen()
            self.add(u, AF_UNIX, int(type_), str(tmp / name), "", NONE)
        unbound = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.add(unbound, AF_UNIX, 1, "", "", NONE)
        self.listener4 = self.socks[0]
        # One socket under two descriptors, and one shared with a child.
        self.dup = os.dup(self.listener4.fileno())
        self.expected[self.dup] = (self.dup,) + self.expected[self.listener4.fileno()][1:]
        self.shared = self.socks[-2]  # the UNIX datagram socket
        self.child = subprocess.Popen(
            [sys.executable, "-c", "import sys; sys.stdin.read()"],
            stdin=subprocess.PIPE, pass_fds=[self.shared.fileno()])

    def add(self, sock, family, type_, local, remote, status):
        self.socks.append(sock)
        self.expected[sock.fileno()] = (sock.fileno(), family, type_, local, remote, status)

    def close(self):
        self.child.stdin.close()
        self.child.wait()
        os.close(self.dup)
        for s in self.socks:
            s.close()


@pytest.fixture(scope="module")
def sockets(tmp_path_factory):
    if not socket.has_ipv6:
        pytest.skip("no IPv6 on this host")
    s = Sockets(tmp_path_factory.mktemp("sock"))
    yield s
    s.close()


def mine(result, pids=(ME,)):
    return {t[0]: t[:6] for t in result if t[6] in pids}


class TestNetConnections:
    def test_every_socket_is_reported_as_made(self, sockets):
        # The shared socket is the child's when the child's ID comes first
        # (IDs wrap around).
        got = mine(q.net_connections(*ALL), (ME, sockets.child.pid))
        expected = dict(sockets.expected)
        # A socket held twice is reported once, with its first descriptor.
        del expected[sockets.dup]
        assert {fd: got.get(fd) for fd in expected} == expected

    def test_shared_socket_is_reported_once(self, sockets):
        path = sockets.expected[sockets.shared.fileno()][3]
        owners = [t for t in q.net_connections((1,), ()) if t[3] == path]
        assert len(owners) == 1
        assert owners[0][6] in (ME, sockets.child.pid)
        assert owners[0][0] == sockets.shared.fileno()

    @pytest.mark.parametrize("families,types,kinds", [
        ((1,), (), {(AF_UNIX, 1), (AF_UNIX, 2)}),
        ((2, 28), (1,), {(AF_INET, 1), (AF_INET6, 1)}),
        ((28,), (1, 2), {(AF_INET6, 1)}),
        ((2,), (2,), {(AF_INET, 2)}),
        ((), (1, 2), set()),
    ])
    def test_filters(self, sockets, families, types, kinds):
        got = {(t[1], t[2])
               for t in mine(q.net_connections(families, types), (ME, sockets.child.pid)).values()}
        assert got == kinds

    def test_matches_ss(self, sockets):
        result = q.net_connections(*ALL)
        text = subprocess.run(["ss", "-tuanxp"], capture_output=True, text=True,
                              check=True).stdout
        owners_seen = 0
        for line in text.splitlines()[1:]:
            owners = {(int(p), int(f)) for p, f in re.findall(r"pid=(\d+),fd=(\d+)", line)}
            if not owners & {(ME, fd) for fd in sockets.expected}:
                continue
            found = [t for t in result if (t[6], t[0]) in owners]
            assert len(found) == 1, line
            assert ss_fields(line) == ss_view(found[0]), line
            owners_seen += 1
        assert owners_seen == len(sockets.expected) - 1  # the dup shares a line


def ss_fields(line):
    w = line.split()
    if w[0].startswith("u_"):
        return (w[0], w[4] if w[4] != "*" else "")
    return (w[0], w[1], w[4], w[5])


def ss_view(t):
    """A tuple as ss shows it: netid, state, local, peer."""
    fd, family, type_, local, remote, status, pid = t
    if family == AF_UNIX:
        return ("u_str" if type_ == 1 else "u_dgr", local)

    def text(pair, wildcard):
        if not pair:
            return f"{wildcard}:*"
        host = f"[{pair[0]}]" if family == AF_INET6 else pair[0]
        return f"{host}:{pair[1]}"

    wildcard = "[::]" if family == AF_INET6 else "0.0.0.0"
    netid = "tcp" if type_ == 1 else "udp"
    state = {LISTEN: "LISTEN", ESTABLISHED: "ESTAB"}.get(status)
    if netid == "udp":
        state = "ESTAB" if remote else "UNCONN"
    return (netid, state, text(local, wildcard), text(remote, wildcard))


class TestProcNetConnections:
    @pytest.fixture(autouse=True)
    def socket_fields(self, sockets):
        kinds = {t[1] for t in q.proc_net_connections(ME, (0, 1, 2, 28), (1, 2))}
        if not kinds:
            pytest.skip("kinfo_getfile does not fill socket fields on this build yet")

    def test_every_descriptor_is_reported(self, sockets):
        got = {t[0]: t for t in q.proc_net_connections(ME, *ALL)}
        assert {fd: got.get(fd) for fd in sockets.expected} == sockets.expected

    @pytest.mark.parametrize("families,types,kinds", [
        ((1,), (1,), {(AF_UNIX, 1)}),
        ((1,), (), set()),
        ((2,), (2,), {(AF_INET, 2)}),
        ((28,), (1, 2), {(AF_INET6, 1)}),
    ])
    def test_filters_apply_to_every_family(self, sockets, families, types, kinds):
        got = {(t[1], t[2]) for t in q.proc_net_connections(ME, families, types)
               if t[0] in sockets.expected}
        assert got == kinds

    def test_child_reports_the_inherited_socket(self, sockets):
        fd = sockets.shared.fileno()
        assert q.proc_net_connections(sockets.child.pid, (1,), (2,)) == [
            sockets.expected[fd]]
