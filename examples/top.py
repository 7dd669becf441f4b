"""A small client of the module: this process, the busiest processes by
resident memory, the machine's memory and each interface's addresses.

    PYTHONPATH=build/py3.12 python3.12 examples/top.py
"""

import os

import _quarn_bsd as q

RSS = 18  # the resident-size field of proc_oneshot_info


def largest(count: int) -> list[tuple[int, str, int]]:
    """(pid, name, resident bytes) of the count largest processes."""
    rows: list[tuple[int, str, int]] = []
    for pid in q.pids():
        try:
            info = q.proc_oneshot_info(pid)
        except (OSError, q.ZombieProcessError):
            continue  # gone, or not ours to read
        rows.append((pid, info[24] or "?", info[RSS]))
    rows.sort(key=lambda row: row[2], reverse=True)
    return rows[:count]


def main() -> None:
    me = os.getpid()
    soft, hard = q.proc_getrlimit(me, q.RLIMIT_NOFILE)
    print(f"{q.proc_name(me)} ({me}): {q.proc_num_fds(me)} descriptors, limit {soft}/{hard}")
    for pid, name, rss in largest(5):
        print(f"{pid:>8} {name:<20} {rss / 2**20:10.1f} MiB")
    total, free, *_ = q.virtual_mem()
    print(f"memory: {free / 2**20:.0f} MiB free of {total / 2**20:.0f} MiB")
    for name, family, address, netmask, _broadcast, _peer in q.net_if_addrs():
        if family != q.AF_LINK:
            print(f"{name}: {address}" + (f" mask {netmask}" if netmask else ""))


if __name__ == "__main__":
    main()
