"""Interface functions on the live host, compared with ip(8), on interfaces
made in network namespaces of the test's own: a veth pair across two
namespaces (addresses, MTU 1400, promiscuous mode, traffic) and one inside
the first (one end up, one down)."""

import ipaddress
import json
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

import _quarn_bsd as q

# The shared helpers (ifrecords.py and the rest), one folder up.
HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NS1, NS2 = f"quarn-a{os.getpid()}", f"quarn-b{os.getpid()}"
BURST, PAYLOAD = 25, 200

SETUP = [
    ["netns", "add", NS1],
    ["netns", "add", NS2],
    ["-n", NS1, "link", "set", "lo", "up"],
    ["-n", NS1, "link", "add", "qa", "type", "veth", "peer", "name", "qb", "netns", NS2],
    ["-n", NS1, "link", "set", "qa", "mtu", "1400", "promisc", "on", "up"],
    ["-n", NS1, "addr", "add", "10.99.0.1/24", "brd", "10.99.0.255", "dev", "qa"],
    ["-n", NS1, "addr", "add", "fd99::1/64", "dev", "qa", "nodad"],
    ["-n", NS2, "link", "set", "qb", "up"],
    ["-n", NS2, "addr", "add", "10.99.0.2/24", "dev", "qb"],
    ["-n", NS1, "link", "add", "qc", "type", "veth", "peer", "name", "qd"],
    ["-n", NS1, "link", "set", "qc", "up"],
]

# Run inside a namespace: every function's answer as JSON, with a UDP burst
# from qa to qb between two counter reads.
PROBE = f"""
import json, socket, _quarn_bsd as q
def state(fn, name):
    try:
        return fn(name)
    except OSError as e:
        return ["OSError", e.errno, str(e)]
names = [n for n, *_ in q.net_if_addrs()] + list(q.net_io_counters()) + ["nosuch0"]
out = {{"addrs": q.net_if_addrs(), "before": q.net_io_counters()}}
if "qa" in out["before"]:
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("10.99.0.1", 0))
    for _ in range({BURST}):
        s.sendto(b"x" * {PAYLOAD}, ("10.99.0.2", 9))
    s.close()
out["after"] = q.net_io_counters()
for fn in ("net_if_flags", "net_if_mtu", "net_if_is_running", "net_if_duplex_speed"):
    out[fn] = {{n: state(getattr(q, fn), n) for n in names}}
print(json.dumps(out))
"""


