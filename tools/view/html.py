"""--html: the snapshot as one self-contained page. No script and nothing
fetched: styles inline, bars as inline SVG, and a content policy that lets
the page ask for nothing."""

from html import escape

from .text import rate, short_command
from .units import cpu_clock, human, pct, span, stamp

STYLE = """
body{font:14px/1.4 system-ui,sans-serif;margin:1.5em;color:#222;max-width:70em}
h1{font-size:1.3em;margin:0} h2{font-size:1.1em;margin:1.2em 0 .3em;border-bottom:1px solid #ccc}
table{border-collapse:collapse} td,th{padding:.1em .6em;text-align:left;vertical-align:middle;white-space:nowrap}
th{background:#f0f0f0} td.n{text-align:right;font-variant-numeric:tabular-nums}
.sub{color:#555} .err{color:#a00} svg{display:block}
td.w{white-space:normal;overflow-wrap:anywhere;max-width:36em}
"""
POLICY = "default-src 'none'; style-src 'unsafe-inline'; img-src data:"


def bar(percent, width=160, colour="#3a7bd5", label=""):
    """An inline SVG bar filled to percent (none drawn when unknown)."""
    if percent is None:
        return '<span class="sub">unknown</span>'
    fill = round(width * min(100.0, max(0.0, percent)) / 100, 1)
    return (f'<svg width="{width}" height="12" role="img" aria-label="{escape(label)}">'
            f'<rect width="{width}" height="12" fill="#e6e6e6"/>'
            f'<rect width="{fill}" height="12" fill="{colour}"/></svg>')


def table(head, rows, numeric=(), wrap=()):
    out = ["<table><tr>" + "".join(f"<th>{escape(h)}</th>" for h in head) + "</tr>"]
    for row in rows:
        cells = []
        for n, cell in enumerate(row):
            cls = ' class="n"' if n in numeric else ' class="w"' if n in wrap else ""
            # Cells from bar() are markup already; the rest is text.
            text = cell if isinstance(cell, Markup) else escape(str(cell))
            cells.append(f"<td{cls}>{text}</td>")
        out.append("<tr>" + "".join(cells) + "</tr>")
    return "".join(out) + "</table>"


class Markup(str):
    """Text that is markup already."""


def cpu(doc):
    c = doc["cpu"]
    rows = []
    for p in c["per_cpu"]:
        rows.append([f"cpu{p['cpu']}", pct(p["busy_percent"]).strip() + "%",
                     Markup(bar(p["busy_percent"], label=f"cpu{p['cpu']} busy")),
                     "" if p["frequency_mhz"] is None else f"{p['frequency_mhz']} MHz",
                     "" if p["temperature_celsius"] is None else f"{p['temperature_celsius']} C"])
    head = ["CPU", "busy", "", "frequency", "temperature"]
    # Columns the machine gives nothing for are left out.
    keep = [n for n in range(len(head)) if n < 3 or any(r[n] for r in rows)]
    return (f"<h2>CPU</h2><p>{c['logical']} logical, {pct(c['busy_percent'], 0)}% busy over "
            f"{c['sample_seconds']:.1f} s</p>"
            + table([head[n] for n in keep], [[r[n] for n in keep] for r in rows], numeric=(1,)))


def share(part, whole):
    return None if part is None or not whole else 100.0 * part / whole


def memory(doc):
    m = doc["memory"]
    rows = [["memory", human(m["total_bytes"]), human(m["used_bytes"]),
             human(m["available_bytes"]),
             Markup(bar(share(m["used_bytes"], m["total_bytes"]), colour="#d58a3a",
                        label="memory used"))]]
    if m["swap_total_bytes"]:
        rows.append(["swap", human(m["swap_total_bytes"]), human(m["swap_used_bytes"]),
                     human(m["swap_free_bytes"]),
                     Markup(bar(share(m["swap_used_bytes"], m["swap_total_bytes"]),
                                colour="#d58a3a", label="swap used"))])
    return "<h2>Memory</h2>" + table(["", "total", "used", "available", ""], rows, (1, 2, 3))


def disks(doc):
    d = doc["disks"]
    rows = [[f["device"], human(f["size_bytes"]), human(f["used_bytes"]),
             human(f["available_bytes"]),
             "?" if f["use_percent"] is None else f"{f['use_percent']}%",
             Markup(bar(f["use_percent"], colour="#4caf50", label=f"{f['mountpoint']} used")),
             f["mountpoint"], f["disk"] or ""]
            for f in d["filesystems"] if not f["pseudo"]]
    io = [[v["name"], v["reads"], v["writes"], human(v["read_bytes"]),
           human(v["written_bytes"]), f"{v['busy_ms'] / 1000:.1f} s"]
          for v in d["devices"] if not v["idle"]]
    return ("<h2>Disks</h2>" + table(["file system", "size", "used", "avail", "use%", "",
                                       "mounted on", "disk"], rows, (1, 2, 3, 4))
            + "<p></p>" + table(["device", "reads", "writes", "read", "written", "busy"], io,
                                (1, 2, 3, 4, 5)))


