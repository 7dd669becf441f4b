"""net_connections and proc_net_connections on injected kernel tables: the
filters, the join, the list framing and every refusal of bad input."""

import ctypes
import errno
import random

import pytest

import _quarn_bsd as q
import standin
from leakcheck import assert_flat
from net_records import (AF_INET, AF_INET6, AF_UNIX, INP_IPV4, INP_IPV6, SOCK_DGRAM,
                         SOCK_STREAM, XINPGEN, XUNPGEN, gen, kinfo_socket, pcblist, sockaddr,
                         xfile, xinpcb, xtcpcb, xunpcb)

TCP, UDP = "net.inet.tcp.pcblist", "net.inet.udp.pcblist"
STREAM, DGRAM = "net.local.stream.pcblist", "net.local.dgram.pcblist"
LISTS = (TCP, UDP, STREAM, DGRAM)
NONE = 128
PID = 4242


def inject(files=(), tcp=(), udp=(), stream=(), dgram=(), override=None):
    """Every table, each a fixed answer unless override gives its steps."""
    override = override or {}
    tables = {"kern.file": b"".join(files), TCP: pcblist(tcp), UDP: pcblist(udp),
              STREAM: pcblist(stream, XUNPGEN), DGRAM: pcblist(dgram, XUNPGEN)}
    for name, data in tables.items():
        steps = override.get(name, standin.answer(data))
        standin.sysctl_sequence(name, steps if isinstance(steps, list) else [steps])


def lists_read():
    return [c.key for c in standin.log() if c.call == "sysctl" and c.key in LISTS]


@pytest.fixture
def one_of_each():
    """A socket on each list, owned by descriptors 3 to 8 of one process."""
    inject(
        files=[xfile(PID, 3 + i, 0x100 * (i + 1)) for i in range(6)],
        tcp=[xtcpcb(0x100, 1, laddr="10.0.0.1", lport=80),
             xtcpcb(0x200, 4, vflag=INP_IPV6, family=AF_INET6, laddr="::1", lport=8080,
                    faddr="::1", fport=5555)],
        udp=[xinpcb(0x300, laddr="127.0.0.1", lport=53)],
        stream=[xunpcb(0x400, "/run/a.sock"), xunpcb(0x500)],
        dgram=[xunpcb(0x600, "/run/log")])


TCP4 = (3, AF_INET, SOCK_STREAM, ("10.0.0.1", 80), (), 1, PID)
TCP6 = (4, AF_INET6, SOCK_STREAM, ("::1", 8080), ("::1", 5555), 4, PID)
UDP4 = (5, AF_INET, SOCK_DGRAM, ("127.0.0.1", 53), (), NONE, PID)
UNIX_S = [(6, AF_UNIX, SOCK_STREAM, "/run/a.sock", "", NONE, PID),
          (7, AF_UNIX, SOCK_STREAM, "", "", NONE, PID)]
UNIX_D = [(8, AF_UNIX, SOCK_DGRAM, "/run/log", "", NONE, PID)]


class TestNetConnectionsFilters:
    @pytest.mark.parametrize("families,types,walked,expected", [
        ((), (), [], []),
        ((1,), (), [STREAM, DGRAM], UNIX_S + UNIX_D),
        ((2, 28), (1,), [TCP], [TCP4, TCP6]),
        ((2,), (1, 2), [TCP, UDP], [TCP4, UDP4]),
        ((28,), [1, 2], [TCP, UDP], [TCP6]),
        ((1,), (1, 2), LISTS, UNIX_S + UNIX_D),
        ([1, 2, 28], range(1, 3), LISTS, [TCP4, TCP6, UDP4] + UNIX_S + UNIX_D),
    ])
    def test_walks_and_results_in_order(self, one_of_each, families, types, walked, expected):
        standin.clear_log()
        assert q.net_connections(families, types) == expected
        assert lists_read() == list(walked)
        assert standin.calls_to("sysctl", "kern.file")  # read whatever the filters

    @pytest.mark.parametrize("families,types,exc,text", [
        ({2}, (1,), TypeError, "arg 2 or 3 is not a sequence"),
        ((2,), 5, TypeError, "arg 2 or 3 is not a sequence"),
        ("ab", (1,), TypeError, None),
    ])
    def test_bad_filters_raise_before_any_table_is_read(self, families, types, exc, text):
        standin.clear_log()
        with pytest.raises(exc) as e:
            q.net_connections(families, types)
        if text:
            assert str(e.value) == text
        assert standin.calls_to("sysctl") == []

    def test_conn_none_is_read_at_call_time(self, one_of_each):
        conn_none = ctypes.c_int.in_dll(ctypes.CDLL(q.__file__), "QUARN_CONN_NONE")
        conn_none.value = 99
        try:
            assert q.net_connections((1, 2), (2,))[0][5] == 99
            assert [t[5] for t in q.net_connections((1,), ())] == [99] * 3
        finally:
            conn_none.value = 128


