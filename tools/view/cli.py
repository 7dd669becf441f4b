"""Options, the gathering of one snapshot, and the exit status."""

import argparse
import json
import os
import shutil
import sys
import time

import _quarn_bsd as q

from . import host, network, procs, procdetail, system
from .gather import Gather

SCHEMA_VERSION = 1
OK, USAGE, UNREAD = 0, 1, 2


class Usage(Exception):
    """A wrong option: exit status 1."""


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise Usage(message)


def parse_args(argv):
    p = Parser(prog="snapshot.py", description="A one-screen view of this machine.")
    p.add_argument("--all", action="store_true",
                   help="pseudo file systems, idle devices, CPU topology and counters, the module")
    p.add_argument("--json", action="store_true", help="one JSON document (docs/snapshot.schema.json)")
    p.add_argument("--html", metavar="FILE", help="write one self-contained page to FILE")
    p.add_argument("--watch", metavar="SECONDS", type=float,
                   help="redraw every SECONDS until q or Ctrl-C")
    p.add_argument("--sort", choices=sorted(procs.SORTS), default="cpu",
                   help="process order (default cpu)")
    p.add_argument("--user", metavar="NAME", help="only the processes of this user")
    p.add_argument("--pid", metavar="PID", type=int, help="one process in full")
    p.add_argument("--top", metavar="N", type=int,
                   help="processes shown (default 10; every one with --all)")
    p.add_argument("--width", metavar="COLUMNS", type=int,
                   help="line width (default 80, or a wider terminal's)")
    p.add_argument("--interval", metavar="SECONDS", type=float, default=0.5,
                   help="the sample %%CPU and traffic are measured over (default 0.5)")
    args = p.parse_args(argv)
    if (args.top is not None and args.top < 0) or (args.width is not None and args.width < 40):
        raise Usage("--top must be 0 or more and --width 40 or more")
    if args.top is None:
        args.top = None if args.all else 10
    if args.interval <= 0 or (args.watch is not None and args.watch <= 0):
        raise Usage("--interval and --watch take a positive number of seconds")
    if sum(map(bool, (args.json, args.html, args.watch is not None))) > 1:
        raise Usage("choose one of --json, --html and --watch")
    args.uid = None
    if args.user is not None:
        args.uid = host.uid_of(args.user)
        if args.uid is None:
            raise Usage(f"no user named {args.user}")
    return args


def width_of(args, stream):
    if args.width:
        return args.width
    if stream.isatty():
        return max(80, shutil.get_terminal_size((80, 24)).columns)
    return 80


def module_section(g):
    functions = [n for n, v in vars(q).items() if callable(v) and not isinstance(v, type)]
    return {"version": q.version, "functions": len(functions),
            "page_size_bytes": g.ask("module", "page size", q.getpagesize)}


class Samples:
    """The far end of one snapshot's sample, the near end of the next."""

    def __init__(self, g):
        self.cpu = system.cpu_sample(g)
        self.procs = procs.sample(g)
        self.net = network.io_sample(g)


def collect(args, before=None):
    """One snapshot as its JSON document, and the samples it ended with."""
    g = Gather()
    now = time.time()
    first = before or Samples(g)
    host_data, logged = system.host_section(g, now)
    memory = system.memory_section(g)
    disks = system.disks_section(g)
    wait = args.interval - (time.monotonic() - first.cpu[0])
    if before is None and wait > 0:
        time.sleep(wait)
    last = Samples(g)
    seconds = last.cpu[0] - first.cpu[0]
    doc = {
        "schema_version": SCHEMA_VERSION,
        "host": host_data,
        "cpu": system.cpu_section(g, first.cpu, last.cpu),
        "memory": memory,
        "disks": disks,
        "network": {"interfaces": network.interfaces_section(g, first.net, last.net, seconds)},
        "connections": network.connections_section(g, list(last.procs[1]), procs.name_of),
        "users": system.users_section(logged),
        "processes": procs.table(first.procs, last.procs, memory["total_bytes"],
                                 args.sort, args.uid, args.top),
        "module": module_section(g),
        "errors": g.errors,
    }
    return doc, last


def status(doc):
    return UNREAD if doc["errors"] else OK


def show_process(args, out):
    from . import proctext
    g = Gather()
    try:
        q.proc_oneshot_info(args.pid)
        process = procdetail.detail(g, args.pid)
    except (ProcessLookupError, OverflowError):
        # No such process: one line says so, not one per figure.
        process = None
        g.errors.append({"section": "process", "what": f"process {args.pid}",
                         "reason": "no such process"})
    except (OSError, RuntimeError):
        process = procdetail.detail(g, args.pid)  # the details say what was refused
    doc = {"schema_version": SCHEMA_VERSION, "process": process, "errors": g.errors}
    if process is None and not args.json:
        out.write(f"No process {args.pid}.\n")
        return status(doc)
    if args.json:
        json.dump(doc, out, indent=2)
        out.write("\n")
    else:
        width = width_of(args, out)
        out.write("\n".join(proctext.render(doc, width, args.all)) + "\n")
    return status(doc)


def run(args, out):
    if args.pid is not None:
        return show_process(args, out)
    if args.watch is not None:
        from . import watch
        return watch.run(args, out, collect, width_of(args, out))
    doc, _ = collect(args)
    if args.json:
        json.dump(doc, out, indent=2)
        out.write("\n")
    elif args.html:
        from . import html
        with open(args.html, "w", encoding="utf-8") as f:
            f.write(html.page(doc))
        out.write(f"wrote {args.html}\n")
    else:
        from . import text
        out.write("\n".join(text.render(doc, width_of(args, out), args.all)) + "\n")
    return status(doc)


def main(argv=None, out=None):
    out = out or sys.stdout
    try:
        args = parse_args(sys.argv[1:] if argv is None else argv)
    except Usage as e:
        sys.stderr.write(f"snapshot.py: {e}\n(snapshot.py --help lists the options)\n")
        return USAGE
    try:
        return run(args, out)
    except BrokenPipeError:
        # A reader that stopped early (| head) is no failure of the report.
        os.dup2(os.open(os.devnull, os.O_WRONLY), out.fileno())
        return OK
