"""Writes the recording of a made-up large machine: 64 CPUs, 2,000
processes, 50 interfaces, 200 mounts, 16 disks and 3 logins. The answers
are built here in FreeBSD's layouts (tests/*records.py); the results are
those the module gives when it replays them, so the file checks itself.

    PYTHONPATH=build/py3.12:tests:tools python3 tests/recordings/make_machine.py OUT
"""

import struct
import sys

import _quarn_bsd

import ifrecords as ifr
import net_records as net
import records as rec
from quarn_record import __main__ as cli
from quarn_record import calls, fileformat as F

NCPU, NPROC, NIF, NMOUNT, NDISK = 64, 2000, 50, 200, 16
BOOT = 1767225600  # 2026-01-01
PAGE = 4096


def answer(data=b"", value=None):
    return (F.ANSWER, 1, (0 if value is None else 1, value or 0, data))


class Machine:
    def __init__(self):
        self.keys = []

    def put(self, call, key, *steps):
        self.keys.append((call, key, list(steps)))

    def sysctl(self, key, data):
        self.put("sysctl", key, answer(data))

    def system(self):
        self.put("sysconf", "47", answer(value=PAGE))
        self.sysctl("6.3", struct.pack("<i", NCPU))
        # Two samples of the CPU times, so that rates have two to compare.
        ticks = [(1000 * c + 50000, 10, 3000, 200, 900000) for c in range(NCPU)]
        later = [(u + 64, n, s + 32, i, idle + 32) for u, n, s, i, idle in ticks]
        self.put("sysctl", "kern.cp_time", *[
            answer(struct.pack("<5q", *map(sum, zip(*t)))) for t in (ticks, later)])
        self.put("sysctl", "kern.cp_times", *[
            answer(b"".join(struct.pack("<5q", *c) for c in t)) for t in (ticks, later)])
        for i, name in enumerate(("v_soft", "v_intr", "v_syscall", "v_trap", "v_swtch")):
            self.sysctl("vm.stats.sys." + name, struct.pack("<I", 1000003 * (i + 1)))
        self.sysctl("1.21", struct.pack("<qq", BOOT, 250000))
        cpus = ", ".join(str(c) for c in range(NCPU))
        self.sysctl("kern.sched.topology_spec", (
            '<groups>\n <group level="1" cache-level="3">\n  <cpu count="%d" mask="ffffffff'
            'ffffffff">%s</cpu>\n </group>\n</groups>\n' % (NCPU, cpus)).encode())
        for c in range(NCPU):
            self.sysctl("dev.cpu.%d.freq" % c, struct.pack("<i", 2400 + c))
            self.sysctl("dev.cpu.%d.freq_levels" % c, b"3600/-1 2400/-1 1200/-1\0")
            self.sysctl("dev.cpu.%d.temperature" % c, struct.pack("<i", 3231 + c))

    def memory(self):
        self.sysctl("hw.physmem", struct.pack("<Q", 512 << 30))
        for name, pages in (("active", 20 << 20), ("inactive", 40 << 20), ("wire", 8 << 20),
                            ("cache", 0), ("free", 60 << 20)):
            self.sysctl("vm.stats.vm.v_%s_count" % name, struct.pack("<I", pages))
        self.sysctl("vfs.bufspace", struct.pack("<q", 1 << 30))
        self.sysctl("2.1", bytes(88))
        swap = [(b"nda0p3", 1 << 20, 1 << 22), (b"total", 1 << 20, 1 << 22)]
        self.put("kvm_getswapinfo", "", answer(b"".join(
            struct.pack("<32sIIiii", n, used, total, 0, 0, 0) for n, used, total in swap), 1))
        for name in ("swapin", "swapout", "vnodein", "vnodeout"):
            self.sysctl("vm.stats.vm.v_" + name, struct.pack("<I", 12345))
        self.put("mallctl", "thread.tcache.flush", answer())
        self.put("mallctl", "epoch", answer(struct.pack("<Q", 1)))
        self.put("mallctl", "stats.allocated", answer(struct.pack("<Q", 64 << 20)))
        self.put("mallctl", "stats.mapped", answer(struct.pack("<Q", 96 << 20)))

    def disks(self):
        self.put("devstat_getdevs", "", answer(b"".join(
            rec.devstat("nda", d, reads=1000 * d, writes=500 * d, rbytes=4096000 * d,
                        wbytes=2048000 * d, rtime=(d, 0), wtime=(d, 1 << 63), busy=(2 * d, 0))
            for d in range(NDISK))))
        mounts = [rec.statfs("/dev/nda0p2", "/", "ufs", 0x1000)] + [
            rec.statfs("tank/data%03d" % m, "/data/%03d" % m, "zfs", 0x1000 | (m % 2))
            for m in range(1, NMOUNT)]
        self.put("getfsstat", "", answer(value=NMOUNT), answer(b"".join(mounts), NMOUNT))
        self.put("utmpx", "", answer(b"".join(
            rec.utmpx("user%d" % u, "pts/%d" % u, "10.0.0.%d" % (u + 10), BOOT + 3600 * u,
                      pid=5000 + u) for u in range(3))))

    def interfaces(self):
        entries, msgs, names = [], [], {}
        for i in range(NIF):
            name = "lo0" if i == 0 else "ix%d" % (i - 1)
            mac = bytes([0x02, 0, 0, 0, i // 256, i % 256]) if i else b""
            flags = 0x8049 if i == 0 else 0x8843  # UP, RUNNING, MULTICAST (+BROADCAST)
            ip = "127.0.0.1" if i == 0 else "10.%d.%d.1" % (i // 200, i % 200)
            mask = "255.0.0.0" if i == 0 else "255.255.255.0"
            bcast = "" if i == 0 else ip[:-1] + "255"
            entries.append(ifr.ifaddrs_entry(name, flags, ifr.sockaddr_dl(name.encode(), mac)))
            entries.append(ifr.ifaddrs_entry(name, flags, ifr.sockaddr_in(ip),
                                             ifr.sockaddr_in(mask),
                                             ifr.sockaddr_in(bcast) if bcast else b""))
            for text in filter(None, (ip, mask, bcast)):
                names[bytes(int(p) for p in text.split(".")).hex()] = text
            msgs.append(ifr.ifinfo(name, ipackets=1000 * i, opackets=900 * i,
                                   ibytes=1500000 * i, obytes=1400000 * i))
            media = 0x20 | (26 if i % 2 else 16) | 0x100000 if i else 0
            self.put("ioctl", name + "/SIOCGIFFLAGS", answer(struct.pack("<Hh12x", flags, 0)))
            self.put("ioctl", name + "/SIOCGIFMTU", answer(struct.pack("<i12x", 16384 if i == 0
                                                                       else 9000)))
            self.put("ioctl", name + "/SIOCGIFMEDIA", answer(struct.pack(
                "<5i4x", media, 0, 3 if i else 0, media, 0)))
        self.put("getifaddrs", "", answer(b"".join(entries)))
        for packed, text in names.items():
            self.put("getnameinfo", "2.%s.0" % packed, answer(text.encode()))
        self.sysctl("4.17.0.0.3.0", b"".join(msgs))

    def processes(self):
        table = []
        files, tcp = [], []
        for n in range(NPROC):
            pid = 1 if n == 0 else 100 + n
            name = ("init", "sshd", "nginx", "postgres", "python3.11")[min(n, 1 + n % 4)]
            kp = rec.kinfo_proc(name, ki_pid=pid, ki_ppid=0 if pid == 1 else 1, ki_uid=n % 7,
                                ki_ruid=n % 7, ki_start_sec=BOOT + n, ki_stat=2 + (n % 3 == 0),
                                ki_numthreads=1, ki_tid=100000 + pid, ki_size=(n + 1) << 20,
                                ki_rssize=n + 10, ru_utime_sec=n % 60, ru_stime_sec=n % 11,
                                ki_flag=0x4, ki_tdev=rec.NODEV)
            table.append(kp)
            key = str(pid)
            for sysctl_key in ("1.14.1." + key, "1.14.17." + key):
                self.sysctl(sysctl_key, kp)
            self.put("kvm_getprocs", key, answer(kp))
            exe = "/usr/local/bin/" + name
            self.sysctl("1.14.12." + key, exe.encode() + b"\0")
            self.sysctl("1.14.7." + key, b"\0".join(
                [exe.encode(), b"--worker", str(n).encode()]) + b"\0")
            self.put("kvm_getenvv", key, answer(b"PATH=/bin:/usr/bin\0HOME=/var/empty\0"))
            self.put("kill", key, answer(value=0))
            self.put("getpriority", key, answer(value=n % 21 - 10 if n else 0))
            self.put("cpuset_getaffinity", key, answer(b"\xff" * (NCPU // 8) + bytes(120)))
            fds = [rec.kinfo_file("/var/run/%s" % name, kf_fd=-1, kf_type=1, kf_vnode_type=2),
                   rec.kinfo_file("/var/log/%s.log" % name, kf_fd=3, kf_type=1, kf_vnode_type=1)]
            if n % 10 == 0:
                so = 0xfffff80000000000 + n
                fds.append(net.kinfo_socket(4, net.AF_INET, net.SOCK_STREAM, 6,
                                            net.sockaddr(net.AF_INET, "10.0.0.1", 8000 + n)))
                files.append(net.xfile(pid, 4, so))
                tcp.append(net.xtcpcb(so, 10, laddr="10.0.0.1", lport=8000 + n))
            self.put("kinfo_getfile", key, answer(b"".join(fds)))
            self.put("kinfo_getvmmap", key, answer(rec.kinfo_vmentry(
                exe, kve_type=2, kve_start=0x200000, kve_end=0x400000, kve_resident=100,
                kve_protection=5, kve_ref_count=1)))
            for r in range(16):
                self.sysctl("1.14.37.%s.%d" % (key, r), struct.pack("<qq", 1 << 20, 1 << 30))
        self.sysctl("1.14.8.0", b"".join(table))
        self.sysctl("kern.file", b"".join(files))
        self.sysctl("net.inet.tcp.pcblist", net.pcblist(tcp))
        self.sysctl("net.inet.udp.pcblist", net.pcblist([]))
        for kind in ("stream", "dgram", "seqpacket"):
            self.sysctl("net.local.%s.pcblist" % kind, net.pcblist([], net.XUNPGEN))


def main(out):
    m = Machine()
    m.system()
    m.memory()
    m.disks()
    m.interfaces()
    m.processes()
    keys = F.lay_out_keys(m.keys)
    # The results: the recorder's calls, made against these answers.
    made = cli.under_replay(keys, lambda: calls.whole_machine(_quarn_bsd))
    meta = {"host": "bighost.example", "os": "FreeBSD", "release": "14.2-RELEASE",
            "machine": "amd64", "module": getattr(_quarn_bsd, "version", None),
            "platform": "made up by tests/recordings/make_machine.py", "raw": False,
            "kept": ["everything: nothing in it is of a real machine"], "pid": 100 + NPROC - 1}
    F.write(out, keys, meta, made, preset=6)


if __name__ == "__main__":
    main(sys.argv[1])
