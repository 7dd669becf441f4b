"""Cost of the connection tables: on injected tables of 50,000 PCBs and
200,000 open files, against building the same result tuples bare; and live,
with 10,000 loopback sockets this bench opens and closes, beside ss -tuanxp
over the same host. Prints figures and ratios; asserts nothing about speed."""

import os
import resource
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))

import _quarn_bsd as q  # noqa: E402
import standin  # noqa: E402
from net_records import XUNPGEN, pcblist, xfile, xinpcb, xtcpcb  # noqa: E402

SS = ["ss", "-tuanxp"]


def best_of(fn, repeat):
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def row(what, seconds, ratio=None):
    line = f"  {what:<52} {seconds * 1e3:10.2f} ms"
    if ratio is not None:
        line += f"   x{ratio:.2f}"
    print(line)


def injected(pcbs=50_000, files=200_000):
    print(f"injected: {pcbs} TCP PCBs, {files} open files (best of 5)")
    # Each PCB's socket is held by one of the files, spread through the table;
    # the other files are other objects.
    base = 0xfffff80000000000
    step = files // pcbs
    table = [xfile(1000 + i % 300, i % 1000, base + (i // step) * 16 if i % step == 0
                   else 0xfffffa0000000000 + i) for i in range(files)]
    tcp = [xtcpcb(base + i * 16, 4, laddr="127.0.0.1", lport=1024 + i % 60000,
                  faddr="127.0.0.1", fport=80) for i in range(pcbs)]
    standin.sysctl_answer("kern.file", b"".join(table))
    standin.sysctl_answer("net.inet.tcp.pcblist", pcblist(tcp))
    standin.sysctl_answer("net.inet.udp.pcblist", pcblist([xinpcb(1)]))
    for name in ("net.local.stream.pcblist", "net.local.dgram.pcblist"):
        standin.sysctl_answer(name, pcblist([], XUNPGEN))
    result = q.net_connections((2, 28), (1,))
    assert len(result) == pcbs

    def bare():
        # The same tuples, from values already at hand: the floor of any
        # implementation that must hand back this list.
        return [(fd, 2, 1, ("127.0.0.1", 1024 + i % 60000), ("127.0.0.1", 80), 4, pid)
                for i, (fd, pid) in enumerate(owners)]

    owners = [(t[0], t[6]) for t in result]
    floor = best_of(bare, 5)
    tables = best_of(lambda: q.net_connections((), ()), 5)
    walk = best_of(lambda: q.net_connections((28,), (1,)), 5)
    cost = best_of(lambda: q.net_connections((2, 28), (1,)), 5)
    row("bare: build the same result tuples", floor)
    row("net_connections((), ()): kern.file read alone", tables, tables / floor)
    row("net_connections((28,), (1,)): and the TCP list, none wanted", walk, walk / floor)
    row("net_connections((2, 28), (1,))", cost, cost / floor)
    standin.reset()


def open_pairs(count):
    lsn = socket.socket()
    lsn.bind(("127.0.0.1", 0))
    lsn.listen(1024)
    socks = [lsn]
    for _ in range(count // 2):
        c = socket.create_connection(lsn.getsockname())
        s, _ = lsn.accept()
        socks += [c, s]
    return socks


def live(count=10_000):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    need = count + 256
    if soft < need:
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(need, hard), hard))
    socks = open_pairs(count)
    try:
        n = len(q.net_connections((2, 28, 1), (1, 2)))
        print(f"live: {len(socks)} loopback sockets of this bench, {n} connections listed"
              " (best of 10)")
        ss = best_of(lambda: subprocess.run(SS, stdout=subprocess.DEVNULL, check=True), 10)
        row("host: " + " ".join(SS), ss)
        cost = best_of(lambda: q.net_connections((2, 28, 1), (1, 2)), 10)
        row("net_connections((2, 28, 1), (1, 2))", cost, cost / ss)
        cost = best_of(lambda: q.proc_net_connections(os.getpid(), (2, 28, 1), (1, 2)), 10)
        row("proc_net_connections(this process)", cost, cost / ss)
    finally:
        for s in socks:
            s.close()
        resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))


if __name__ == "__main__":
    injected()
    live()
