"""Replaces what a recording would tell of its machine's people: command
lines, environments, user names, paths, host names and addresses. Every
value is replaced by one of the same length and shape (letters by letters
of the same case, digits by digits), and the same value always by the same
one, so that what joins on the machine (a path in a map and in a file
table, a user in two logins) still joins. The secret of the replacement is
made afresh for each recording and never kept."""

import hashlib
import ipaddress
import os
import re
import struct

from . import fileformat

HOST = "recorded-host"

KEPT = [
    "numbers (process IDs, sizes, times, ports, counters)",
    "interface names, disk statistics' device names, file system type names",
    "common directory names (usr, bin, lib, etc, var, tmp, dev, proc, ...)",
    "environment variable names",
    "loopback, unspecified and multicast addresses, and netmasks",
    "bytes outside ASCII in names",
    "link-level addresses in the routing messages of the interface counters",
]

COMMON = {w.encode() for w in (
    "usr bin sbin lib lib32 lib64 libexec etc var tmp dev proc sys run opt share local "
    "home root boot mnt media srv include src cache log spool pts tty null zero random "
    "urandom socket pipe anon inode deleted memfd so python python3 sh bash").split()}

KINFO_PROC, KINFO_FILE, KINFO_VMENTRY, STATFS, UTMPX = 1088, 1392, 1160, 2344, 280
PROC_TEXT = ((394, 17), (420, 18), (447, 20))     # ki_tdname, ki_login, ki_comm
UTMPX_TEXT = ((36, 32), (68, 16), (84, 128))      # ut_user, ut_line, ut_host
STATFS_TEXT = ((296, 1024), (1320, 1024))         # f_mntfromname, f_mntonname
AF_UNIX, AF_INET, AF_LINK, AF_INET6 = 1, 2, 18, 28
QUAD = re.compile(rb"(?<![0-9.])(?:[0-9]{1,3}\.){3}[0-9]{1,3}(?![0-9.])")
WORD = re.compile(rb"[A-Za-z0-9]+")
LOWER, UPPER, DIGITS = b"abcdefghijklmnopqrstuvwxyz", b"ABCDEFGHIJKLMNOPQRSTUVWXYZ", b"0123456789"


