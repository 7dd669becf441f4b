"""The shared object's own symbols: every module function and helper under
its own name, and no platform name that could interpose on the host's."""

import ctypes
import errno
import os
import shutil
import struct
import subprocess

import pytest

import _quarn_bsd as q
import standin

HELPERS = [
    "PyInit__quarn_bsd", "quarn_setup", "quarn_posix_add_constants", "quarn_posix_add_methods",
    "quarn_set_debug", "quarn_check_pid_range",
    "str_format", "str_copy", "str_append",
    "quarn_oserror", "quarn_oserror_wsyscall", "quarn_oserror_nsp", "quarn_oserror_ad",
    "quarn_runtime_error", "quarn_badargs", "convert_kvm_err",
    "quarn_sysctl", "quarn_sysctl_malloc", "quarn_sysctlbyname", "quarn_sysctlbyname_malloc",
    "quarn_sysctl_argmax", "quarn_getpagesize", "quarn_getpagesize_pywrapper",
    "quarn_kinfo_proc", "is_zombie", "quarn_pid_exists", "quarn_raise_for_pid", "_quarn_pids",
    "quarn_pids", "quarn_proc_is_zombie",
    "quarn_proc_oneshot_info", "quarn_proc_name", "quarn_proc_num_threads",
    "quarn_proc_open_files", "quarn_proc_num_fds", "quarn_proc_threads", "quarn_proc_memory_maps",
]

# Host C library names the stand-in must never define unmangled.
HOST_NAMES = ["sysctl", "sysctlbyname", "kill", "sysconf", "strlcat", "kinfo_getfile",
              "kinfo_getvmmap", "kvm_open", "kvm_close", "kvm_getswapinfo", "mallctl",
              "getifaddrs", "ioctl", "getutxent"]
HOST_NAMES += ["freeifaddrs", "getnameinfo", "socket", "close"]


@pytest.fixture(scope="module")
def dynamic_symbols():
    if shutil.which("nm") is None:
        pytest.skip("nm is not installed")
    out = subprocess.run(["nm", "-D", "--defined-only", q.__file__], capture_output=True,
                         text=True, check=True).stdout
    return {line.split()[-1] for line in out.splitlines() if line.strip()}


def test_helpers_are_exported_under_their_own_names(dynamic_symbols):
    missing = [name for name in HELPERS if name not in dynamic_symbols]
    assert missing == []


def test_no_host_name_is_interposed(dynamic_symbols):
    assert [name for name in HOST_NAMES if name in dynamic_symbols] == []


class TestArgmax:
    """quarn_sysctl_argmax has no module function; it is called as a native
    symbol, with the interpreter lock held and the error flag checked."""

    @pytest.fixture
    def argmax(self):
        fn = ctypes.PyDLL(q.__file__).quarn_sysctl_argmax
        fn.restype = ctypes.c_int64
        fn.argtypes = []
        return fn

    def test_live(self, argmax):
        assert argmax() == os.sysconf("SC_ARG_MAX")
        assert [c.key for c in standin.calls_to("sysctl")] == ["1.8"]

    def test_failing_read(self, argmax):
        standin.sysctl_error([1, 8], errno.EPERM)
        with pytest.raises(PermissionError) as e:
            argmax()
        assert e.value.strerror == os.strerror(errno.EPERM) + " (originated from sysctl())"

    def test_answer_too_long_for_an_int(self, argmax):
        standin.sysctl_answer([1, 8], struct.pack("<q", 1 << 40))
        with pytest.raises(OSError) as e:
            argmax()
        assert e.value.errno == errno.ENOMEM

    @pytest.mark.parametrize("value", [0, -1])
    def test_not_positive(self, argmax, value):
        standin.sysctl_answer([1, 8], struct.pack("<i", value))
        with pytest.raises(RuntimeError) as e:
            argmax()
        assert str(e.value) == "sysctl(KERN_ARGMAX) return <= 0"

    def test_exact_and_shorter_answers_are_accepted(self, argmax):
        standin.sysctl_answer([1, 8], struct.pack("<i", 65536))
        assert argmax() == 65536
        standin.reset()
        standin.sysctl_answer([1, 8], struct.pack("<H", 4096))
        assert argmax() == 4096
