"""The connection, interface and mount tables at three sizes each, as
same-run ratios (medians of per-round ratios) with the fitted exponent of
each cost's growth:

- net_connections() and proc_net_connections() of the sockets' owner (a
  child holding loopback TCP pairs) against `ss -tuanxp`;
- net_io_counters() against a Python read of /proc/net/dev, among ifb
  interfaces with an address each, made in a network namespace of the
  bench's own;
- disk_partitions() against a Python parse of /proc/self/mountinfo, among
  tmpfs mounts made in a mount namespace of the bench's own.

    PYTHONPATH=build/py3.12 python3.12 bench/bench_tables_net.py [--rounds N]

The namespaces need root and unshare(1); without them those parts are
skipped. Prints figures; asserts nothing about speed.
"""

import argparse
import ctypes
import os
import shutil
import subprocess
import sys
import tempfile
import textwrap

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import _quarn_bsd as q  # noqa: E402
import scale  # noqa: E402

SS = ["ss", "-tuanxp"]
SOCKETS = (2500, 5000, 10000)
LINKS = (500, 1000, 2000)
MOUNTS = (500, 1000, 2000)
ALL = ((2, 28, 1), (1, 2))

HOLDER = textwrap.dedent("""
    import resource, socket, sys
    n = int(sys.argv[1])
    resource.setrlimit(resource.RLIMIT_NOFILE, (n + 256, n + 256))
    lsn = socket.socket()
    lsn.bind(("127.0.0.1", 0))
    lsn.listen(1024)
    keep = [lsn]
    for _ in range(n // 2):
        c = socket.create_connection(lsn.getsockname())
        s, _ = lsn.accept()
        keep += [c, s]
    print("ready", flush=True)
    sys.stdin.read()
""")


def holder(n):
    p = subprocess.Popen([sys.executable, "-c", HOLDER, str(n)], stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE, text=True)
    assert p.stdout.readline() == "ready\n"
    return p


def sockets(rounds):
    scale.header(f"connection tables, {rounds} rounds per size")
    sizes, all_costs, own_costs = [], [], []
    last = {}
    for n in SOCKETS:
        p = holder(n)
        try:
            listed = len(q.net_connections(*ALL))
            times = scale.rounds({
                "all": lambda: q.net_connections(*ALL),
                "own": lambda: q.proc_net_connections(p.pid, *ALL),
                "ss": scale.run_quiet(SS),
            }, rounds)
        finally:
            p.stdin.close()
            p.wait()
        sizes.append(n)
        all_costs.append(scale.median(times["all"]))
        own_costs.append(scale.median(times["own"]))
        print(f"  {n} sockets held ({listed} connections listed): net_connections"
              f" {all_costs[-1] * 1e3:.1f} ms, proc_net_connections {own_costs[-1] * 1e3:.1f}"
              f" ms, ss {scale.median(times['ss']) * 1e3:.1f} ms")
        last = times
    print(f"  at {sizes[-1]} sockets:")
    scale.show_ratio("net_connections() / ss -tuanxp", scale.ratio(last, "all", "ss"), 1.0)
    scale.show_ratio("proc_net_connections(owner) / ss -tuanxp", scale.ratio(last, "own", "ss"),
                     0.5)
    scale.show_growth("net_connections()", sizes, all_costs)
    scale.show_growth("proc_net_connections()", sizes, own_costs)


def read_net_dev():
    with open("/proc/net/dev", "rb") as f:
        f.read()


