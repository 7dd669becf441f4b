"""Shared by the portable suite's files (a plain module, so that it never
clashes with another suite's conftest)."""

import os
import shutil
import subprocess
import sys

import pytest

FREEBSD = sys.platform.startswith("freebsd")
ME = os.getpid()


def tool(*argv):
    """The output of one of FreeBSD's own tools; the test skips elsewhere."""
    if not FREEBSD or shutil.which(argv[0]) is None:
        pytest.skip(f"{argv[0]} is FreeBSD's tool; this is {sys.platform}")
    return subprocess.run(argv, capture_output=True, text=True, check=True).stdout
