import ctypes
import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

import _quarn_bsd  # noqa: E402
import standin  # noqa: E402


@pytest.fixture(autouse=True)
def live_platform():
    """Every test starts from the live host with an empty call log and the
    debug log off, and leaves it so."""
    standin.reset()
    _quarn_bsd.set_debug(False)
    yield
    standin.reset()
    standin.alloc_fill(b"")
    _quarn_bsd.set_debug(False)


SANITIZED = bool(os.environ.get("QUARN_SANITIZED"))


@pytest.fixture(scope="module")
def child(tmp_path_factory):
    """A live child with known executable, arguments, environment and
    working directory (tests/childproc.py)."""
    from childproc import Child
    c = Child(tmp_path_factory.mktemp("child"))
    yield c
    c.stop()


_libc = ctypes.CDLL(None)
_libc.__errno_location.restype = ctypes.POINTER(ctypes.c_int)


def leave_errno(err):
    """Leaves err in the C errno, as an earlier failed call would have."""
    _libc.__errno_location().contents.value = err


@pytest.fixture
def host_tree(tmp_path):
    """Writes files of a made-up /proc and /sys under a root that the
    stand-in reads instead of the host's own; the host again afterwards."""

    def write(path, text):
        p = tmp_path / path.lstrip("/")
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_text(text)

    standin.host_root(tmp_path)
    try:
        yield write
    finally:
        standin.host_root(None)
