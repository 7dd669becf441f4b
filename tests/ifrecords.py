"""FreeBSD amd64 interface records built with struct at their byte offsets:
socket addresses, routing messages of the interface list, and the byte form
in which a test gives the stand-in an address list (docs/standin.md)."""

import ipaddress
import struct

AF_INET, AF_LINK, AF_INET6 = 2, 18, 28
RTM_NEWADDR, RTM_IFINFO = 0xC, 0xE
IF_MSGHDR_SIZE = 168
SOCKADDR_DL_SIZE = 54
IFLIST = [4, 17, 0, 0, 3, 0]

# Counter offsets within an RTM_IFINFO message.
IFI = {"ipackets": 40, "ierrors": 48, "opackets": 56, "oerrors": 64,
       "ibytes": 80, "obytes": 88, "iqdrops": 112}

IFF_BROADCAST, IFF_POINTOPOINT = 0x2, 0x10


def sockaddr_in(ip):
    return struct.pack("<BBH4s8x", 16, AF_INET, 0, ipaddress.IPv4Address(ip).packed)


def sockaddr_in6(ip, scope=0):
    return struct.pack("<BBHI16sI", 28, AF_INET6, 0, 0, ipaddress.IPv6Address(ip).packed, scope)


def sockaddr_dl(name=b"", lladdr=b"", sdl_len=None, nlen=None, alen=None, family=AF_LINK,
                size=SOCKADDR_DL_SIZE):
    """A sockaddr_dl of size bytes; the lengths may claim what is not there."""
    data = name + lladdr
    buf = bytearray(max(size, 8 + len(data)))
    struct.pack_into("<BBHBBBB", buf, 0, SOCKADDR_DL_SIZE if sdl_len is None else sdl_len,
                     family, 1, 6, len(name) if nlen is None else nlen,
                     len(lladdr) if alen is None else alen, 0)
    buf[8:8 + len(data)] = data
    return bytes(buf)


def ifinfo(name, msglen=None, nlen=None, **counters):
    """An RTM_IFINFO message: the header with its counters, then the
    interface's sockaddr_dl padded to whole longs."""
    if isinstance(name, str):
        name = name.encode()
    sdl = sockaddr_dl(name, nlen=nlen)
    sdl += bytes(-len(sdl) % 8)
    msg = bytearray(IF_MSGHDR_SIZE) + sdl
    struct.pack_into("<HBB", msg, 0, len(msg) if msglen is None else msglen, 5, RTM_IFINFO)
    for field, value in counters.items():
        struct.pack_into("<Q", msg, IFI[field], value)
    return bytes(msg)


def newaddr(ip="192.0.2.1"):
    """An RTM_NEWADDR message with one address."""
    body = bytes(4) + sockaddr_in(ip)
    msg = bytearray(20) + body
    struct.pack_into("<HBB", msg, 0, len(msg), 5, RTM_NEWADDR)
    return bytes(msg)


def ifaddrs_entry(name, flags=0, addr=b"", netmask=b"", dstaddr=b""):
    """One entry of an injected address list (empty address: null)."""
    if isinstance(name, str):
        name = name.encode()
    out = struct.pack("<IB", flags, len(name)) + name
    for sa in (addr, netmask, dstaddr):
        out += struct.pack("<B", len(sa)) + sa
    return out
