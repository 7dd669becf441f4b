"""Python face of the stand-in's injection interface.

The stand-in is linked into the module itself, so its C functions are reached
through the module's own shared object. Each injected step answers one call
of the named platform call for one key; the last step of a sequence stays in
force until reset(). See docs/standin.md.
"""

import ctypes
from collections import namedtuple

import _quarn_bsd

Call = namedtuple("Call", "call key op size")

_lib = ctypes.CDLL(_quarn_bsd.__file__)
_lib.standin_reset.restype = None
_lib.standin_answer.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t]
_lib.standin_answer_value.argtypes = [
    ctypes.c_char_p, ctypes.c_char_p, ctypes.c_long, ctypes.c_char_p, ctypes.c_size_t]
_lib.standin_error.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int]
_lib.standin_live.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
_lib.standin_log.argtypes = [ctypes.c_char_p, ctypes.c_size_t]
_lib.standin_log.restype = ctypes.c_size_t
_lib.standin_log_clear.restype = None
_lib.standin_host_root.argtypes = [ctypes.c_char_p]
_lib.standin_alloc_fill.argtypes = [ctypes.c_char_p, ctypes.c_size_t]


def key_of(name):
    """A numeric name (a sequence of ints) as its dotted key; text as is."""
    if isinstance(name, str):
        return name
    return ".".join(str(int(n)) for n in name)


def _b(text):
    return str(text).encode()


class Step:
    """One step of a sequence: an answer, an error or the live host."""

    def __init__(self, kind, data=b"", err=0, value=None):
        self.kind, self.data, self.err, self.value = kind, bytes(data), err, value


def answer(data=b"", value=None):
    return Step("answer", data, value=value)


def error(err):
    return Step("error", err=err)


def live():
    return Step("live")


def push(call, key, step):
    key = _b(key_of(key))
    call = _b(call)
    if step.kind == "answer":
        if step.value is None:
            rc = _lib.standin_answer(call, key, step.data, len(step.data))
        else:
            rc = _lib.standin_answer_value(call, key, step.value, step.data, len(step.data))
    elif step.kind == "error":
        rc = _lib.standin_error(call, key, step.err)
    else:
        rc = _lib.standin_live(call, key)
    assert rc == 0


def sequence(call, key, steps):
    for step in steps:
        push(call, key, step)


# Shorthands for the kernel parameter calls (sysctl and sysctlbyname share
# the call name "sysctl"; a numeric name's key is its dotted form).

def sysctl_answer(name, data):
    push("sysctl", name, answer(data))


def sysctl_error(name, err):
    push("sysctl", name, error(err))


def sysctl_sequence(name, steps):
    sequence("sysctl", name, steps)


def host_root(path):
    """Answer from a made-up /proc, /sys and utmp file under path (every
    host file the stand-in reads); None for the host's own. reset() leaves
    this alone."""
    assert _lib.standin_host_root(None if path is None else str(path).encode()) == 0


def alloc_fill(pattern=b""):
    """Fills every later fresh block the module allocates (malloc, realloc's
    growth, new; not calloc) with pattern repeated; b"" stops it."""
    assert _lib.standin_alloc_fill(pattern, len(pattern)) == 0


def reset():
    _lib.standin_reset()


def clear_log():
    _lib.standin_log_clear()


def log():
    """Every platform call since the last reset or clear_log, in order."""
    need = _lib.standin_log(None, 0)
    buf = ctypes.create_string_buffer(need)
    if need == 0 or _lib.standin_log(buf, need) == 0:
        raise MemoryError("the stand-in's call log")
    calls = []
    for line in buf.value.decode().splitlines():
        call, key, op, size = line.split("\t")
        calls.append(Call(call, key, op, int(size)))
    return calls


def calls_to(call, key=None):
    """The logged calls of one platform call (and key, if given)."""
    key = None if key is None else key_of(key)
    return [c for c in log() if c.call == call and (key is None or c.key == key)]


# Mounts and login records (platform/standin/mount.cpp, utmpx.cpp).

_lib.standin_getfsstat_hold.argtypes = [ctypes.c_int]
_lib.standin_utmpx_file.argtypes = [ctypes.c_char_p]


def getfsstat_hold(hold):
    """Holds every getfsstat inside the stand-in until released (at most
    10 seconds); for proving the caller let go of the interpreter lock."""
    assert _lib.standin_getfsstat_hold(1 if hold else 0) == 0


def getfsstat_waiting():
    """How many getfsstat calls are held now."""
    return _lib.standin_getfsstat_waiting()


def utmpx_file(path):
    """Read login records from path (in the host's utmp format); None for
    the host's own. reset() leaves this alone."""
    assert _lib.standin_utmpx_file(None if path is None else str(path).encode()) == 0


# Replay of a recording (docs/recording.md).

def replay(path):
    """Every platform call answers from the recording at path, none from the
    host; None replays nothing again. reset() leaves this alone. Raises
    ValueError with the reader's reason for a file that is no good."""
    fn = _lib.standin_replay
    fn.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t]
    err = ctypes.create_string_buffer(512)
    if fn(None if path is None else str(path).encode(), err, len(err)) != 0:
        raise ValueError(err.value.decode(errors="replace"))
