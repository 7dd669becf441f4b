"""Interface addresses, counters and state over injected answers: the
documented edge cases, untrusted lengths in the records, error paths and
leaks."""

import ctypes
import errno
import os

import pytest

import _quarn_bsd as q
import ifrecords as ir
import standin
from leakcheck import assert_flat

ALL_FLAGS = ["up", "broadcast", "debug", "loopback", "pointopoint", "running", "noarp",
             "promisc", "allmulti", "multicast", "oactive", "simplex", "link0", "link1",
             "link2"]
STATE_FUNCTIONS = [q.net_if_flags, q.net_if_mtu, q.net_if_is_running, q.net_if_duplex_speed]


@pytest.fixture
def lib():
    return ctypes.PyDLL(q.__file__)


def inject_list(*entries):
    standin.push("getifaddrs", "", standin.answer(b"".join(entries)))


def inject_routing(*messages):
    standin.sysctl_answer(ir.IFLIST, b"".join(messages))


def ioctl_value(name, request, value):
    standin.push("ioctl", f"{name}/{request}", standin.answer(value=value))


class TestIoCounters:
    def test_counters_by_name_in_their_order(self):
        inject_routing(
            ir.ifinfo("em0", obytes=1, ibytes=2, opackets=3, ipackets=4, ierrors=5,
                      oerrors=6, iqdrops=7),
            ir.newaddr(),
            ir.ifinfo("usbus0", ibytes=9),
            ir.ifinfo("myusbus0", ibytes=10),
            ir.ifinfo("lo0"),
            ir.ifinfo("lo0", obytes=11))
        assert q.net_io_counters() == {
            "em0": (1, 2, 3, 4, 5, 6, 7, 0),
            "myusbus0": (0, 10, 0, 0, 0, 0, 0, 0),
            "lo0": (11, 0, 0, 0, 0, 0, 0, 0),
        }

    def test_counters_are_unsigned_64_bit(self):
        inject_routing(ir.ifinfo("em0", ibytes=2**64 - 1))
        assert q.net_io_counters()["em0"][1] == 2**64 - 1

    @pytest.mark.parametrize("messages, expected", [
        # A zero length would hold the walk on one spot for ever.
        ([ir.ifinfo("em0", msglen=0), ir.ifinfo("em1")], set()),
        ([ir.ifinfo("em0"), ir.ifinfo("em1", msglen=0)], {"em0"}),
        # A message that claims more than the answer holds is not read.
        ([ir.ifinfo("em0"), ir.ifinfo("em1", msglen=4000)], {"em0"}),
        # Too short for the counters and the name: passed over.
        ([ir.ifinfo("em0", msglen=100)[:100], ir.ifinfo("em1")], {"em1"}),
        ([ir.ifinfo("em0", msglen=176)[:176], ir.ifinfo("em1")], {"", "em1"}),
        # A tail too short for a header ends the walk.
        ([ir.ifinfo("em0"), b"\x01"], {"em0"}),
    ])
    def test_walk_ends_on_any_input(self, messages, expected):
        inject_routing(*messages)
        assert set(q.net_io_counters()) == expected

    @pytest.mark.parametrize("name, nlen, expected", [
        (b"em0", 200, "em0"),      # held to the message, which ends with zeros
        (b"x" * 40, None, "x" * 31),
        (b"re0", 2, "re"),
    ])
    def test_name_is_bounded(self, name, nlen, expected):
        inject_routing(ir.ifinfo(name, nlen=nlen))
        (got,) = q.net_io_counters()
        assert got.rstrip("\0") == expected and len(got) <= 31

    def test_asks_for_the_interface_list(self):
        inject_routing(ir.ifinfo("em0"))
        q.net_io_counters()
        assert {c.op for c in standin.calls_to("sysctl", ir.IFLIST)} == {"measure", "read"}

    @pytest.mark.parametrize("err", [errno.EPERM, errno.ENOENT])
    def test_read_failure(self, err):
        standin.sysctl_error(ir.IFLIST, err)
        with pytest.raises(OSError) as e:
            q.net_io_counters()
        assert e.value.errno == err
        assert str(e.value).endswith(f"{os.strerror(err)} (originated from sysctl() malloc 1/3)")