class TestNetConnectionsJoin:
    @pytest.mark.parametrize("vflag,families,expected", [
        (INP_IPV4 | INP_IPV6, (2, 28), [(3, AF_INET, 1, ("10.1.2.3", 7), (), 1, PID)]),
        (INP_IPV4 | INP_IPV6, (2,), []),
        (INP_IPV4 | INP_IPV6, (28,), []),
        (INP_IPV6, (2,), []),
        (0, (2, 28), []),
    ])
    def test_version_flags(self, vflag, families, expected):
        inject(files=[xfile(PID, 3, 0x10)],
               tcp=[xtcpcb(0x10, 1, vflag=vflag, family=AF_INET6, laddr="10.1.2.3", lport=7)])
        assert q.net_connections(families, (1,)) == expected

    @pytest.mark.parametrize("files", [[], [xfile(PID, 3, 0x99)]], ids=["no files", "no match"])
    def test_socket_without_owner_is_left_out(self, files):
        inject(files=files, udp=[xinpcb(0x10)], stream=[xunpcb(0x20, "/x")])
        assert q.net_connections((1, 2), (2,)) == []

    def test_first_owner_wins_and_matches_a_linear_search(self):
        rnd = random.Random(7)
        addrs = [0x1000 + 16 * i for i in range(40)]
        files = [xfile(100 + rnd.randrange(5), rnd.randrange(3, 60), rnd.choice(addrs))
                 for _ in range(300)]
        pcbs = [xinpcb(a, lport=i) for i, a in enumerate(addrs)]
        inject(files=files, udp=pcbs)
        expected = []
        for i, a in enumerate(addrs):
            owner = next((f for f in files if f[56:64] == a.to_bytes(8, "little")), None)
            if owner:
                pid, fd = int.from_bytes(owner[8:12], "little"), int.from_bytes(owner[16:20], "little")
                expected.append((fd, AF_INET, SOCK_DGRAM, ("0.0.0.0", i), (), NONE, pid))
        assert q.net_connections((2,), (2,)) == expected

    @pytest.mark.parametrize("sun_len,path,tail,expected", [
        (0, b"/a", b"", "/a"),
        (1, b"/a", b"", "/a"),
        (5, b"/abcdef", b"", "/ab"),
        (106, b"p" * 104, b"GARBAGE", "p" * 104),
        (0, b"q" * 104, b"GARBAGE", "q" * 104),
        (255, b"r" * 104, b"GARBAGE", "r" * 104),
    ])
    def test_unix_path_is_bounded_by_sun_len_and_its_field(self, sun_len, path, tail, expected):
        inject(files=[xfile(PID, 3, 0x10)],
               stream=[xunpcb(0x10, path, sun_len=sun_len, tail=tail)])
        assert q.net_connections((1,), ())[0][3] == expected


def rec_len(data, length):
    return length.to_bytes(8, "little") + data[8:]