class Scrubber:
    def __init__(self, secret=None):
        self.secret = secret or os.urandom(16)
        self.words, self.taken = {}, set()
        self.addrs, self.addrs_taken = {}, set()

    def _stream(self, value, attempt):
        return hashlib.blake2b(value, key=self.secret, salt=struct.pack("<Q", attempt)[:8],
                               digest_size=64).digest()

    def word(self, w):
        if w.isdigit() or w.lower() in COMMON or len(w) > 64:
            return w
        if w not in self.words:
            for attempt in range(64):
                h = self._stream(w, attempt)
                out = bytes((UPPER if 65 <= c <= 90 else LOWER if 97 <= c <= 122 else DIGITS)
                            [h[i] % (26 if c > 64 else 10)] for i, c in enumerate(w))
                if out not in self.taken and out.lower() not in COMMON:
                    break
            else:
                out = w  # no free replacement of this length: kept
            self.words[w] = out
            self.taken.add(out)
        return self.words[w]

    def text(self, b):
        b = QUAD.sub(lambda m: self._quad(m.group()), b)
        return WORD.sub(lambda m: self.word(m.group()), b)

    def _quad(self, t):
        try:
            a = ipaddress.IPv4Address(t.decode())
        except ValueError:
            return t
        return str(ipaddress.IPv4Address(self.addr(a.packed))).encode()

    def addr(self, raw):
        """An IPv4 or IPv6 address, or a link-level one, as raw bytes."""
        if not any(raw) or (len(raw) == 4 and (raw[0] in (127, 255) or raw[0] >= 224)) or \
                (len(raw) == 16 and (raw == b"\0" * 15 + b"\1" or raw[0] == 0xff)):
            return raw
        if len(raw) == 16 and raw[:12] == b"\0" * 10 + b"\xff\xff":
            return raw[:12] + self.addr(raw[12:])
        if raw not in self.addrs:
            keep = 1 if len(raw) == 4 else 8 if raw[:2] == b"\xfe\x80" else 2
            for attempt in range(64):
                h = self._stream(raw, attempt)
                out = raw[:keep] + h[:len(raw) - keep]
                if len(raw) == 6:  # keep the group and local bits of a link address
                    out = bytes([(raw[0] & 3) | (h[0] & 0xfc)]) + h[1:6]
                if out not in self.addrs_taken:
                    break
            self.addrs[raw] = out
            self.addrs_taken.add(out)
        return self.addrs[raw]

    # Fields of records, changed in place in a bytearray.

    def field(self, buf, off, size):
        if off + size > len(buf):
            return
        raw = bytes(buf[off:off + size])
        end = raw.find(b"\0")
        end = size if end < 0 else end
        buf[off:off + end] = self.text(raw[:end])

    def strings(self, data, env=False):
        """NUL-separated strings; of NAME=value, the value only."""
        parts = []
        for s in data.split(b"\0"):
            if env and b"=" in s:
                name, value = s.split(b"=", 1)
                parts.append(name + b"=" + self.text(value))
            else:
                parts.append(self.text(s))
        return b"\0".join(parts)

    def sockaddr(self, buf, off, size):
        if off + 2 > len(buf) or size < 2:
            return
        family = buf[off + 1]
        for fam, at, n in ((AF_INET, 4, 4), (AF_INET6, 8, 16)):
            if family == fam and at + n <= size and off + at + n <= len(buf):
                buf[off + at:off + at + n] = self.addr(bytes(buf[off + at:off + at + n]))
        if family == AF_UNIX:
            self.field(buf, off + 2, min(size - 2, 104))
        if family == AF_LINK and size >= 8 and off + 8 <= len(buf):
            nlen, alen = buf[off + 5], buf[off + 6]
            at = off + 8 + nlen
            if alen == 6 and at + 6 <= off + size and at + 6 <= len(buf):
                buf[at:at + 6] = self.addr(bytes(buf[at:at + 6]))

    def addr16(self, buf, off):
        """An address field that holds IPv4 in its last four bytes."""
        raw = bytes(buf[off:off + 16])
        if len(raw) != 16:
            return
        if raw[:12] == b"\0" * 12:
            buf[off + 12:off + 16] = self.addr(raw[12:])
        else:
            buf[off:off + 16] = self.addr(raw)

    # Answers by call and key.

    def records(self, data, size, fn):
        buf = bytearray(data)
        for at in range(0, len(buf) - size + 1, size):
            fn(buf, at)
        return bytes(buf)

    def proc(self, buf, at):
        for off, n in PROC_TEXT:
            self.field(buf, at + off, n)

    def file(self, buf, at):
        self.field(buf, at + 368, 1024)
        self.sockaddr(buf, at + 48, 128)
        self.sockaddr(buf, at + 176, 128)

    def pcblist(self, data, unix):
        """A control-block list: a header, records each stating its length."""
        buf = bytearray(data)
        if len(buf) < 8:
            return data
        pos = struct.unpack_from("<Q", buf, 0)[0]
        while 0 < pos and pos + 8 <= len(buf):
            n = struct.unpack_from("<Q", buf, pos)[0]
            if n <= 64 or n > len(buf) - pos:
                break
            if unix and n >= 410 + 104:
                self.sockaddr(buf, pos + 152, 106)
                self.sockaddr(buf, pos + 408, 106)
            elif not unix:
                base = pos + (8 if n >= 744 else 0)
                if base + 288 <= len(buf):
                    self.addr16(buf, base + 256)
                    self.addr16(buf, base + 272)
            pos += n
        return bytes(buf)

    def ifaddrs(self, data):
        out, pos = [], 0
        while len(data) - pos >= 4:
            out.append(data[pos:pos + 4])
            pos += 4
            for i in range(4):
                if pos >= len(data):
                    return b"".join(out)
                n = data[pos]
                f = bytearray(data[pos + 1:pos + 1 + n])
                if i in (1, 3):  # the address and destination; names and masks stay
                    self.sockaddr(f, 0, len(f))
                out.append(bytes([len(f)]) + bytes(f))
                pos += 1 + n
        return b"".join(out) + data[pos:]

    def nameinfo(self, text):
        host, sep, scope = text.partition(b"%")
        try:
            a = ipaddress.ip_address(host.decode())
        except ValueError:
            return self.text(text)
        return str(ipaddress.ip_address(self.addr(a.packed))).encode() + sep + scope

    def key(self, call, key):
        """A name lookup's key holds the address it names."""
        parts = key.split(".")
        if call != "getnameinfo" or len(parts) != 3:
            return key
        try:
            parts[1] = self.addr(bytes.fromhex(parts[1])).hex()
        except ValueError:
            pass
        return ".".join(parts)

    def answer(self, call, key, data):
        if call == "sysctl":
            if key.startswith("1.14.7."):
                return self.strings(data)
            if key.startswith("1.14.12."):
                return self.text(data)
            if key.startswith("1.14.") and len(data) % KINFO_PROC == 0:
                return self.records(data, KINFO_PROC, self.proc)
            if key in ("net.inet.tcp.pcblist", "net.inet.udp.pcblist"):
                return self.pcblist(data, False)
            if key.startswith("net.local."):
                return self.pcblist(data, True)
            return data
        if call == "kvm_getprocs":
            return self.records(data, KINFO_PROC, self.proc)
        if call == "kvm_getenvv":
            return self.strings(data, env=True)
        if call == "kinfo_getfile":
            return self.records(data, KINFO_FILE, self.file)
        if call == "kinfo_getvmmap":
            return self.records(data, KINFO_VMENTRY,
                                lambda b, at: self.field(b, at + 136, 1024))
        if call == "getfsstat":
            return self.records(data, STATFS, lambda b, at: [
                self.field(b, at + off, n) for off, n in STATFS_TEXT])
        if call == "utmpx":
            return self.records(data, UTMPX, lambda b, at: [
                self.field(b, at + off, n) for off, n in UTMPX_TEXT])
        if call == "getifaddrs":
            return self.ifaddrs(data)
        if call == "getnameinfo":
            return self.nameinfo(data)
        return data


def scrub(keys, secret=None):
    """The key records with their private values replaced, and what was kept."""
    s = Scrubber(secret)
    out = []
    for call, key, runs in fileformat.parse_keys(keys):
        new = []
        for kind, repeat, fields in runs:
            if kind == fileformat.ANSWER:
                fields = (fields[0], fields[1], s.answer(call, key, fields[2]))
            new.append((kind, repeat, fields))
        out.append((call, s.key(call, key), new))
    return fileformat.lay_out_keys(out), KEPT
