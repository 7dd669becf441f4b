"""The module's own recording and replay interface, through ctypes."""

import ctypes

import _quarn_bsd

_lib = ctypes.CDLL(_quarn_bsd.__file__)
_lib.quarn_record_start.restype = ctypes.c_int
_lib.quarn_record_stop.restype = None
_lib.quarn_record_take.argtypes = [ctypes.c_char_p, ctypes.c_size_t]
_lib.quarn_record_take.restype = ctypes.c_size_t
_LOST = ctypes.c_size_t(-1).value


def can_replay():
    """Replay is offered by stand-in builds only."""
    return hasattr(_lib, "standin_replay")


def start():
    if _lib.quarn_record_start() != 0:
        raise MemoryError("cannot start recording")


def stop():
    _lib.quarn_record_stop()


def take():
    """The key records kept since start()."""
    need = _lib.quarn_record_take(None, 0)
    if need == _LOST:
        raise MemoryError("the recording outgrew 1 GiB or memory ran out")
    buf = ctypes.create_string_buffer(max(need, 1))
    if _lib.quarn_record_take(buf, need) != need:
        raise MemoryError("the recording changed while it was taken")
    return buf.raw[:need]


def replay(path):
    """Every platform call answers from the recording at path (None: the
    host again). Raises ValueError with the reader's reason."""
    fn = _lib.standin_replay
    fn.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t]
    err = ctypes.create_string_buffer(512)
    if fn(None if path is None else str(path).encode(), err, len(err)) != 0:
        raise ValueError(err.value.decode(errors="replace"))