BAD_TABLES = [
    # (list, answer, message)
    ("kern.file", xfile(1, 3, 5, size=64), "struct xfile size mismatch"),
    ("kern.file", b"\x80\0\0", "struct xfile size mismatch"),
    (TCP, gen(XINPGEN, 1, length=60) + gen(XINPGEN, 1), "struct xinpgen size mismatch"),
    (TCP, gen(XINPGEN, 1) + gen(XINPGEN, 1, length=0), "struct xinpgen size mismatch"),
    (TCP, gen(XINPGEN, 1), "struct xinpgen size mismatch"),
    (TCP, b"", "struct xinpgen size mismatch"),
    (UDP, gen(XINPGEN, 1, length=2**63) + gen(XINPGEN, 1), "struct xinpgen size mismatch"),
    (STREAM, gen(XUNPGEN, 1, length=64) + gen(XUNPGEN, 1), "struct xinpgen size mismatch"),
    (DGRAM, gen(XUNPGEN, 1) + gen(XUNPGEN, 1, length=31), "struct xinpgen size mismatch"),
    (TCP, pcblist([xtcpcb(1, 1, length=743)]), "struct xtcpcb size mismatch"),
    (TCP, pcblist([xtcpcb(1, 1, length=0)]), "struct xtcpcb size mismatch"),
    (TCP, pcblist([xtcpcb(1, 1, length=2**64 - 1)]), "struct xtcpcb size mismatch"),
    (TCP, pcblist([xtcpcb(1, 1)[:200]]), "struct xtcpcb size mismatch"),
    (UDP, pcblist([xinpcb(1, length=744)]), "struct xinpcb size mismatch"),
    (UDP, pcblist([xinpcb(1), xinpcb(2)[:399]]), "struct xinpcb size mismatch"),
    (STREAM, pcblist([xunpcb(1, length=900)], XUNPGEN), "struct xunpcb size mismatch"),
    (DGRAM, pcblist([xunpcb(1)[:500]], XUNPGEN), "struct xunpcb size mismatch"),
]


class TestNetConnectionsBadInput:
    @pytest.mark.parametrize("name,data,message", BAD_TABLES)
    def test_refused_with_its_message(self, name, data, message):
        inject(files=[xfile(PID, 3, 1), xfile(PID, 4, 2)],
               tcp=[xtcpcb(1, 1)], udp=[xinpcb(2)], stream=[xunpcb(1)],
               override={name: standin.answer(data)})
        with pytest.raises(RuntimeError) as e:
            q.net_connections((1, 2, 28), (1, 2))
        assert str(e.value) == message

    @pytest.mark.parametrize("name,err", [("kern.file", errno.EPERM), (TCP, errno.EACCES),
                                          (UDP, errno.ENOENT), (DGRAM, errno.EIO)])
    def test_kernel_errors_raise_oserror(self, name, err):
        inject(override={name: standin.error(err)})
        with pytest.raises(OSError) as e:
            q.net_connections((1, 2), (1, 2))
        assert e.value.errno == err

    def test_a_length_claimed_past_the_buffer_is_not_read(self):
        inject(files=[xfile(PID, 3, 0x10)],
               override={UDP: standin.answer(pcblist([xinpcb(0x10)]), value=1 << 20)})
        # The claimed length ends past the buffer: the trailer found at the
        # buffer's end is no trailer.
        with pytest.raises(RuntimeError, match="struct xinpgen size mismatch"):
            q.net_connections((2,), (2,))

    def test_open_file_count_is_bounded_by_the_buffer(self):
        inject(files=[xfile(PID, 3, 0x10)], udp=[xinpcb(0x10), xinpcb(0)],
               override={"kern.file": standin.answer(xfile(PID, 3, 0x10), value=1 << 20)})
        assert [t[0] for t in q.net_connections((2,), (2,))] == [3]

    # A table that claims the length of an earlier one but holds less, read
    # into memory that still holds the earlier one (the fill stands for a
    # recycled block): only what the kernel wrote may count.
    TEN_FILES = [xfile(PID, 3 + i, 0x10 * (i + 1)) for i in range(10)]
    TEN_TCP = [xtcpcb(0x10 * (i + 1), 1, laddr="10.0.0.1", lport=80 + i) for i in range(10)]

    @pytest.mark.parametrize("override, earlier, fds", [
        ({TCP: standin.answer(gen(XINPGEN, 1), value=len(pcblist(TEN_TCP)))},
         pcblist(TEN_TCP), None),
        # grown once, so the buffer is larger than the one record written
        ({"kern.file": [standin.answer(b"".join(TEN_FILES)),
                        standin.answer(TEN_FILES[0], value=10 * 128)]},
         b"".join(TEN_FILES), [3]),
    ], ids=["pcb-list", "open-files"])
    def test_bytes_claimed_but_not_written_are_not_read(self, override, earlier, fds):
        inject(files=self.TEN_FILES, tcp=self.TEN_TCP, override=override)
        standin.alloc_fill(earlier)
        if fds is None:
            with pytest.raises(RuntimeError) as e:
                q.net_connections((2,), (1,))
            assert str(e.value) == "struct xinpgen size mismatch"
        else:
            assert [t[0] for t in q.net_connections((2,), (1,))] == fds

    def test_open_file_table_grows_from_the_buffer_size(self):
        inject(files=[xfile(PID, i, 0x10 * i) for i in range(5)])
        standin.clear_log()
        q.net_connections((), ())
        reads = [c.size for c in standin.calls_to("sysctl", "kern.file")]
        assert reads == [128, 256, 512, 1024]

    def test_open_file_table_growth_is_bounded(self):
        standin.sysctl_error("kern.file", errno.ENOMEM)
        with pytest.raises(OSError) as e:
            q.net_connections((), ())
        assert e.value.errno == errno.ENOMEM
        assert len(standin.calls_to("sysctl", "kern.file")) == 24  # 128 B to 1 GiB


