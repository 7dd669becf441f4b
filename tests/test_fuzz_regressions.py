"""The inputs kept under fuzz/regressions/ replayed through the injection
interface: the harness's checks, without the fuzzer."""

import ast
import os
import struct
import tempfile

import pytest

import _quarn_bsd
import faults
import standin

HERE = os.path.dirname(os.path.abspath(__file__))
FUZZ = os.path.join(HERE, "..", "fuzz")

SANITIZED = bool(os.environ.get("QUARN_SANITIZED"))

# Findings not yet mended, by input: why each fails, and whether replaying it
# is safe (a read past a buffer ends a sanitized run; a runaway size any run).
# Mended so far: lengths the kernel claimed beyond the buffer
# (growing_read/*-claimed-length) and an unbounded CPU count
# (per_cpu_times/cpu-count).
KNOWN = {}


def read_targets():
    targets, cur = {}, None
    with open(os.path.join(FUZZ, "targets.txt")) as f:
        for line in f:
            words = line.split(None, 2)
            if not words or words[0].startswith("#"):
                continue
            if words[0] == "target":
                cur = targets[words[1]] = {"slots": [], "calls": []}
            elif words[0] == "slot":
                key = words[2].strip()
                cur["slots"].append((words[1], "" if key == "-" else key))
            else:
                cur["calls"].append((words[1], ast.literal_eval(words[2])))
    return targets


TARGETS = read_targets()


def inputs():
    base = os.path.join(FUZZ, "regressions")
    for target in sorted(os.listdir(base)) if os.path.isdir(base) else []:
        if target == "recording":
            continue  # the reader's own target: tests/test_recording.py replays them
        for name in sorted(os.listdir(os.path.join(base, target))):
            case = f"{target}/{name}"
            reason, safe = KNOWN.get(case, (None, True))
            marks = [pytest.mark.xfail(reason=reason, run=safe, strict=False)] if reason else []
            yield pytest.param(target, os.path.join(base, target, name), id=case, marks=marks)


def install(slots, data, root):
    """The harness's decoding of an input (fuzz/harness.cpp); returns the
    payloads given to each slot."""
    given, files, pos = {}, {}, 0
    while pos + 4 <= len(data):
        s, kind = data[pos] % len(slots), data[pos + 1] % 4
        length = min(struct.unpack_from("<H", data, pos + 2)[0], len(data) - pos - 4)
        payload = data[pos + 4:pos + 4 + length]
        pos += 4 + length
        call, key = slots[s]
        given.setdefault(s, []).append(payload if kind != 3 or length < 8 else payload[8:])
        if call in ("file", "link"):
            files[s] = files.get(s, b"") + payload
        elif kind == 2:
            standin.push(call, key, standin.error(payload[0] if payload else 0))
        elif kind == 3 and length >= 8:
            value = struct.unpack_from("<q", payload)[0]
            standin.push(call, key, standin.answer(payload[8:], value=value))
        else:
            standin.push(call, key, standin.answer(payload))
    for s, (call, key) in enumerate(slots):
        if call in ("file", "link"):
            path = root + key
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if s in given and call == "file":
                with open(path, "wb") as f:
                    f.write(files[s])
            elif s in given and files[s].split(b"\0")[0]:
                os.symlink(files[s].split(b"\0")[0], path)
        elif s not in given:
            standin.push(call, key, standin.error(2))
    return given


# The harness's two fills of fresh heap blocks: a value read from bytes
# nobody wrote differs between them.
FILLS = (struct.pack("<Q", 64), b"\xa5")


def replay(t, data, fill):
    """Each call's outcome with fresh blocks filled with fill, after the
    harness's checks; and the payloads given to each slot."""
    outcomes = []
    with tempfile.TemporaryDirectory() as root:
        standin.reset()
        given = install(t["slots"], data, root)
        if any(call in ("file", "link") for call, _ in t["slots"]):
            standin.host_root(root)
        standin.alloc_fill(fill)
        try:
            for name, args in t["calls"]:
                try:
                    out = getattr(_quarn_bsd, name)(*args)
                except faults.ALLOWED as e:
                    assert not isinstance(e, SystemError), (name, e)
                    outcomes.append((type(e), str(e)))
                    continue
                assert faults.plain(out), (name, out)
                check_bounds(name, out, t["slots"], data, given)
                outcomes.append(out)
        finally:
            standin.alloc_fill(b"")
            standin.host_root(None)
    return outcomes


@pytest.mark.parametrize("target,path", list(inputs()))
def test_regression_input(target, path):
    t = TARGETS[target]
    missing = [name for name, _ in t["calls"] if not hasattr(_quarn_bsd, name)]
    if missing:
        pytest.skip(f"not built yet: {missing}")
    with open(path, "rb") as f:
        data = f.read()
    assert replay(t, data, FILLS[0]) == replay(t, data, FILLS[1])


def check_bounds(name, out, slots, data, given):
    """What ASan sees in the fuzz build, seen here without it: no answer
    holds more than the bytes the kernel gave, and no value comes from a
    read shorter than it."""
    whole = {slots[s][1] for s, payloads in given.items() if len(payloads[-1]) >= 4}
    if name == "pids":
        assert len(out) * 1088 <= len(data), (name, len(out))
    if name == "cpu_topology":
        assert out is None or out.encode() in data, (name, out)
    if name == "sensors_battery":
        assert {"hw.acpi.battery.life", "hw.acpi.battery.time", "hw.acpi.acline"} <= whole
    if name == "sensors_cpu_temperature":
        assert "dev.cpu.0.temperature" in whole
        assert out[1] == -273 or "dev.cpu.0.coretemp.tjmax" in whole, out
    if name == "disk_partitions":
        assert len(out) * 2344 <= len(data), (name, len(out))
        # The buffer follows what the kernel fills, not the count it claims.
        reads = [c.size for c in standin.calls_to("getfsstat") if c.op == "read"]
        assert max(reads, default=0) <= max(1024 * 2344, 2 * len(data)), reads
