"""Leak checks: sys.getallocatedblocks() stays flat over many calls."""

import gc
import sys


def assert_flat(fn, *args, calls=10000, expect=None, slack=30):
    """Calls fn(*args) many times; with expect, each call must raise it."""

    def once():
        if expect is None:
            fn(*args)
            return
        try:
            fn(*args)
        except expect:
            return
        raise AssertionError(f"{fn.__name__}{args} did not raise {expect}")

    for _ in range(200):
        once()
    gc.collect()
    before = sys.getallocatedblocks()
    for _ in range(calls):
        once()
    gc.collect()
    grown = sys.getallocatedblocks() - before
    assert grown < slack, f"{fn.__name__}: {grown} blocks more after {calls} calls"
