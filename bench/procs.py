"""What the process benches share: the child programs that hold many maps,
threads or descriptors, the sleepers that fill the process table, and the
module's scan of every process."""

import os
import signal
import subprocess
import sys
import textwrap

import _quarn_bsd as q

GONE = (ProcessLookupError, PermissionError)

# Each child program takes its count as its argument, says "ready" once it
# holds them, and holds them until its standard input closes.
# MAPPER: n read-write pages each followed by a read-only one, so n pairs of
# mappings.
MAPPER = textwrap.dedent("""
    import ctypes, mmap, sys
    n = int(sys.argv[1])
    libc = ctypes.CDLL(None, use_errno=True)
    libc.mprotect.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int]
    region = mmap.mmap(-1, 2 * n * mmap.PAGESIZE)
    base = ctypes.addressof(ctypes.c_char.from_buffer(region))
    for i in range(0, 2 * n, 2):
        region[i * mmap.PAGESIZE] = 1
        assert libc.mprotect(base + (i + 1) * mmap.PAGESIZE, mmap.PAGESIZE,
                             mmap.PROT_READ) == 0
    print("ready", flush=True)
    sys.stdin.read()
""")

SPINNER = textwrap.dedent("""
    import sys, threading
    n = int(sys.argv[1])
    done = threading.Event()
    for _ in range(n - 1):
        threading.Thread(target=done.wait, daemon=True).start()
    print("ready", flush=True)
    sys.stdin.read()
""")

OPENER = textwrap.dedent("""
    import os, resource, sys
    n = int(sys.argv[1])
    resource.setrlimit(resource.RLIMIT_NOFILE, (n + 100, n + 100))
    fd = os.open(sys.executable, os.O_RDONLY)
    keep = [os.dup(fd) for _ in range(n - 1)]
    print("ready", flush=True)
    sys.stdin.read()
""")


def child(code, n):
    p = subprocess.Popen([sys.executable, "-c", code, str(n)], stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE, text=True)
    assert p.stdout.readline() == "ready\n"
    return p


def spawn_sleepers(n, pids):
    try:
        for _ in range(n):
            pids.append(os.posix_spawn("/bin/sleep", ["sleep", "3600"], os.environ))
    except OSError as e:
        print(f"  (stopped at {len(pids)} sleepers: {e})")


def reap(pids):
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    for pid in pids:
        try:
            os.waitpid(pid, 0)
        except ChildProcessError:
            pass


def module_scan():
    for pid in q.pids():
        try:
            q.proc_oneshot_info(pid)
            q.proc_name(pid)
        except GONE:
            pass


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()
