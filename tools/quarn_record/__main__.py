"""python -m quarn_record OUT [--raw]: record this machine into OUT.
python -m quarn_record --check FILE: replay FILE and compare every result."""

import argparse
import os
import platform
import sys
import tempfile

import _quarn_bsd

from . import calls, fileformat, native, privacy


def describe(raw, kept):
    uname = platform.uname()
    return {"host": uname.node, "os": uname.system, "release": uname.release,
            "machine": uname.machine, "module": getattr(_quarn_bsd, "version", None),
            "platform": "stand-in" if native.can_replay() else "FreeBSD",
            "raw": raw, "kept": kept, "pid": os.getpid()}


def under_replay(keys, fn):
    """fn() while every platform call answers from the key records."""
    fd, path = tempfile.mkstemp(suffix=".qrec")
    os.close(fd)
    try:
        fileformat.write(path, keys, {}, [], preset=0)
        native.replay(path)
        try:
            return fn()
        finally:
            native.replay(None)
    finally:
        os.unlink(path)


def replayed(keys, made):
    """The outcomes of the calls made, replayed from the key records."""
    return under_replay(keys, lambda: [
        [name, args, calls.outcome(getattr(_quarn_bsd, name), args)] for name, args, _ in made])


def record(out, raw, only=None):
    native.start()
    try:
        made = calls.whole_machine(_quarn_bsd, only)
    finally:
        native.stop()
    keys = native.take()
    if raw:
        print("quarn_record: --raw: %s holds this machine's command lines, environments, "
              "user names, paths and addresses as they are" % out, file=sys.stderr)
        meta = describe(True, ["everything"])
    else:
        keys, kept = privacy.scrub(keys)
        meta = describe(False, kept)
        meta["host"] = privacy.HOST
        # The results are those of the scrubbed answers; without a replay
        # here (FreeBSD) they are left for the first --check elsewhere.
        made = replayed(keys, made) if native.can_replay() else None
        print("quarn_record: replaced command lines, environments, user names, paths and "
              "addresses; kept: %s" % "; ".join(kept), file=sys.stderr)
    fileformat.write(out, keys, meta, made)
    print("quarn_record: %s: %d calls" % (out, len(made or [])), file=sys.stderr)


def check(path):
    meta, _, made = fileformat.read(path)
    native.replay(path)
    try:
        if made is None:
            # Made on FreeBSD with privacy on: no results to compare with,
            # but every call must still answer from the file.
            made = calls.whole_machine(_quarn_bsd)
            print("%s: no results recorded; %d calls replayed" % (path, len(made)))
            return 0
        bad = calls.check(_quarn_bsd, made)
    finally:
        native.replay(None)
    for name, args, want, got in bad[:20]:
        print("differs: %s%s\n  recorded %s\n  replayed %s" % (name, tuple(args), want, got))
    print("%s: %d calls, %d differ" % (path, len(made), len(bad)))
    return 1 if bad else 0


def main(argv=None):
    ap = argparse.ArgumentParser(prog="quarn_record", description=__doc__)
    ap.add_argument("out", nargs="?", help="the recording to write")
    ap.add_argument("--raw", action="store_true", help="keep everything as it is")
    ap.add_argument("--check", metavar="FILE", help="replay FILE and compare its results")
    ap.add_argument("--pid", type=int, action="append",
                    help="the per-process calls for this process only (repeatable)")
    opts = ap.parse_args(argv)
    if (opts.out is None) == (opts.check is None):
        ap.error("give either OUT or --check FILE")
    try:
        if opts.check:
            if not native.can_replay():
                ap.error("--check needs a stand-in build of the module")
            return check(opts.check)
        record(opts.out, opts.raw, opts.pid)
        return 0
    except (fileformat.RecordingError, ValueError, OSError, MemoryError) as e:
        print("quarn_record: %s" % e, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