def links(rounds):
    """Runs inside a network namespace of its own."""
    scale.header(f"interface table, in a network namespace, {rounds} rounds per size")
    sizes, costs = [], []
    made, last = 0, {}
    for n in LINKS:
        # Each interface with an address of its own, so that laying out the
        # addresses under their links is part of the cost.
        batch = "".join(f"link add qb{i} type ifb\n"
                        f"addr add 10.{i >> 16}.{(i >> 8) & 255}.{i & 255}/32 dev qb{i}\n"
                        for i in range(made, n))
        subprocess.run(["ip", "-batch", "-"], input=batch, text=True, check=True,
                       env=scale.HOST_ENV)
        made = n
        count = len(q.net_io_counters())
        times = scale.rounds({"module": q.net_io_counters, "python": read_net_dev}, rounds)
        sizes.append(count)
        costs.append(scale.median(times["module"]))
        print(f"  {count} interfaces: net_io_counters {costs[-1] * 1e3:.2f} ms, read of"
              f" /proc/net/dev {scale.median(times['python']) * 1e3:.2f} ms")
        last = times
    print(f"  at {sizes[-1]} interfaces:")
    scale.show_ratio("net_io_counters() / Python read of /proc/net/dev",
                     scale.ratio(last, "module", "python"), 1.5)
    scale.show_ratio(f"cost at {sizes[-1]} / cost at {sizes[-2]} interfaces",
                     costs[-1] / costs[-2], 2.3)
    scale.show_growth("net_io_counters()", sizes, costs)


def parse_mountinfo():
    """A minimal parse: device, mount point, type and options of each line."""
    out = []
    with open("/proc/self/mountinfo") as f:
        for line in f:
            head, _, tail = line.partition(" - ")
            left, right = head.split(), tail.split()
            out.append((right[1], left[4], right[0], left[5]))
    return out


def mounts(rounds):
    """Runs inside a mount namespace of its own."""
    scale.header(f"mount table, in a mount namespace, {rounds} rounds per size")
    libc = ctypes.CDLL(None, use_errno=True)
    base = tempfile.mkdtemp(prefix="quarn-bench-")
    sizes, costs = [], []
    made, last = 0, {}
    for n in MOUNTS:
        for i in range(made, n):
            d = os.path.join(base, str(i))
            os.mkdir(d)
            if libc.mount(b"quarn-bench", d.encode(), b"tmpfs", 0, b"size=4k") != 0:
                print(f"  mount failed: {os.strerror(ctypes.get_errno())}")
                return
        made = n
        count = len(q.disk_partitions())
        times = scale.rounds({"module": q.disk_partitions, "python": parse_mountinfo}, rounds)
        sizes.append(count)
        costs.append(scale.median(times["module"]))
        print(f"  {count} mounts: disk_partitions {costs[-1] * 1e3:.2f} ms, Python parse"
              f" {scale.median(times['python']) * 1e3:.2f} ms")
        last = times
    print(f"  at {sizes[-1]} mounts:")
    scale.show_ratio("disk_partitions() / Python mountinfo parse",
                     scale.ratio(last, "module", "python"), 1.5)
    scale.show_growth("disk_partitions()", sizes, costs)
    # The namespace, and its mounts, end with this process.


def in_namespace(flags, part, rounds):
    unshare = shutil.which("unshare")
    if unshare is None or os.geteuid() != 0:
        print(f"{part}: skipped, no namespace can be made here")
        return
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    run = subprocess.run([unshare, *flags, sys.executable, os.path.abspath(__file__),
                          "--inside", part, "--rounds", str(rounds)], env=env)
    if run.returncode != 0:
        print(f"{part}: the namespace run failed")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rounds", type=int, default=9)
    ap.add_argument("--only", choices=("sockets", "links", "mounts"), action="append")
    ap.add_argument("--inside", choices=("links", "mounts"))
    args = ap.parse_args()
    if args.inside == "links":
        links(args.rounds)
        return 0
    if args.inside == "mounts":
        mounts(args.rounds)
        return 0
    parts = args.only or ("sockets", "links", "mounts")
    if "sockets" in parts:
        sockets(args.rounds)
    if "links" in parts:
        in_namespace(["-n"], "links", args.rounds)
    if "mounts" in parts:
        in_namespace(["-m", "--propagation", "private"], "mounts", args.rounds)
    return 0


if __name__ == "__main__":
    sys.exit(main())
