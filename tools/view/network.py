"""Interfaces and connections of a snapshot."""

import _quarn_bsd as q

FAMILIES = {2: "inet", 28: "inet6", q.AF_LINK: "link"}
INET, INET6, UNIX = 2, 28, 1
STREAM, DGRAM = 1, 2


def io_sample(g):
    return g.ask("network", "interface traffic", q.net_io_counters, default={})


def interfaces_section(g, first, last, seconds):
    """Each interface: state, speed, addresses, traffic since boot and its
    rate over the sample."""
    addrs = {}
    for name, family, addr, netmask, broadcast, peer in g.ask(
            "network", "interface addresses", q.net_if_addrs, default=[]):
        addrs.setdefault(name, []).append({
            "family": FAMILIES.get(family, str(family)), "address": addr,
            "netmask": netmask, "broadcast": broadcast, "peer": peer})
    out = []
    for name in sorted(set(last) | set(addrs)):
        flags = g.ask("network", f"flags of {name}", q.net_if_flags, name, default=None)
        if flags is None:
            continue
        mtu = g.optional(q.net_if_mtu, name)
        media = g.optional(q.net_if_duplex_speed, name) or (0, 0)
        running = "running" in flags
        entry = {"name": name, "up": "up" in flags, "running": running, "flags": flags,
                 "mtu": mtu, "speed_mbps": media[1] or None,
                 "duplex": {1: "half", 2: "full"}.get(media[0]),
                 "addresses": addrs.get(name, []),
                 "received_bytes": None, "sent_bytes": None, "received_packets": None,
                 "sent_packets": None, "errors_in": None, "errors_out": None,
                 "dropped_in": None, "received_bytes_per_second": None,
                 "sent_bytes_per_second": None}
        if name in last:
            sent, recv, psent, precv, ierr, oerr, idrop, _ = last[name]
            entry.update(received_bytes=recv, sent_bytes=sent, received_packets=precv,
                         sent_packets=psent, errors_in=ierr, errors_out=oerr, dropped_in=idrop)
            if name in first and seconds > 0:
                entry["received_bytes_per_second"] = round(
                    max(0, recv - first[name][1]) / seconds, 1)
                entry["sent_bytes_per_second"] = round(max(0, sent - first[name][0]) / seconds, 1)
        out.append(entry)
    return out


def endpoint(addr, family):
    if not addr:
        return None
    host, port = addr
    return f"[{host}]:{port}" if family == INET6 else f"{host}:{port}"


def connections_section(g, pids, name_of):
    """Listening sockets with their owners, counts of the rest, and how
    many processes hold sockets the table cannot show (their open files
    cannot be read)."""
    conns = g.ask("connections", "socket table", q.net_connections,
                  (INET, INET6, UNIX), (STREAM, DGRAM), default=None)
    if conns is None:
        return {"listening": [], "tcp_established": None, "tcp_other": None, "udp": None,
                "unix": None, "sockets": None, "unreadable_processes": None}
    listening = []
    for fd, family, type_, local, _, status, pid in conns:
        if family != UNIX and type_ == STREAM and status == q.TCPS_LISTEN:
            listening.append({"protocol": "tcp6" if family == INET6 else "tcp",
                              "address": endpoint(local, family), "port": local[1],
                              "pid": pid, "fd": fd, "command": name_of(pid)})
    listening.sort(key=lambda s: (s["port"], s["protocol"], s["pid"]))
    tcp = [t for t in conns if t[1] != UNIX and t[2] == STREAM]
    established = sum(1 for t in tcp if t[5] == q.TCPS_ESTABLISHED)
    return {
        "sockets": len(conns), "listening": listening, "tcp_established": established,
        "tcp_other": len(tcp) - established - len(listening),
        "udp": sum(1 for t in conns if t[1] != UNIX and t[2] == DGRAM),
        "unix": sum(1 for t in conns if t[1] == UNIX),
        "unreadable_processes": unreadable(pids),
    }


def unreadable(pids):
    """Processes whose descriptor tables this user may not read: their
    sockets are missing from the table."""
    count = 0
    for pid in pids:
        try:
            q.proc_num_fds(pid)
        except PermissionError:
            count += 1
        except (OSError, RuntimeError):
            continue  # gone since the list was made
    return count