def network(doc):
    ifs = [i for i in doc["network"]["interfaces"] if i["up"] or i["received_bytes"]]
    most = max([(i["received_bytes"] or 0) + (i["sent_bytes"] or 0) for i in ifs] + [0])
    rows = []
    for i in ifs:
        total = (i["received_bytes"] or 0) + (i["sent_bytes"] or 0)
        rows.append([i["name"], ("up" if i["up"] else "down") + (", running" if i["running"] else ""),
                     "unknown" if i["speed_mbps"] is None else f"{i['speed_mbps']} Mbit/s",
                     ", ".join(a["address"] for a in i["addresses"] if a["family"] != "link"),
                     f"{human(i['received_bytes'])} ({rate(i['received_bytes_per_second'])})",
                     f"{human(i['sent_bytes'])} ({rate(i['sent_bytes_per_second'])})",
                     Markup(bar(share(total, most), colour="#8e44ad",
                                label=f"{i['name']} traffic"))])
    return "<h2>Network</h2>" + table(["interface", "state", "speed", "addresses", "in", "out",
                                       "traffic"], rows)


def connections(doc):
    c = doc["connections"]
    if c["sockets"] is None:
        return "<h2>Connections</h2><p>unknown</p>"
    head = (f"<p>TCP {len(c['listening'])} listening, {c['tcp_established']} established, "
            f"{c['tcp_other']} other; UDP {c['udp']}; UNIX {c['unix']}</p>")
    rows = [[s["protocol"], s["address"], s["command"] or "?", s["pid"]] for s in c["listening"]]
    listeners = table(["", "listening on", "command", "pid"], rows) if rows else ""
    tail = ""
    if c["unreadable_processes"]:
        n = c["unreadable_processes"]
        tail = (f"<p class=sub>not shown: the sockets of {n} process{'es' if n != 1 else ''} "
                f"whose open files cannot be read</p>")
    return "<h2>Connections</h2>" + head + listeners + tail


def processes(doc):
    p = doc["processes"]
    rows = [[r["pid"], r["user"], r["state"], pct(r["cpu_percent"]).strip(),
             pct(r["memory_percent"]).strip(), human(r["rss_bytes"]), human(r["vsz_bytes"]),
             cpu_clock(r["cpu_seconds"]), short_command(r["command"])[:120]] for r in p["list"]]
    return (f"<h2>Processes</h2><p>{p['count']} processes, the first {len(rows)} by "
            f"{p['sort']}</p>" + table(["PID", "user", "S", "%CPU", "%MEM", "RSS", "VSZ",
                                        "time", "command"], rows, (0, 3, 4, 5, 6, 7), (8,)))


def page(doc):
    h = doc["host"]
    users = doc["users"]
    title = f"{h['name']}: snapshot {stamp(h['time'])}"
    errs = "".join(f"<li>{escape(e['section'])}: {escape(e['what'])}: {escape(e['reason'])}</li>"
                   for e in doc["errors"])
    parts = [
        f"<h1>{escape(h['name'])}</h1><p class=sub>{escape(h['os'])} &middot; "
        f"{escape(stamp(h['time']))} &middot; up {escape(span(h['uptime_seconds']))} &middot; "
        f"load {escape(' '.join(f'{x:.2f}' for x in h['load_average'] or []))} &middot; "
        f"{h['users'] if h['users'] is not None else '?'} users</p>",
        cpu(doc), memory(doc), disks(doc), network(doc), connections(doc),
        "<h2>Users</h2>" + (table(["user", "terminal", "since", "from"],
                                  [[u["user"], u["terminal"], stamp(u["login_time"]), u["host"]]
                                   for u in users]) if users else "<p>none logged in</p>"),
        processes(doc),
        f"<h2 class=err>Not read</h2><ul class=err>{errs}</ul>" if errs else "",
    ]
    return (f'<!DOCTYPE html><html lang="en"><head><meta charset="utf-8">'
            f'<meta http-equiv="Content-Security-Policy" content="{POLICY}">'
            f"<title>{escape(title)}</title><style>{STYLE}</style></head><body>"
            + "".join(parts) + "</body></html>\n")
