"""A child process made for the per-process tests: a copy of a binary at a
path with a space and non-ASCII bytes, arguments a, "", b and a non-UTF-8
one, a raw environment with a duplicate name and an entry without "=", a
known working directory, and two extra threads."""

import os
import shutil
import subprocess
import sys
import time

SOURCE_BINARY = "/usr/bin/python3.11" if os.path.exists("/usr/bin/python3.11") else sys.executable
ARGS = [b"a", b"", b"b", b"\xfe\xff"]
ENV = [b"A=1", b"NOEQUALS", b"B=x=y", b"A=2"]
SCRIPT = (b"import threading, time\n"
          b"for _ in range(2): threading.Thread(target=time.sleep, args=(600,), daemon=True).start()\n"
          b"time.sleep(600)\n")

# Runs in a launcher interpreter: execve with the raw vectors, which the
# standard library's exec functions cannot build (duplicates, no "=").
LAUNCHER = """
import ctypes, sys
libc = ctypes.CDLL(None, use_errno=True)
path, script, *rest = [bytes.fromhex(a) for a in sys.argv[1:]]
split = rest.index(b"--")
args, env = rest[:split], rest[split + 1:]
argv = (ctypes.c_char_p * (len(args) + 4))(path, b"-c", script, *args, None)
envp = (ctypes.c_char_p * (len(env) + 1))(*env, None)
libc.execve(path, argv, envp)
sys.exit(ctypes.get_errno())
"""


class Child:
    def __init__(self, root):
        bindir = os.path.join(os.fsencode(root), b"bin dir \xc3\xb6 \xe9")
        os.makedirs(bindir)
        self.exe = os.path.join(bindir, b"copy of py \xc3\xa4")
        shutil.copy(SOURCE_BINARY, self.exe)
        self.cwd = os.path.join(os.fsencode(root), "wd ü".encode())
        os.makedirs(self.cwd)
        self.argv = [self.exe, b"-c", SCRIPT] + ARGS
        hexes = [a.hex() for a in [self.exe, SCRIPT] + ARGS + [b"--"] + ENV]
        env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        self.proc = subprocess.Popen([sys.executable, "-c", LAUNCHER] + hexes, cwd=self.cwd,
                                     env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.pid = self.proc.pid
        self._wait_ready()

    def _wait_ready(self, timeout=20.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                if (os.readlink(f"/proc/{self.pid}/exe") == os.fsdecode(self.exe)
                        and len(self.tids()) == 3):
                    return
            except OSError:
                pass
            if self.proc.poll() is not None:
                raise AssertionError(f"child exited with {self.proc.returncode}")
            time.sleep(0.02)
        raise AssertionError("child never became ready")

    def tids(self):
        return sorted(int(t) for t in os.listdir(f"/proc/{self.pid}/task"))

    def stop(self):
        self.proc.kill()
        self.proc.wait()
