"""--watch in a real terminal (a tmux pane: keys sent, the screen read
back) and into a pipe."""

import os
import shlex
import shutil
import signal
import subprocess
import sys
import time

import pytest

TOP = os.path.join(os.path.dirname(__file__), "..")
SNAPSHOT = [sys.executable, os.path.join(TOP, "tools", "snapshot.py"), "--watch", "0.3",
            "--interval", "0.1"]
ENV = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
# A shell's background job ignores SIGINT, and what it starts keeps that:
# the snapshot is started with Ctrl-C's default back.
DEFAULT_INT = [sys.executable, "-c", "import os, signal, sys; "
               "signal.signal(signal.SIGINT, signal.SIG_DFL); os.execv(sys.argv[1], sys.argv[1:])"]
# In a pane: the snapshot as a child with Ctrl-C's default, its exit status
# written to the file named first. tmux does not always keep a dead pane's
# status, so the parent, deaf to Ctrl-C, keeps it instead.
STATUS_OF = [sys.executable, "-c", "import signal, subprocess, sys; "
             "signal.signal(signal.SIGINT, signal.SIG_IGN); "
             "rc = subprocess.call(sys.argv[2:], "
             "preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL)); "
             "open(sys.argv[1], 'w').write(str(rc))"]


@pytest.fixture
def tmux(tmp_path):
    """A tmux server of this test's own, whose panes stay after their
    command ends so that its exit status can be read."""
    if shutil.which("tmux") is None:
        pytest.skip("tmux is not installed (tools/deps.sh test installs it)")
    sock = str(tmp_path / "tmux.sock")

    def tm(*argv):
        return subprocess.run(["tmux", "-S", sock, "-f", "/dev/null", *argv],
                              capture_output=True, text=True, env=ENV, check=True).stdout
    yield tm
    subprocess.run(["tmux", "-S", sock, "kill-server"], capture_output=True)


def until(probe, seconds=120, what=""):
    """probe()'s first true answer. A frame reads every process, which on a
    machine busy with thousands of them can take a minute."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        got = probe()
        if got:
            return got
        time.sleep(0.1)
    raise AssertionError(f"timed out waiting for {what}")


@pytest.mark.parametrize("key", ["q", "C-c"])
def test_redraws_in_place_and_ends_on_a_key(tmux, key, tmp_path):
    status = tmp_path / "status"
    tmux("new-session", "-d", "-x", "100", "-y", "45", "-s", "w", "sleep 60")
    tmux("set-option", "-t", "w", "remain-on-exit", "on")
    tmux("respawn-pane", "-k", "-t", "w",
         " ".join(shlex.quote(a) for a in STATUS_OF + [str(status)] + SNAPSHOT))
    screen = until(lambda: (s := tmux("capture-pane", "-p", "-t", "w")) and "q quits" in s and s,
                   what="the first frame")
    lines = screen.rstrip("\n").split("\n")
    assert lines[0].startswith(os.uname().nodename + "  ")
    assert len(lines) <= 45 and max(map(len, lines)) <= 100
    first = lines[0]
    # The next frame lands on the same screen lines, not below the last.
    until(lambda: tmux("capture-pane", "-p", "-t", "w").split("\n")[0] != first, 120,
          "the next frame")
    assert tmux("display", "-p", "-t", "w", "#{history_size}").strip() == "0"
    tmux("send-keys", "-t", "w", key)
    # A death by the signal would leave a negative status.
    rc = until(lambda: status.exists() and status.read_text(), 120,
               f"the end: {tmux('capture-pane', '-p', '-t', 'w')[-300:]!r}")
    assert rc == "0"


def test_plain_frames_into_a_pipe_until_interrupted():
    proc = subprocess.Popen(DEFAULT_INT + SNAPSHOT, stdout=subprocess.PIPE, text=True, env=ENV)
    out = []
    while sum(line.startswith("--- ") for line in out) < 3:
        out.append(proc.stdout.readline())
    proc.send_signal(signal.SIGINT)
    rest, _ = proc.communicate(timeout=30)
    assert proc.returncode == 0
    text = "".join(out) + rest
    assert "\x1b" not in text and text.count("\nProcesses ") >= 2
