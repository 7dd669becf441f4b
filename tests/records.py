"""FreeBSD amd64 kernel records built with struct at their byte offsets.

Deliberately independent of the C++ structs, so a layout slip on either side
fails a test.
"""

import struct

KINFO_PROC_SIZE = 1088
KINFO_FILE_SIZE = 1392
KINFO_VMENTRY_SIZE = 1160
NODEV = 0xFFFFFFFFFFFFFFFF

# kinfo_proc field offsets (FreeBSD amd64).
KP = {
    "ki_structsize": (0, "i"),
    "ki_pid": (72, "i"),
    "ki_ppid": (76, "i"),
    "ki_uid": (168, "I"),
    "ki_ruid": (172, "I"),
    "ki_svuid": (176, "I"),
    "ki_rgid": (180, "I"),
    "ki_svgid": (184, "I"),
    "ki_ngroups": (188, "h"),
    "ki_groups0": (192, "I"),
    "ki_size": (256, "Q"),
    "ki_rssize": (264, "q"),
    "ki_tsize": (280, "q"),
    "ki_dsize": (288, "q"),
    "ki_ssize": (296, "q"),
    "ki_start_sec": (336, "q"),
    "ki_start_usec": (344, "q"),
    "ki_flag": (368, "q"),
    "ki_stat": (388, "b"),
    "ki_tdev": (560, "Q"),
    "ki_oncpu": (568, "i"),
    "ki_lastcpu": (572, "i"),
    "ki_numthreads": (596, "i"),
    "ki_tid": (600, "i"),
    # ki_rusage at 608: ru_utime, ru_stime, then 14 longs.
    "ru_utime_sec": (608, "q"),
    "ru_utime_usec": (616, "q"),
    "ru_stime_sec": (624, "q"),
    "ru_stime_usec": (632, "q"),
    "ru_maxrss": (640, "q"),
    "ru_minflt": (672, "q"),
    "ru_majflt": (680, "q"),
    "ru_inblock": (696, "q"),
    "ru_oublock": (704, "q"),
    "ru_nvcsw": (736, "q"),
    "ru_nivcsw": (744, "q"),
    # ki_rusage_ch at 752.
    "ch_utime_sec": (752, "q"),
    "ch_utime_usec": (760, "q"),
    "ch_stime_sec": (768, "q"),
    "ch_stime_usec": (776, "q"),
}
KI_COMM = 447
KI_COMM_LEN = 20


def kinfo_proc(comm=b"", **fields):
    """One kinfo_proc record; ki_structsize is filled in unless given."""
    buf = bytearray(KINFO_PROC_SIZE)
    fields.setdefault("ki_structsize", KINFO_PROC_SIZE)
    for name, value in fields.items():
        off, fmt = KP[name]
        struct.pack_into("<" + fmt, buf, off, value)
    if isinstance(comm, str):
        comm = comm.encode()
    assert len(comm) <= KI_COMM_LEN
    buf[KI_COMM:KI_COMM + len(comm)] = comm
    return bytes(buf)


def unpack_kinfo_proc(data, name):
    off, fmt = KP[name]
    return struct.unpack_from("<" + fmt, data, off)[0]


def comm_of(data):
    raw = data[KI_COMM:KI_COMM + KI_COMM_LEN]
    return raw.split(b"\0", 1)[0]


def proc_table(records):
    return b"".join(records)


# Mounts, device statistics and login records (FreeBSD amd64).

STATFS_SIZE = 2344
DEVSTAT_SIZE = 288
UTMPX_SIZE = 280
USER_PROCESS = 4


def _put(rec, offset, size, text):
    """A name field: the bytes, cut to the field, NUL-padded by the zeroed
    record (none when the text fills the field)."""
    text = text.encode() if isinstance(text, str) else text
    rec[offset:offset + min(len(text), size)] = text[:size]


STATFS_VERSION = 0x20140518


def statfs(mntfrom="", mnton="", fstype="", flags=0, version=STATFS_VERSION):
    rec = bytearray(STATFS_SIZE)
    struct.pack_into("<I", rec, 0, version)
    struct.pack_into("<Q", rec, 8, flags)
    _put(rec, 280, 16, fstype)
    _put(rec, 296, 1024, mntfrom)
    _put(rec, 1320, 1024, mnton)
    return bytes(rec)


def devstat(name, unit, reads=0, writes=0, rbytes=0, wbytes=0, rtime=(0, 0), wtime=(0, 0),
            busy=(0, 0)):
    """Times are bintimes, (seconds, 64-bit fraction)."""
    rec = bytearray(DEVSTAT_SIZE)
    _put(rec, 44, 16, name)
    struct.pack_into("<i", rec, 60, unit)
    struct.pack_into("<4Q", rec, 64, 0, rbytes, wbytes, 0)
    struct.pack_into("<4Q", rec, 96, 0, reads, writes, 0)
    struct.pack_into("<qQqQ", rec, 128 + 16, *rtime, *wtime)
    struct.pack_into("<qQ", rec, 192, *busy)
    return bytes(rec)


def utmpx(user="", line="", host="", sec=0, usec=0, pid=0, type=USER_PROCESS):
    rec = bytearray(UTMPX_SIZE)
    struct.pack_into("<h", rec, 0, type)
    struct.pack_into("<qq", rec, 8, sec, usec)
    struct.pack_into("<i", rec, 32, pid)
    _put(rec, 36, 32, user)
    _put(rec, 68, 16, line)
    _put(rec, 84, 128, host)
    return bytes(rec)
# kinfo_file and kinfo_vmentry field offsets (FreeBSD amd64).
KF = {
    "kf_structsize": (0, "i"),
    "kf_type": (4, "i"),
    "kf_fd": (8, "i"),
    "kf_vnode_type": (32, "i"),
    "kf_sock_domain": (36, "i"),
    "kf_sock_type": (40, "i"),
    "kf_sock_protocol": (44, "i"),
}
KF_PATH = 368
KVE = {
    "kve_structsize": (0, "i"),
    "kve_type": (4, "i"),
    "kve_start": (8, "Q"),
    "kve_end": (16, "Q"),
    "kve_resident": (48, "i"),
    "kve_private_resident": (52, "i"),
    "kve_protection": (56, "i"),
    "kve_ref_count": (60, "i"),
    "kve_shadow_count": (64, "i"),
}
KVE_PATH = 136
PATH_LEN = 1024


def _entry(size, offsets, path_at, path, fields):
    buf = bytearray(size)
    for name, value in fields.items():
        off, fmt = offsets[name]
        struct.pack_into("<" + fmt, buf, off, value)
    if isinstance(path, str):
        path = path.encode()
    assert len(path) <= PATH_LEN  # a full field keeps no NUL
    buf[path_at:path_at + len(path)] = path
    return bytes(buf)


def kinfo_file(path=b"", **fields):
    """One kinfo_file entry; kf_structsize is filled in unless given."""
    fields.setdefault("kf_structsize", KINFO_FILE_SIZE)
    return _entry(KINFO_FILE_SIZE, KF, KF_PATH, path, fields)


def kinfo_vmentry(path=b"", **fields):
    """One kinfo_vmentry entry; kve_structsize is filled in unless given."""
    fields.setdefault("kve_structsize", KINFO_VMENTRY_SIZE)
    return _entry(KINFO_VMENTRY_SIZE, KVE, KVE_PATH, path, fields)