class TestIfAddrs:
    def test_entries_by_family_and_flags(self):
        mac = bytes([0x00, 0x1B, 0x21, 0xAB, 0xCD, 0xEF])
        inject_list(
            ir.ifaddrs_entry("em0", ir.IFF_BROADCAST, ir.sockaddr_dl(b"em0", mac)),
            ir.ifaddrs_entry("lo0", 0, ir.sockaddr_dl(b"lo0")),
            ir.ifaddrs_entry("em0", ir.IFF_BROADCAST, ir.sockaddr_in("192.0.2.5"),
                             ir.sockaddr_in("255.255.255.0"), ir.sockaddr_in("192.0.2.255")),
            ir.ifaddrs_entry("tun0", ir.IFF_POINTOPOINT, ir.sockaddr_in("10.0.0.1"),
                             ir.sockaddr_in("255.255.255.255"), ir.sockaddr_in("10.0.0.2")),
            ir.ifaddrs_entry("gif0", ir.IFF_BROADCAST | ir.IFF_POINTOPOINT,
                             ir.sockaddr_in("10.1.0.1"), b"", ir.sockaddr_in("10.1.0.255")),
            ir.ifaddrs_entry("em0", ir.IFF_BROADCAST, ir.sockaddr_in6("2001:db8::1"),
                             ir.sockaddr_in6("ffff:ffff:ffff:ffff::")),
            ir.ifaddrs_entry("em0", 0, b""),                       # no address
            ir.ifaddrs_entry("em0", 0, bytes([16, 7]) + bytes(14)),  # another family
            ir.ifaddrs_entry("lo0", 0, ir.sockaddr_in6("::1"), ir.sockaddr_in6("::"), b""))
        assert q.net_if_addrs() == [
            ("em0", 18, "00:1b:21:ab:cd:ef", None, None, None),
            ("em0", 2, "192.0.2.5", "255.255.255.0", "192.0.2.255", None),
            ("tun0", 2, "10.0.0.1", "255.255.255.255", None, "10.0.0.2"),
            ("gif0", 2, "10.1.0.1", None, "10.1.0.255", None),
            ("em0", 28, "2001:db8::1", "ffff:ffff:ffff:ffff::", None, None),
            ("lo0", 28, "::1", "::", None, None),
        ]

    @pytest.mark.parametrize("scope, expected", [
        (1, "fe80::1%lo"),           # the scope's interface by name
        (4000000, "fe80::1%4000000"),  # no such interface: the number
        (0, "fe80::1"),
    ])
    def test_link_local_scope(self, scope, expected):
        inject_list(ir.ifaddrs_entry("lo", 0, ir.sockaddr_in6("fe80::1", scope)))
        assert q.net_if_addrs()[0][2] == expected

    def test_unconvertible_addresses(self):
        standin.push("getnameinfo", "2", standin.error(4))
        inject_list(ir.ifaddrs_entry("em0", 0, ir.sockaddr_in("192.0.2.1")),
                    ir.ifaddrs_entry("em0", 0, ir.sockaddr_in6("::1"), ir.sockaddr_in("1.2.3.4")))
        assert q.net_if_addrs() == [("em0", 28, "::1", None, None, None)]

    def test_empty_list(self):
        inject_list()
        assert q.net_if_addrs() == []
        assert len(standin.calls_to("getifaddrs")) == 1

    def test_getifaddrs_failure(self):
        standin.push("getifaddrs", "", standin.error(errno.ENOMEM))
        with pytest.raises(OSError) as e:
            q.net_if_addrs()
        assert (e.value.errno, e.value.strerror) == (errno.ENOMEM, os.strerror(errno.ENOMEM))
        assert standin.calls_to("freeifaddrs") == []

    def test_failure_midway_releases_the_list_once(self):
        inject_list(ir.ifaddrs_entry("em0", 0, ir.sockaddr_in("192.0.2.1")),
                    ir.ifaddrs_entry(b"\xff", 0, ir.sockaddr_in("192.0.2.2")))
        with pytest.raises(UnicodeDecodeError):
            q.net_if_addrs()
        assert len(standin.calls_to("freeifaddrs")) == 1