def host_env():
    """The host's tools run without the sanitizer runtime a suite may have
    preloaded."""
    return {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


def ip(*args, ns=None):
    cmd = ["ip"] + (["-n", ns] if ns else []) + list(args)
    return subprocess.run(cmd, capture_output=True, text=True, env=host_env(), timeout=60)


def probe(ns):
    path = os.pathsep.join([HERE, os.path.dirname(q.__file__)])
    # The interpreter gets back the sanitizer runtime that ip(8) went without.
    preload = [f"LD_PRELOAD={os.environ['LD_PRELOAD']}"] if "LD_PRELOAD" in os.environ else []
    cmd = ["ip", "netns", "exec", ns, "env"] + preload + [sys.executable, "-c", PROBE]
    out = subprocess.run(cmd, capture_output=True, text=True, env=host_env() | {"PYTHONPATH": path},
                         timeout=120)
    assert out.returncode == 0, out.stderr
    return json.loads(out.stdout)


@pytest.fixture(scope="module")
def world():
    if shutil.which("ip") is None:
        pytest.skip("ip(8) is not installed")
    if os.geteuid() != 0:
        pytest.skip("network namespaces need root")
    try:
        for args in SETUP:
            r = ip(*args)
            if r.returncode != 0:
                pytest.skip(f"cannot make the test's namespaces: ip {' '.join(args)}: "
                            f"{r.stderr.strip()}")
        ip("-n", NS2, "neigh", "flush", "all")
        before_b = probe(NS2)["before"]
        a = probe(NS1)
        after_b = probe(NS2)["after"]
        links = {l["ifname"]: l for l in json.loads(ip("-j", "link", "show", ns=NS1).stdout)}
        addrs = {l["ifname"]: l for l in json.loads(ip("-j", "addr", "show", ns=NS1).stdout)}
        yield {"a": a, "links": links, "addrs": addrs, "b": (before_b, after_b)}
    finally:
        ip("netns", "del", NS1)
        ip("netns", "del", NS2)


def expected_flags(link):
    flags = set(link["flags"])
    running = "UP" in flags and link.get("operstate") in ("UP", "UNKNOWN")
    have = {"up": "UP" in flags, "broadcast": "BROADCAST" in flags,
            "loopback": "LOOPBACK" in flags, "pointopoint": "POINTOPOINT" in flags,
            "running": running, "noarp": "NOARP" in flags, "promisc": "PROMISC" in flags,
            "allmulti": "ALLMULTI" in flags, "multicast": "MULTICAST" in flags}
    order = ["up", "broadcast", "debug", "loopback", "pointopoint", "running", "noarp",
             "promisc", "allmulti", "multicast"]
    return [f for f in order if have.get(f)]


def expected_addrs(addrs, links):
    rows = []
    for name, entry in addrs.items():
        mac = links[name].get("address", "")
        if mac and mac != "00:00:00:00:00:00":
            rows.append((name, 18, mac, None, None, None))
        for a in entry["addr_info"]:
            v6 = a["family"] == "inet6"
            net = ipaddress.ip_network(f"{a['local']}/{a['prefixlen']}", strict=False)
            local = a["local"] + (f"%{name}" if a.get("scope") == "link" and v6 else "")
            rows.append((name, 28 if v6 else 2, local, str(net.netmask), a.get("broadcast"),
                         None))
    return sorted(rows)


def test_addresses_match_ip(world):
    got = sorted(tuple(r) for r in world["a"]["addrs"])
    assert got == expected_addrs(world["addrs"], world["links"])
    assert ("qa", 2, "10.99.0.1", "255.255.255.0", "10.99.0.255", None) in got
    assert ("qa", 28, "fd99::1", "ffff:ffff:ffff:ffff::", None, None) in got


def test_loopback_has_no_link_level_entry(world):
    assert [r for r in world["a"]["addrs"] if r[0] == "lo" and r[1] == 18] == []
    assert ["lo", 2, "127.0.0.1", "255.0.0.0", None, None] in world["a"]["addrs"]


@pytest.mark.parametrize("name", ["lo", "qa", "qc", "qd"])
def test_state_matches_ip(world, name):
    link, a = world["links"][name], world["a"]
    assert a["net_if_flags"][name] == expected_flags(link)
    assert a["net_if_mtu"][name] == link["mtu"]
    assert a["net_if_is_running"][name] == ("running" in expected_flags(link))


def test_the_made_states(world):
    flags = world["a"]["net_if_flags"]
    assert "promisc" in flags["qa"] and "promisc" not in flags["qc"]
    assert "up" in flags["qc"] and "up" not in flags["qd"]
    assert world["a"]["net_if_mtu"]["qa"] == 1400


@pytest.mark.parametrize("name, expected", [("lo", [0, 0]), ("qa", [2, 10000])])
def test_duplex_speed(world, name, expected):
    assert world["a"]["net_if_duplex_speed"][name] == expected


def test_missing_interface(world):
    a = world["a"]
    assert a["net_if_flags"]["nosuch0"] == [
        "OSError", 6, "[Errno 6] No such device or address (originated from ioctl(SIOCGIFFLAGS))"]
    for fn in ("net_if_mtu", "net_if_is_running"):
        assert a[fn]["nosuch0"] == ["OSError", 6, "[Errno 6] No such device or address"]
    assert a["net_if_duplex_speed"]["nosuch0"] == [0, 0]


def test_counters_grow_by_the_burst(world):
    before, after = world["a"]["before"]["qa"], world["a"]["after"]["qa"]
    # Each datagram is the payload and its UDP, IPv4 and Ethernet headers.
    assert after[0] - before[0] >= BURST * (PAYLOAD + 8 + 20 + 14)
    assert after[2] - before[2] >= BURST
    b_before, b_after = (t["qb"] for t in world["b"])
    assert b_after[1] - b_before[1] >= BURST * (PAYLOAD + 8 + 20 + 14)
    assert b_after[3] - b_before[3] >= BURST
    assert after[7] == 0


def test_counters_match_ip(world):
    # qc has no carrier, so its counters stay put between the two reads.
    stats = json.loads(ip("-j", "-s", "link", "show", "qc", ns=NS1).stdout)[0]["stats64"]
    qc = world["a"]["after"]["qc"]
    assert (qc[0], qc[1], qc[2], qc[3]) == (stats["tx"]["bytes"], stats["rx"]["bytes"],
                                            stats["tx"]["packets"], stats["rx"]["packets"])