class TestGenerations:
    @pytest.mark.parametrize("mismatches,reads", [(0, 1), (1, 2), (5, 6), (9, 6)])
    def test_repeat_budget_of_five(self, mismatches, reads):
        steps = [standin.answer(pcblist([xinpcb(0x10)], gens=(1, 2)))] * mismatches
        steps.append(standin.answer(pcblist([xinpcb(0x10)], gens=(3, 3))))
        inject(files=[xfile(PID, 3, 0x10)], override={UDP: steps})
        standin.clear_log()
        assert len(q.net_connections((2,), (2,))) == 1
        assert len(standin.calls_to("sysctl", UDP)) == reads

    def test_growth_does_not_restore_the_budget(self):
        small = standin.answer(pcblist([xunpcb(0x10)], XUNPGEN, gens=(1, 2)))
        big = standin.answer(pcblist([xunpcb(0x10)] * 12, XUNPGEN, gens=(1, 2)))
        inject(files=[xfile(PID, 3, 0x10)],
               override={STREAM: [small, small, small, big, big, small]})
        standin.clear_log()
        assert len(q.net_connections((1,), ())) == 1
        sizes = [c.size for c in standin.calls_to("sysctl", STREAM)]
        # Five mismatches spend the budget; the ENOMEM read spends none.
        assert sizes == [8192] * 4 + [16384] * 3


def tcp_kinfo(fd, family, laddr, lport, faddr, fport, protocol=6, type_=SOCK_STREAM):
    return kinfo_socket(fd, family, type_, protocol, sockaddr(family, laddr, lport),
                        sockaddr(family, faddr, fport))


def inject_proc(entries, tcp=(), tcp_steps=None):
    standin.push("kinfo_getfile", str(PID), standin.answer(b"".join(entries)))
    standin.sysctl_sequence(TCP, tcp_steps or [standin.answer(pcblist(tcp))])