class TestConvertIpaddr:
    """quarn_convert_ipaddr over link-level addresses whose lengths are not
    to be trusted: never a read past the structure or its own length."""

    @pytest.fixture
    def convert(self, lib):
        fn = lib.quarn_convert_ipaddr
        fn.restype = ctypes.py_object
        fn.argtypes = [ctypes.c_char_p, ctypes.c_int]
        return lambda sa, family=ir.AF_LINK: fn(sa, family)

    @pytest.mark.parametrize("sa, expected", [
        (ir.sockaddr_dl(b"em0", bytes(range(6))), "00:01:02:03:04:05"),
        (ir.sockaddr_dl(b"lo0"), None),
        (ir.sockaddr_dl(b"em0", b"\xab", family=2), None),
        # alen past the structure: held to the 46 data bytes after the name
        (ir.sockaddr_dl(b"", bytes([0xEE]) * 46, alen=200), ":".join(["ee"] * 46)),
        (ir.sockaddr_dl(b"em0", bytes([0xEE]) * 43, alen=255), ":".join(["ee"] * 43)),
        # nlen past the structure leaves no room for an address
        (ir.sockaddr_dl(b"", b"\x01", nlen=250, alen=1), None),
        # a short sdl_len holds both lengths
        (ir.sockaddr_dl(b"em0", bytes(6), sdl_len=12), "00"),
        (ir.sockaddr_dl(b"em0", bytes(6), sdl_len=4), None),
        # a record lengthened past 54 bytes is read to its own length
        (ir.sockaddr_dl(b"n" * 15, bytes(range(40)), sdl_len=72),
         ":".join(f"{i:02x}" for i in range(40))),
        (ir.sockaddr_dl(b"n" * 15, bytes(range(40)), sdl_len=60),
         ":".join(f"{i:02x}" for i in range(37))),
    ])
    def test_link_level(self, convert, sa, expected):
        assert convert(sa) == expected

    def test_null_and_other_families(self, convert):
        assert convert(None, ir.AF_INET) is None
        assert convert(ir.sockaddr_in("192.0.2.7"), ir.AF_INET) == "192.0.2.7"
        assert convert(ir.sockaddr_in6("2001:db8::7"), ir.AF_INET6) == "2001:db8::7"
        assert convert(ir.sockaddr_in("192.0.2.7"), 7) is None


