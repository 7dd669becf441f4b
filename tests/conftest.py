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


class HostTree:
    """Files of a made-up host under root: tree(path, data) writes one (text
    or bytes), tree.link(path, target) makes a symbolic link."""

    def __init__(self, root):
        self.root = root

    def _place(self, path):
        p = self.root / path.lstrip("/")
        p.parent.mkdir(parents=True, exist_ok=True)
        return p

    def __call__(self, path, data):
        self._place(path).write_bytes(data if isinstance(data, bytes) else data.encode())

    def link(self, path, target):
        os.symlink(target, self._place(path))


@pytest.fixture
def host_tree(tmp_path):
    """A made-up /proc, /sys and utmp file that the stand-in reads instead of
    the host's own; the host again afterwards."""
    standin.host_root(tmp_path)
    try:
        yield HostTree(tmp_path)
    finally:
        standin.host_root(None)
