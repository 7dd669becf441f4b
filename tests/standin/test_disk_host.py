"""Disk device names of the stand-in, from a made-up /proc and /sys."""

import _quarn_bsd as q


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
