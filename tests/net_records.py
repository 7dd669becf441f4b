"""FreeBSD amd64 records of the open-file table and the PCB lists, and the
socket fields of kinfo_file, built with struct at their byte offsets."""

import ipaddress
import struct

from records import KINFO_FILE_SIZE

AF_UNIX, AF_INET, AF_INET6 = 1, 2, 28
SOCK_STREAM, SOCK_DGRAM = 1, 2
INP_IPV4, INP_IPV6 = 0x1, 0x2
XFILE, XINPGEN, XTCPCB, XINPCB, XUNPGEN, XUNPCB = 128, 64, 744, 400, 32, 904
KF_TYPE_SOCKET = 2


def _put(buf, off, fmt, value):
    """Little-endian unless fmt gives its own order (ports: ">H")."""
    struct.pack_into(fmt if fmt[0] in "<>" else "<" + fmt, buf, off, value)


def xfile(pid, fd, data, size=XFILE):
    buf = bytearray(XFILE)
    _put(buf, 0, "Q", size)
    _put(buf, 8, "i", pid)
    _put(buf, 16, "i", fd)
    _put(buf, 56, "Q", data)
    return bytes(buf)


def gen(size, generation, length=None):
    """An xinpgen (size 64) or xunpgen (32) header or trailer."""
    buf = bytearray(size)
    _put(buf, 0, "Q", size if length is None else length)
    _put(buf, 16, "Q", generation)
    return bytes(buf)


def _addr(text):
    return ipaddress.ip_address(text).packed


def _pcb(buf, base, so, vflag, laddr, lport, faddr, fport, family, protocol, so_type):
    """The xinpcb fields at base (0 in a UDP record, 8 in a TCP one)."""
    _put(buf, base + 16, "Q", so)  # xso_so: xi_socket at 8, xso_so 8 into it
    _put(buf, base + 104, "i", protocol)
    _put(buf, base + 108, "i", family)
    _put(buf, base + 164, "h", so_type)
    _put(buf, base + 252, ">H", fport)
    _put(buf, base + 254, ">H", lport)
    for text, off6, off4 in ((faddr, 256, 268), (laddr, 272, 284)):
        raw = _addr(text)
        if len(raw) == 4:
            buf[base + off4:base + off4 + 4] = raw
        else:
            buf[base + off6:base + off6 + 16] = raw
    buf[base + 392] = vflag


def xinpcb(so, vflag=INP_IPV4, laddr="0.0.0.0", lport=0, faddr="0.0.0.0", fport=0,
           family=AF_INET, protocol=17, so_type=SOCK_DGRAM, length=XINPCB):
    buf = bytearray(XINPCB)
    _put(buf, 0, "Q", length)
    _pcb(buf, 0, so, vflag, laddr, lport, faddr, fport, family, protocol, so_type)
    return bytes(buf)


def xtcpcb(so, state, vflag=INP_IPV4, laddr="0.0.0.0", lport=0, faddr="0.0.0.0", fport=0,
           family=AF_INET, protocol=6, so_type=SOCK_STREAM, length=XTCPCB):
    buf = bytearray(XTCPCB)
    _put(buf, 0, "Q", length)
    _put(buf, 8, "Q", XINPCB)
    _pcb(buf, 8, so, vflag, laddr, lport, faddr, fport, family, protocol, so_type)
    _put(buf, 568, "i", state)
    return bytes(buf)


def xunpcb(so, path=b"", sun_len=None, length=XUNPCB, tail=b""):
    """A UNIX record; tail fills the bytes after sun_path's 104 (the rest of
    the 256-byte address union)."""
    buf = bytearray(XUNPCB)
    _put(buf, 0, "Q", length)
    if isinstance(path, str):
        path = path.encode()
    buf[152] = (2 + len(path) if path else 0) if sun_len is None else sun_len
    buf[153] = AF_UNIX
    buf[154:154 + len(path)] = path
    buf[258:258 + len(tail)] = tail
    _put(buf, 672, "Q", so)
    return bytes(buf)


def pcblist(records, hdr=XINPGEN, gens=(1, 1)):
    return gen(hdr, gens[0]) + b"".join(records) + gen(hdr, gens[1])


def sockaddr(family, host="", port=0, path=b"", sun_len=None):
    """A BSD sockaddr in a 128-byte sockaddr_storage."""
    buf = bytearray(128)
    buf[1] = family
    if family == AF_UNIX:
        if isinstance(path, str):
            path = path.encode()
        buf[0] = (2 + len(path) if path else 0) if sun_len is None else sun_len
        buf[2:2 + len(path)] = path
    elif family == AF_INET:
        buf[0] = 16
        _put(buf, 2, ">H", port)
        buf[4:8] = _addr(host or "0.0.0.0")
    else:
        buf[0] = 28
        _put(buf, 2, ">H", port)
        buf[8:24] = _addr(host or "::")
    return bytes(buf)


def kinfo_socket(fd, domain, type_, protocol=0, local=None, peer=None, kf_type=KF_TYPE_SOCKET):
    buf = bytearray(KINFO_FILE_SIZE)
    _put(buf, 0, "i", KINFO_FILE_SIZE)
    _put(buf, 4, "i", kf_type)
    _put(buf, 8, "i", fd)
    _put(buf, 36, "i", domain)
    _put(buf, 40, "i", type_)
    _put(buf, 44, "i", protocol)
    buf[48:176] = local if local is not None else bytes(128)
    buf[176:304] = peer if peer is not None else bytes(128)
    return bytes(buf)
