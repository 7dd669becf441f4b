"""Cost of one live call of each interface function, as a ratio to the
host's own answers measured in the same run: `ip -j addr` and
`ip -j -s link` (each a process), and the bare reads of /sys/class/net that
give the same counters. Then net_io_counters over an injected routing answer
of 10,000 interfaces, beside a plain Python walk of the same bytes.

    PYTHONPATH=build/py3.12:tests python3.12 bench/bench_net.py

Prints a table; asserts nothing about speed.
"""

import os
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))

import _quarn_bsd as q  # noqa: E402
import ifrecords as ir  # noqa: E402
import standin  # noqa: E402

HOST_ENV = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


def per_call(fn, *args, budget=0.25):
    """Best per-call time over three rounds, each of about budget/10 seconds."""
    n = 1
    while True:
        start = time.perf_counter()
        for _ in range(n):
            fn(*args)
        if time.perf_counter() - start >= budget / 10:
            break
        n *= 2
    rounds = []
    for _ in range(3):
        start = time.perf_counter()
        for _ in range(n):
            fn(*args)
        rounds.append((time.perf_counter() - start) / n)
    return min(rounds)


def ip_addr():
    subprocess.run(["ip", "-j", "addr"], stdout=subprocess.DEVNULL, env=HOST_ENV, check=True)


def ip_link_stats():
    subprocess.run(["ip", "-j", "-s", "link"], stdout=subprocess.DEVNULL, env=HOST_ENV,
                   check=True)


STAT_FILES = ["tx_bytes", "rx_bytes", "tx_packets", "rx_packets", "rx_errors", "tx_errors",
              "rx_dropped"]


def sys_counters():
    out = {}
    for name in os.listdir("/sys/class/net"):
        row = []
        for f in STAT_FILES:
            with open(f"/sys/class/net/{name}/statistics/{f}", "rb") as fh:
                row.append(int(fh.read()))
        out[name] = row
    return out


def sys_mtu():
    with open("/sys/class/net/lo/mtu", "rb") as fh:
        return int(fh.read())


def python_walk(data):
    """The same walk in Python: the floor of doing it at all from Python."""
    out, pos = {}, 0
    while pos < len(data):
        msglen, _, mtype = struct.unpack_from("<HBB", data, pos)
        if mtype == ir.RTM_IFINFO:
            nlen = data[pos + 173]
            name = data[pos + 176:pos + 176 + nlen].decode()
            out[name] = struct.unpack_from("<7Q", data, pos + 40)
        pos += msglen
    return out


def main():
    live = [
        ("net_if_addrs()", q.net_if_addrs, ()),
        ("net_io_counters()", q.net_io_counters, ()),
        ("net_if_flags('lo')", q.net_if_flags, ("lo",)),
        ("net_if_mtu('lo')", q.net_if_mtu, ("lo",)),
        ("net_if_is_running('lo')", q.net_if_is_running, ("lo",)),
        ("net_if_duplex_speed('lo')", q.net_if_duplex_speed, ("lo",)),
    ]
    base = {
        "ip -j addr": per_call(ip_addr),
        "ip -j -s link": per_call(ip_link_stats),
        "/sys counters (Python)": per_call(sys_counters),
        "/sys/class/net/lo/mtu (Python)": per_call(sys_mtu),
    }
    print(f"{'call':<34} {'per call':>12}   ratios to the baselines")
    print("-" * 90)
    for label, t in base.items():
        print(f"{label:<34} {t * 1e6:>9.1f} us   (baseline)")
    for label, fn, args in live:
        t = per_call(fn, *args)
        ratios = ", ".join(f"{t / b:.3f} x {name}" for name, b in base.items())
        print(f"{label:<34} {t * 1e6:>9.1f} us   {ratios}")

    n = 10000
    data = b"".join(ir.ifinfo(f"em{i}", ibytes=i, obytes=2 * i) for i in range(n))
    standin.sysctl_answer(ir.IFLIST, data)
    try:
        t_mod = per_call(q.net_io_counters, budget=1.0)
    finally:
        standin.reset()
    t_py = per_call(python_walk, data, budget=1.0)
    assert len(python_walk(data)) == n
    print()
    print(f"net_io_counters over {n} injected interfaces: {t_mod * 1e3:.2f} ms "
          f"({t_mod / n * 1e9:.0f} ns per interface); a Python walk of the same bytes "
          f"{t_py * 1e3:.2f} ms; ratio {t_mod / t_py:.3f}")


if __name__ == "__main__":
    main()
