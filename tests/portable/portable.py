"""The portable suite: what holds on any host the module runs on, native or
stand-in, live or replayed. It imports whatever `import _quarn_bsd` finds.

This module holds what its files share. It is a plain module, not a
conftest, so that it never shadows the other suites' conftest."""

import os
import shutil
import socket
import subprocess
import sys

import pytest

FREEBSD = sys.platform.startswith("freebsd")
# Under a replay (QUARN_REPLAY, docs/recording.md) the machine is the
# recorded one: "this process" is the recorder's, and what only the live
# caller can show (its own identity, files, sockets, CPU use) is skipped.
REPLAY = os.environ.get("QUARN_REPLAY")


def _recorded_pid():
    sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
    from quarn_record import fileformat
    return fileformat.read(REPLAY)[0]["pid"]


ME = _recorded_pid() if REPLAY else os.getpid()
live = pytest.mark.skipif(bool(REPLAY), reason="about the live caller; a replay is another machine's")


def tool(*argv):
    """The output of one of FreeBSD's own tools; the test skips elsewhere."""
    if not FREEBSD or shutil.which(argv[0]) is None:
        pytest.skip(f"{argv[0]} is FreeBSD's tool; this is {sys.platform}")
    return subprocess.run(argv, capture_output=True, text=True, check=True).stdout


@pytest.fixture
def listening(tmp_path):
    """Sockets this process holds: TCP listening, UDP bound (IPv4) and a
    bound UNIX stream socket; (socket, family, type, local address) each."""
    tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    tcp.bind(("127.0.0.1", 0))
    tcp.listen()
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind(("127.0.0.1", 0))
    unix = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    path = str(tmp_path / "s")
    unix.bind(path)
    unix.listen()
    held = [(tcp, 2, 1, tcp.getsockname()), (udp, 2, 2, udp.getsockname()), (unix, 1, 1, path)]
    yield held
    for s, *_ in held:
        s.close()