PROC_TCP = [
    xtcpcb(1, 4, laddr="127.0.0.1", lport=80, faddr="127.0.0.1", fport=4000),
    xtcpcb(2, 1, vflag=INP_IPV6, family=AF_INET6, laddr="::1", lport=80),
    xtcpcb(3, 6, laddr="127.0.0.1", lport=80, faddr="127.0.0.1", fport=4000),  # later duplicate
    xtcpcb(4, 4, laddr="127.0.0.1", lport=81, so_type=SOCK_DGRAM),
]
PROC_FILES = [
    kinfo_socket(0, 0, 0, kf_type=1),
    tcp_kinfo(3, AF_INET, "127.0.0.1", 80, "127.0.0.1", 4000),
    tcp_kinfo(4, AF_INET6, "::1", 80, "::", 0),
    tcp_kinfo(5, AF_INET, "127.0.0.1", 80, "127.0.0.1", 4000, protocol=132),
    tcp_kinfo(6, AF_INET, "127.0.0.1", 81, "0.0.0.0", 0),
    tcp_kinfo(7, AF_INET, "127.0.0.1", 53, "0.0.0.0", 0, protocol=17, type_=SOCK_DGRAM),
    kinfo_socket(8, AF_UNIX, SOCK_STREAM, local=sockaddr(AF_UNIX, path="/run/s")),
    kinfo_socket(9, AF_UNIX, SOCK_DGRAM, local=sockaddr(AF_UNIX, path=b"d" * 104, sun_len=0)),
    kinfo_socket(10, 17, 3),
    tcp_kinfo(11, AF_INET, "127.0.0.1", 80, "127.0.0.1", 4000),
]
P_TCP4 = (3, AF_INET, 1, ("127.0.0.1", 80), ("127.0.0.1", 4000), 4)
P_TCP6 = (4, AF_INET6, 1, ("::1", 80), (), 1)
P_SCTP = (5, AF_INET, 1, ("127.0.0.1", 80), ("127.0.0.1", 4000), NONE)
P_DGRAM_REC = (6, AF_INET, 1, ("127.0.0.1", 81), (), NONE)
P_UDP = (7, AF_INET, 2, ("127.0.0.1", 53), (), NONE)
P_US = (8, AF_UNIX, 1, "/run/s", "", NONE)
P_UD = (9, AF_UNIX, 2, "d" * 104, "", NONE)
P_DUP = (11,) + P_TCP4[1:]


