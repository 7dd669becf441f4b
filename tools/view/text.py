"""The snapshot as text: one screen, each line at most the width."""

import time

from .units import cpu_clock, cut, human, pct, span, stamp

BAR = 20


def bar(percent, width=BAR):
    """A bar of width cells, filled by percent."""
    if percent is None:
        return "[" + "?" * width + "]"
    full = round(min(100.0, max(0.0, percent)) / 100 * width)
    return "[" + "#" * full + "." * (width - full) + "]"


def known(value, show=str, unknown="unknown"):
    return unknown if value is None else show(value)


def header(doc):
    h = doc["host"]
    load = known(h["load_average"], lambda v: " ".join(f"{x:.2f}" for x in v))
    users = known(h["users"], lambda n: f"{n} user{'s' if n != 1 else ''}", "users unknown")
    clock = time.strftime("%H:%M:%S", time.localtime(h["time"]))
    line = (f"{h['name']}  {h['os']}  {clock}  up {span(h['uptime_seconds'])}"
            f"  load {load}  {users}")
    lines = [line]
    if h["battery"]:
        b = h["battery"]
        left = known(b["minutes_left"], lambda m: f", {m // 60}h {m % 60:02d}m left", "")
        power = "on external power" if b["power_plugged"] else "on battery"
        lines.append(f"battery {b['percent']}%{left}, {power}")
    return lines


def steps(levels):
    """The kernel's "MHz/mW ..." list as words; a power of -1 is one the
    system does not know, and is left out."""
    out = []
    for pair in levels.split():
        mhz, _, mw = pair.partition("/")
        out.append(f"{mhz} MHz" + (f" ({mw} mW)" if mw and mw != "-1" else ""))
    return ", ".join(out)


def cpu(doc, full):
    c = doc["cpu"]
    lines = [f"CPU  {known(c['logical'])} logical, {pct(c['busy_percent'], 0)}% busy "
             f"over {c['sample_seconds']:.1f} s"]
    for p in c["per_cpu"]:
        extra = ""
        if p["frequency_mhz"] is not None:
            extra += f"  {p['frequency_mhz']} MHz"
        if p["temperature_celsius"] is not None:
            extra += f"  {p['temperature_celsius']} C"
            if p["max_celsius"] is not None:
                extra += f" (max {p['max_celsius']} C)"
        lines.append(f"  cpu{p['cpu']:<3} {pct(p['busy_percent'])}% {bar(p['busy_percent'])}"
                     + extra)
    if full:
        t = c["times_seconds"]
        if t:
            words = [f"{k} {v:.0f} s" for k, v in t.items()]
            lines.append("  CPU time since boot: " + ", ".join(words[:3]))
            lines.append("                       " + ", ".join(words[3:]))
        lines.append(f"  events: {known(c['context_switches'])} context switches, "
                     f"{known(c['interrupts'])} interrupts, "
                     f"{known(c['soft_interrupts'])} soft interrupts")
        lines.append(f"          {known(c['system_calls'], str, 'no count of')} system calls, "
                     f"{known(c['page_faults'])} page faults")
        if c["frequency_levels"]:
            lines.append("  frequency steps: " + steps(c["frequency_levels"]))
        if c["topology"]:
            lines.append("  topology:")
            lines += ["    " + t for t in c["topology"].strip().splitlines()]
    return lines


def memory(doc, full):
    m = doc["memory"]
    lines = [f"Memory  total {human(m['total_bytes'])}  used {human(m['used_bytes'])}  "
             f"available {human(m['available_bytes'])}  free {human(m['free_bytes'])}"]
    if m["swap_total_bytes"] is None:
        lines.append("  swap  unknown")
    elif m["swap_total_bytes"] == 0:
        lines.append("  swap  none")
    else:
        lines.append(f"  swap  total {human(m['swap_total_bytes'])}  "
                     f"used {human(m['swap_used_bytes'])}  free {human(m['swap_free_bytes'])}")
    if full:
        lines.append(f"  active {human(m['active_bytes'])}  inactive {human(m['inactive_bytes'])}"
                     f"  wired {human(m['wired_bytes'])}  buffers {human(m['buffers_bytes'])}"
                     f"  shared {human(m['shared_bytes'])}")
        lines.append(f"  paging: {known(m['swap_pager_operations'])} swap page-ins and "
                     f"page-outs, {known(m['file_pager_operations'])} of files")
    return lines


def disks(doc, full, width):
    d = doc["disks"]
    shown = [f for f in d["filesystems"] if full or not f["pseudo"]]
    left = len(d["filesystems"]) - len(shown)
    lines = ["Disks" + (f"  ({left} pseudo file systems: --all)" if left else "")]
    longest = max([len(f["mountpoint"]) for f in shown] + [10])
    mount_w = max(10, min(longest, width - 52))
    lines.append(f"  {'Filesystem':<16} {'Size':>6} {'Used':>6} {'Avail':>6} {'Use%':>4} "
                 f"{'Mounted on':<{mount_w}} Disk")
    for f in shown:
        use = known(f["use_percent"], lambda v: f"{v}%", "-")
        sizes = [human(f[k]) if f["size_bytes"] != 0 else "-"
                 for k in ("size_bytes", "used_bytes", "available_bytes")]
        lines.append(f"  {cut(f['device'], 16):<16} {sizes[0]:>6} {sizes[1]:>6} {sizes[2]:>6} "
                     f"{use:>4} {cut(f['mountpoint'], mount_w):<{mount_w}} {f['disk'] or '-'}")
    busy = [v for v in d["devices"] if full or not v["idle"]]
    idle = len(d["devices"]) - len(busy)
    if busy or idle:
        lines.append(f"  {'Device':<10} {'Reads':>10} {'Writes':>10} {'Read':>8} "
                     f"{'Written':>8} {'Busy':>10}" + (f"  ({idle} idle: --all)" if idle else ""))
    for v in busy:
        lines.append(f"  {cut(v['name'], 10):<10} {v['reads']:>10} {v['writes']:>10} "
                     f"{human(v['read_bytes']):>8} {human(v['written_bytes']):>8} "
                     f"{v['busy_ms'] / 1000:>9.1f}s")
    return lines


