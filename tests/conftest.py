import ctypes
import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))
# The recorder (tools/quarn_record), for the recording tests.
sys.path.insert(1, os.path.join(os.path.dirname(__file__), "..", "tools"))

import _quarn_bsd  # noqa: E402

# A native build (FreeBSD) has no injection interface: then only the
# portable suite runs, and every other suite reports itself skipped.
try:
    import standin  # noqa: E402
except (ImportError, AttributeError, OSError):
    standin = None
NATIVE_REASON = "needs the stand-in build; this module calls FreeBSD itself"
PORTABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "portable")


def _portable(path):
    return str(path).startswith(PORTABLE + os.sep)


class _SkippedSuite(pytest.File):
    def collect(self):
        yield _SkippedItem.from_parent(self, name=self.path.name)


class _SkippedItem(pytest.Item):
    def runtest(self):
        pytest.skip(NATIVE_REASON)


def pytest_pycollect_makemodule(module_path, parent):
    if standin is None and not _portable(module_path):
        return _SkippedSuite.from_parent(parent, path=module_path)
    return None


@pytest.fixture(autouse=True)
def live_platform(request):
    """Every test starts from the live host with an empty call log and the
    debug log off, and leaves it so. The portable suite runs on whatever
    the platform answers (live, native, replayed), so it is left alone."""
    if standin is None or _portable(request.node.path):
        yield
        return
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
# glibc's name for the errno cell; FreeBSD's libc calls it __error.
_errno_cell = getattr(_libc, "__errno_location", None) or _libc.__error
_errno_cell.restype = ctypes.POINTER(ctypes.c_int)


def leave_errno(err):
    """Leaves err in the C errno, as an earlier failed call would have."""
    _errno_cell().contents.value = err


class HostTree:
    """Files of a made-up host under root: tree.put(path, data), or
    tree(path, data), writes one (text or bytes); tree.link(path, target)
    makes a symbolic link."""

    def __init__(self, root):
        self.root = root

    def _place(self, path):
        p = self.root / path.lstrip("/")
        p.parent.mkdir(parents=True, exist_ok=True)
        return p

    def put(self, path, data):
        self._place(path).write_bytes(data if isinstance(data, bytes) else data.encode())

    __call__ = put

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


@pytest.fixture
def replay():
    """replay(path): every platform call answers from the recording at path
    until the test ends (tests/recordings/ holds made-up machines)."""
    yield standin.replay
    standin.replay(None)