class TestProcNetConnections:
    @pytest.mark.parametrize("families,types,expected", [
        ((1, 2, 17, 28), (1, 2, 3), [P_TCP4, P_TCP6, P_SCTP, P_DGRAM_REC, P_UDP, P_US, P_UD,
                                     P_DUP]),
        ((2,), (2,), [P_UDP]),
        ((1,), (1,), [P_US]),
        ((28,), (1,), [P_TCP6]),
        ((), (), []),
    ])
    def test_filters_and_states(self, families, types, expected):
        inject_proc(PROC_FILES, PROC_TCP)
        standin.clear_log()
        assert q.proc_net_connections(PID, families, types) == expected
        ops = [c.op for c in standin.calls_to("sysctl", TCP)]
        assert ops == ["measure", "read"]  # read whatever the filters

    def test_index_matches_a_linear_search(self):
        rnd = random.Random(3)
        hosts, ports = ["127.0.0.1", "10.0.0.2"], [80, 81]
        tcp = [xtcpcb(i, rnd.randrange(11), laddr=rnd.choice(hosts), lport=rnd.choice(ports),
                      faddr=rnd.choice(hosts), fport=rnd.choice(ports),
                      protocol=rnd.choice([6, 6, 132]), family=rnd.choice([2, 2, 28]))
               for i in range(200)]
        files = [tcp_kinfo(i, AF_INET, rnd.choice(hosts), rnd.choice(ports), rnd.choice(hosts),
                           rnd.choice(ports), protocol=rnd.choice([6, 132]))
                 for i in range(100)]
        inject_proc(files, tcp)

        def linear(kf):
            for rec in tcp:
                if (rec[172:174] == b"\1\0" and rec[116:120] == kf[36:40]
                        and rec[112:116] == kf[44:48] and rec[262:264] == kf[50:52]
                        and rec[292:296] == kf[52:56] and rec[260:262] == kf[178:180]
                        and rec[276:280] == kf[180:184]):
                    return int.from_bytes(rec[568:572], "little")
            return NONE

        states = [t[5] for t in q.proc_net_connections(PID, (2,), (1,))]
        assert states == [linear(kf) for kf in files]

    @pytest.mark.parametrize("tcp_list", [
        gen(XINPGEN, 1, length=10 ** 6) + xtcpcb(1, 4) + gen(XINPGEN, 1),
        gen(XINPGEN, 1, length=0),
        gen(XINPGEN, 1) + xtcpcb(1, 4, length=0) + gen(XINPGEN, 1),
        gen(XINPGEN, 1) + xtcpcb(1, 4, length=10 ** 9),
        gen(XINPGEN, 1) + xtcpcb(1, 4, length=100) + gen(XINPGEN, 1),
        b"",
    ])
    def test_bad_tcp_lists_end_the_walk(self, tcp_list):
        standin.push("kinfo_getfile", str(PID),
                     standin.answer(tcp_kinfo(3, AF_INET, "0.0.0.0", 0, "0.0.0.0", 0)))
        standin.sysctl_answer(TCP, tcp_list)
        assert q.proc_net_connections(PID, (2,), (1,))[0][5] == NONE

    def test_bytes_claimed_but_not_written_are_not_read(self):
        tcp = [xtcpcb(i, 4, laddr="127.0.0.1", lport=80, faddr="127.0.0.1", fport=4000)
               for i in range(10)]
        # measured at the earlier length, then only the header written
        inject_proc(PROC_FILES[1:2], tcp_steps=[
            standin.answer(pcblist(tcp)),
            standin.answer(gen(XINPGEN, 1), value=len(pcblist(tcp)))])
        standin.alloc_fill(pcblist(tcp))
        assert q.proc_net_connections(PID, (2,), (1,)) == [P_TCP4[:5] + (NONE,)]

    def test_list_growing_once_is_read_again(self):
        inject_proc(PROC_FILES[1:2], tcp_steps=[standin.answer(pcblist([])),
                                                standin.answer(pcblist(PROC_TCP[:1]))])
        standin.clear_log()
        assert q.proc_net_connections(PID, (2,), (1,)) == [P_TCP4]
        ops = [c.op for c in standin.calls_to("sysctl", TCP)]
        assert ops == ["measure", "read", "measure", "read"]

    def test_list_growing_every_time_fails_with_enomem(self):
        inject_proc(PROC_FILES[1:2], tcp_steps=[standin.answer(pcblist([xtcpcb(1, 1)] * n))
                                                for n in range(12)])
        with pytest.raises(OSError) as e:
            q.proc_net_connections(PID, (2,), (1,))
        assert e.value.errno == errno.ENOMEM
        assert len(standin.calls_to("sysctl", TCP)) == 10

    @pytest.mark.parametrize("err,exc", [(errno.ESRCH, ProcessLookupError),
                                         (errno.EPERM, PermissionError)])
    def test_kinfo_getfile_failure(self, err, exc):
        standin.push("kinfo_getfile", str(PID), standin.error(err))
        with pytest.raises(exc):
            q.proc_net_connections(PID, (2,), (1,))

    def test_tcp_list_error(self):
        inject_proc(PROC_FILES[1:2], tcp_steps=[standin.error(errno.EACCES)])
        with pytest.raises(PermissionError):
            q.proc_net_connections(PID, (2,), (1,))

    @pytest.mark.parametrize("families,types", [({2}, (1,)), ((2,), None)])
    def test_non_sequences(self, families, types):
        with pytest.raises(TypeError, match="^arg 2 or 3 is not a sequence$"):
            q.proc_net_connections(PID, families, types)


class TestLeaks:
    def test_net_connections(self, one_of_each):
        assert_flat(q.net_connections, (1, 2, 28), (1, 2), calls=2000)

    @pytest.mark.parametrize("name,data,message", BAD_TABLES[::4])
    def test_net_connections_failing(self, name, data, message):
        inject(files=[xfile(PID, 3, 1)], tcp=[xtcpcb(1, 1)],
               override={name: standin.answer(data)})
        assert_flat(q.net_connections, (1, 2, 28), (1, 2), calls=2000, expect=RuntimeError)

    def test_proc_net_connections(self):
        inject_proc(PROC_FILES, PROC_TCP)
        assert_flat(q.proc_net_connections, PID, (1, 2, 28), (1, 2), calls=2000)

    def test_proc_net_connections_failing(self):
        inject_proc(PROC_FILES, tcp_steps=[standin.error(errno.EIO)])
        assert_flat(q.proc_net_connections, PID, (2,), (1,), calls=2000, expect=OSError)
        standin.reset()
        inject_proc(PROC_FILES, PROC_TCP)
        assert_flat(q.proc_net_connections, PID, "ab", (1,), calls=2000, expect=TypeError)