def rate(value):
    return known(value, lambda v: human(v) + "/s", "?")


def idle_link(i):
    return not i["up"] and not i["received_bytes"] and not i["sent_bytes"]


def network(doc, full):
    every = doc["network"]["interfaces"]
    shown = [i for i in every if full or not idle_link(i)]
    idle = len(every) - len(shown)
    lines = ["Network" + (f"  ({idle} down and idle: --all)" if idle else "")]
    for i in shown:
        state = ("up" if i["up"] else "down") + (", running" if i["running"] else "")
        speed = known(i["speed_mbps"], lambda s: f"{s} Mbit/s", "speed unknown")
        if i["duplex"]:
            speed += f" {i['duplex']}"
        lines.append(f"  {i['name']:<10} {state:<13} {speed:<18} "
                     f"in {human(i['received_bytes'])} {rate(i['received_bytes_per_second'])}  "
                     f"out {human(i['sent_bytes'])} {rate(i['sent_bytes_per_second'])}")
        for a in i["addresses"]:
            if a["family"] == "link" and not full:
                continue
            lines.append(f"  {'':<10} {a['family']:<6} {a['address']}")
        if full:
            lines.append(f"  {'':<10} mtu {known(i['mtu'])}, <{','.join(i['flags'])}>, "
                         f"errors {known(i['errors_in'])} in / {known(i['errors_out'])} out")
    return lines


def connections(doc):
    c = doc["connections"]
    if c["sockets"] is None:
        return ["Connections  unknown"]
    lines = [f"Connections  TCP {len(c['listening'])} listening, {c['tcp_established']} "
             f"established, {c['tcp_other']} other; UDP {c['udp']}; UNIX {c['unix']}"]
    for s in c["listening"]:
        lines.append(f"  {s['protocol']:<5} {s['address']:<28} {s['command'] or '?'} "
                     f"(pid {s['pid']})")
    if c["unreadable_processes"]:
        n = c["unreadable_processes"]
        lines.append(f"  not shown: the sockets of {n} process{'es' if n != 1 else ''} "
                     f"whose open files cannot be read")
    return lines


def users(doc):
    u = doc["users"]
    if not u:
        return ["Users  none logged in"]
    return ["Users"] + [f"  {x['user']:<10} {x['terminal']:<8} since {stamp(x['login_time'])}"
                        f"  from {x['host']}" for x in u]


def short_command(command):
    """The command line with its program by name, not by path: the width
    is better spent on the arguments."""
    program, _, rest = command.partition(" ")
    if "/" in program and not program.endswith("/"):
        program = program.rsplit("/", 1)[1]
    return f"{program} {rest}" if rest else program


def processes(doc, width):
    p = doc["processes"]
    order = ", ".join(f"{n} {s}" for s, n in sorted(p["states"].items()))
    lines = [f"Processes  {p['count']} ({order}), by {p['sort']}"]
    head = f"  {'PID':>7} {'USER':<8} S {'%CPU':>5} {'%MEM':>4} {'RSS':>7} {'VSZ':>7} " \
           f"{'TIME':>9} "
    lines.append(head + "COMMAND")
    room = width - len(head)
    for r in p["list"]:
        lines.append(f"  {r['pid']:>7} {cut(r['user'], 8):<8} {r['state']} "
                     f"{pct(r['cpu_percent'])} {pct(r['memory_percent'], 4)} "
                     f"{human(r['rss_bytes']):>7} {human(r['vsz_bytes']):>7} "
                     f"{cpu_clock(r['cpu_seconds']):>9} {cut(short_command(r['command']), room)}")
    rest = p["matching"] - len(p["list"])
    if rest > 0:
        lines.append(f"  ... {rest} more (--top N shows more)")
    return lines


def module(doc):
    m = doc["module"]
    return ["Module", f"  version {m['version']}, {m['functions']} functions, "
            f"page size {m['page_size_bytes']} bytes"]


def errors(doc):
    if not doc["errors"]:
        return []
    lines = ["Not read:"]
    for e in doc["errors"]:
        lines.append(f"  {e['section']}: {e['what']}: {e['reason']}")
    return lines


def render(doc, width=80, full=False):
    """The report's lines, none wider than width."""
    blocks = [header(doc), cpu(doc, full), memory(doc, full), disks(doc, full, width),
              network(doc, full), connections(doc), users(doc), processes(doc, width)]
    if full:
        blocks.append(module(doc))
    blocks.append(errors(doc))
    lines = []
    for block in blocks:
        lines += [cut(line, width) for line in block]
    return lines