class TestState:
    @pytest.mark.parametrize("word, expected", [
        (0x8000 | 0x400, ["multicast", "oactive"]),
        (0x1, ["up"]),
        (0x20, []),
        (0xFFFF, ALL_FLAGS),
        (0x8843, ["up", "broadcast", "running", "multicast", "simplex"]),
        (0x10000 | 0x1, ["up"]),  # the high half is not asked for
    ])
    def test_flag_names_in_order(self, word, expected):
        ioctl_value("em0", "SIOCGIFFLAGS", word)
        assert q.net_if_flags("em0") == expected

    @pytest.mark.parametrize("word, running", [(0x41, True), (0x1, False), (0xFFBF, False)])
    def test_is_running(self, word, running):
        ioctl_value("em0", "SIOCGIFFLAGS", word)
        assert q.net_if_is_running("em0") is running

    def test_mtu(self):
        ioctl_value("em0", "SIOCGIFMTU", 9000)
        assert q.net_if_mtu("em0") == 9000

    @pytest.mark.parametrize("word, expected", [
        (0x20 | 16 | 0x100000, [2, 1000]),
        (0x20 | 16 | 0x300000, [2, 1000]),   # both duplex bits: full wins
        (0x20 | 6 | 0x200000, [1, 100]),
        (0x20 | 24, [0, 0]),
        (0x80 | 7, [0, 5]),
        (0x40 | 6 | 0x100000, [2, 0]),       # another type: duplex only
        (0x20, [0, 0]),                      # no link
    ])
    def test_duplex_speed(self, word, expected):
        ioctl_value("em0", "SIOCGIFMEDIA", word)
        assert q.net_if_duplex_speed("em0") == expected

    @pytest.mark.parametrize("subtypes, mtype, mask, speeds", [
        (range(3, 27), 0x20, 0, [10, 10, 10, 100, 100, 100, 100, 100, 1000, 10, 10, 1000, 1000,
                                  1000, 1, 10000, 10000, 10000, 2500, 10000, 10000, 0, 0,
                                  10000]),
        (range(3, 10), 0x80, 0, [1, 2, 1, 2, 5, 11, 22]),
        ([0, 1, 2, 27, 31], 0x20, 0, [0] * 5),
        ([0, 2, 10, 31], 0x80, 0, [0] * 4),
        ([3, 16], 0x20, 0x800, [0, 0]),      # extended subtypes
        ([16], 0x40, 0, [0]),
    ])
    def test_nic_speed(self, lib, subtypes, mtype, mask, speeds):
        assert [lib.quarn_get_nic_speed(mtype | mask | s) for s in subtypes] == speeds

    def test_long_name_is_cut_to_15(self):
        ioctl_value("a" * 15, "SIOCGIFMTU", 1280)
        assert q.net_if_mtu("a" * 16 + "zzz") == 1280

    @pytest.mark.parametrize("fn", STATE_FUNCTIONS)
    def test_name_must_be_text(self, fn):
        with pytest.raises(TypeError):
            fn(5)
        assert standin.calls_to("socket") == []

    @pytest.mark.parametrize("fn, label", [
        (q.net_if_flags, "socket(SOCK_DGRAM)"), (q.net_if_mtu, None),
        (q.net_if_is_running, None), (q.net_if_duplex_speed, None)])
    def test_socket_failure(self, fn, label):
        standin.push("socket", "2.2.0", standin.error(errno.EMFILE))
        with pytest.raises(OSError) as e:
            fn("em0")
        assert e.value.errno == errno.EMFILE
        text = os.strerror(errno.EMFILE)
        assert str(e.value).endswith(f"{text} (originated from {label})" if label else text)
        assert standin.calls_to("close") == [] and standin.calls_to("ioctl") == []

    @pytest.mark.parametrize("fn, label", [
        (q.net_if_flags, "ioctl(SIOCGIFFLAGS)"), (q.net_if_mtu, None),
        (q.net_if_is_running, None)])
    def test_ioctl_failure_reports_its_own_errno(self, fn, label):
        # The closing fails too; the errno reported is still the request's.
        standin.push("ioctl", "em0/SIOCGIFMTU", standin.error(errno.ENXIO))
        standin.push("ioctl", "em0/SIOCGIFFLAGS", standin.error(errno.ENXIO))
        standin.push("close", "", standin.error(errno.EBADF))
        with pytest.raises(OSError) as e:
            fn("em0")
        assert e.value.errno == errno.ENXIO
        text = os.strerror(errno.ENXIO)
        assert str(e.value).endswith(f"{text} (originated from {label})" if label else text)
        assert len(standin.calls_to("close")) == 1

    def test_media_failure_is_no_error(self):
        standin.push("ioctl", "em0/SIOCGIFMEDIA", standin.error(errno.EINVAL))
        assert q.net_if_duplex_speed("em0") == [0, 0]
        assert len(standin.calls_to("close")) == 1

    @pytest.mark.parametrize("fn", STATE_FUNCTIONS)
    def test_socket_closed_once_on_success(self, fn):
        for request, value in (("SIOCGIFFLAGS", 0x41), ("SIOCGIFMTU", 1500),
                               ("SIOCGIFMEDIA", 0x20 | 16)):
            ioctl_value("em0", request, value)
        fn("em0")
        (sock,) = standin.calls_to("socket")
        closes = standin.calls_to("close")
        assert sock.key == "2.2.0" and len(closes) == 1


class TestLeaks:
    @pytest.mark.parametrize("fn, args", [
        (q.net_if_addrs, ()), (q.net_io_counters, ()), (q.net_if_flags, ("lo",)),
        (q.net_if_mtu, ("lo",)), (q.net_if_is_running, ("lo",)),
        (q.net_if_duplex_speed, ("lo",)), (q.net_if_duplex_speed, ("nosuch0",))])
    def test_success(self, fn, args):
        assert_flat(fn, *args, calls=2000)

    @pytest.mark.parametrize("fn", [q.net_if_flags, q.net_if_mtu, q.net_if_is_running])
    def test_missing_interface(self, fn):
        assert_flat(fn, "nosuch0", calls=2000, expect=OSError)

    def test_failures_of_the_lists(self):
        standin.push("getifaddrs", "", standin.error(errno.EIO))
        assert_flat(q.net_if_addrs, calls=2000, expect=OSError)
        standin.sysctl_error(ir.IFLIST, errno.EPERM)
        assert_flat(q.net_io_counters, calls=2000, expect=OSError)

    def test_failure_midway(self):
        inject_list(ir.ifaddrs_entry("em0", 0, ir.sockaddr_in("192.0.2.1")),
                    ir.ifaddrs_entry(b"\xff", 0, ir.sockaddr_in("192.0.2.2")))
        assert_flat(q.net_if_addrs, calls=2000, expect=UnicodeDecodeError)
