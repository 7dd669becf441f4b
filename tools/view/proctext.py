"""One process in full, as text (--pid)."""

from .procs import STATE_LETTERS
from .text import errors, known
from .units import cpu_clock, cut, human, stamp

LARGEST_MAPS = 8
# The kernel's names for mappings without a file, as a reader says them.
MAP_KINDS = {"[default]": "anonymous memory", "[swap]": "anonymous memory, partly swapped",
             "[vnode]": "file", "[device]": "device memory", "[phys]": "physical pages",
             "[dead]": "gone", "[sg]": "scatter-gather pages", "[none]": "nothing",
             "[unknown]": "unknown"}


def limit_text(key, v):
    if v is None:
        return "unknown"

    def one(x):
        if x is None:
            return "unlimited"
        return human(x) if key.endswith("_bytes") else str(x)
    return f"{one(v['soft'])} (hard {one(v['hard'])})"


def record_lines(rec):
    if rec is None:
        return ["  record      unknown"]
    state = STATE_LETTERS.get(rec["state_code"], "?")
    return [
        f"  parent      {rec['ppid']}    state {state}    on CPU {rec['cpu']}",
        f"  user        {rec['user']} (real uid {rec['real_uid']}, effective "
        f"{rec['effective_uid']}, saved {rec['saved_uid']})",
        f"  group       real {rec['real_gid']}, effective {rec['effective_gid']}, "
        f"saved {rec['saved_gid']}",
        f"  terminal    {known(rec['terminal_device'], str, 'none')}",
        f"  started     {stamp(rec['start_time'])}",
        f"  CPU time    user {cpu_clock(rec['user_cpu_seconds'])}, system "
        f"{cpu_clock(rec['system_cpu_seconds'])}",
        f"  children    user {cpu_clock(rec['children_user_cpu_seconds'])}, system "
        f"{cpu_clock(rec['children_system_cpu_seconds'])} (reaped)",
        f"  memory      resident {human(rec['rss_bytes'])}, virtual {human(rec['vsz_bytes'])}",
        f"              text {human(rec['text_bytes'])}, data {human(rec['data_bytes'])}, "
        f"stack {human(rec['stack_bytes'])}",
        f"  switches    {rec['voluntary_context_switches']} voluntary, "
        f"{rec['involuntary_context_switches']} involuntary",
        f"  block I/O   {rec['block_reads']} reads, {rec['block_writes']} writes",
    ]


def listing(title, items, show, full, limit=10):
    if items is None:
        return [f"  {title:<11} unknown"]
    lines = [f"  {title:<11} {len(items)}"]
    picked = items if full else items[:limit]
    lines += ["    " + show(x) for x in picked]
    if len(picked) < len(items):
        lines.append(f"    ... {len(items) - len(picked)} more (--all)")
    return lines


def render(doc, width=80, full=False):
    p = doc["process"]
    cmd = known(p["command_line"], lambda a: " ".join(a) or "(none)")
    lines = [f"Process {p['pid']}  {known(p['name'])}", *record_lines(p["record"]),
             f"  threads     {known(p['threads_count'])}    zombie "
             f"{known(p['zombie'], lambda z: 'yes' if z else 'no')}",
             f"  executable  {known(p['executable'], lambda e: e or '(cannot be named)')}",
             f"  command     {cmd}",
             f"  directory   {known(p['cwd'], lambda c: c or '(unknown)')}",
             f"  CPUs        {known(p['cpus'], lambda c: ', '.join(map(str, c)))}    "
             f"nice {known(p['nice'])}",
             f"  descriptors {known(p['descriptors'])}"]
    lines += listing("open files", p["open_files"],
                     lambda f: f"{known(f['fd'], str, 'text'):>5}  {f['path'] or '(deleted)'}",
                     full)
    lines += listing("connections", p["connections"],
                     lambda c: f"{c['fd']:>5}  {c['family']} {c['type']}  "
                               f"{c['local'] or '-'} -> {c['remote'] or '-'}"
                               f"{'  ' + c['state'] if c['state'] else ''}", full)
    lines += listing("threads", p["threads"],
                     lambda t: f"{t['tid']:>7}  user {cpu_clock(t['user_cpu_seconds'])}, "
                               f"system {cpu_clock(t['system_cpu_seconds'])}", full, 5)
    maps = p["memory_maps"]
    if maps is not None:
        maps = sorted(maps, key=lambda m: -m["resident_bytes"])
    lines += listing("maps", maps,
                     lambda m: f"{human(m['resident_bytes']):>7} {m['permissions']} "
                               f"{MAP_KINDS.get(m['path'], m['path'])}", full, LARGEST_MAPS)
    env = p["environment"]
    lines += listing("environment", None if env is None else sorted(env.items()),
                     lambda kv: f"{kv[0]}={kv[1]}", full, 5)
    lines.append("  limits")
    lines += [f"    {k:<20} {limit_text(k, v)}" for k, v in p["limits"].items()]
    lines += errors(doc)
    return [cut(line, width) for line in lines]
