"""tools/deps.sh decides what to install from what a made-up machine lacks:
its commands are stubs on PATH, its files live under QUARN_DEPS_ROOT, and
apt-get, sudo and id are stubs that log what they were asked."""

import os
import re
import subprocess

import pytest

DEPS = os.path.join(os.path.dirname(__file__), "..", "tools", "deps.sh")

COMMANDS = {"make": "make", "cmake": "cmake", "g++": "g++", "pkg-config": "pkg-config",
            "iproute2": "ss", "tmux": "tmux", "chromium": "chromium", "npm": "npm",
            "devel/gmake": "gmake", "devel/cmake-core": "cmake", "devel/pkgconf": "pkg-config",
            "lang/python312": "python3.12", "shells/bash": "bash"}
FILES = {"libmnl-dev": "usr/include/libmnl/libmnl.h",
         "liblzma-dev": "usr/include/lzma.h",
         "libgtest-dev": "usr/include/gtest/gtest.h",
         "python3-pytest": "usr/lib/python3/dist-packages/pytest/__init__.py",
         "devel/py-pytest": "usr/local/lib/python3.11/site-packages/pytest/__init__.py",
         "pyright": "tools/node_modules/.bin/pyright"}
INSTALL = "install -y -q --no-install-recommends "


def stub(path, body):
    path.write_text("#!/bin/sh\n" + body + "\n")
    path.chmod(0o755)


@pytest.fixture
def machine(tmp_path):
    """Runs deps.sh on a machine that lacks the given packages; returns its
    exit status, its output and the stubbed installer's log."""

    def run(mode, lacking=(), uid=0, sudo=False, apt=True, include=None, os_name="Linux"):
        bin_dir, root, log = tmp_path / "bin", tmp_path / "root", tmp_path / "apt.log"
        bin_dir.mkdir()
        absent = {COMMANDS[p] for p in lacking if p in COMMANDS}
        for command in set(COMMANDS.values()) - absent:
            stub(bin_dir / command, "exit 0")
        for package, path in FILES.items():
            if package not in lacking:
                (root / path).parent.mkdir(parents=True, exist_ok=True)
                (root / path).write_text("")
                (root / path).chmod(0o755)
        stub(bin_dir / "id", f"echo {uid}")
        if apt:
            stub(bin_dir / "apt-get", f'echo "$*" >> {log}')
            stub(bin_dir / "pkg", f'echo "pkg $*" >> {log}')
        if "npm" not in lacking:
            stub(bin_dir / "npm", f'echo "npm $*" >> {log}')
        if sudo:
            stub(bin_dir / "sudo", f'[ "$1" = -n ] && exit 0\nprintf "sudo " >> {log}\nexec "$@"')
        pythons = []
        if include is not None:
            stub(bin_dir / "python3.x", f"echo {include}")
            pythons = [str(bin_dir / "python3.x")]
        done = subprocess.run(["/bin/sh", DEPS, mode, *pythons], capture_output=True, text=True,
                              env={"PATH": str(bin_dir), "QUARN_DEPS_ROOT": str(root),
                                   "QUARN_DEPS_OS": os_name, "QUARN_TOOLS": str(root / "tools"),
                                   "HOME": str(tmp_path)})
        calls = log.read_text().splitlines() if log.exists() else []
        return done.returncode, done.stdout + done.stderr, calls

    return run


@pytest.mark.parametrize("mode,lacking", [
    ("test", ()),
    ("build", ("libgtest-dev", "python3-pytest")),  # a build needs no test tools
])
def test_nothing_missing_installs_and_prints_nothing(machine, mode, lacking):
    assert machine(mode, lacking) == (0, "", [])


@pytest.mark.parametrize("mode,lacking,kw,calls", [
    ("test", ("libgtest-dev", "python3-pytest"), {},
     ["update -q", INSTALL + "libgtest-dev python3-pytest"]),
    ("build", ("cmake", "g++", "libmnl-dev", "python3-pytest"), {},
     ["update -q", INSTALL + "cmake g++ libmnl-dev"]),
    ("test", ("python3-pytest",), {"uid": 1000, "sudo": True},
     ["sudo update -q", "sudo " + INSTALL + "python3-pytest"]),
    ("build", (), {"include": "/usr/include/python3.13"},
     ["update -q", INSTALL + "python3.13-dev"]),
], ids=["test-tools", "compilers", "through-sudo", "debian-python-headers"])
def test_missing_packages_are_installed_after_one_update(machine, mode, lacking, kw, calls):
    rc, out, logged = machine(mode, lacking, **kw)
    assert rc == 0, out
    assert logged == calls


@pytest.mark.parametrize("lacking,kw,says", [
    (("python3-pytest",), {"uid": 1000},
     "apt-get update && apt-get install -y --no-install-recommends python3-pytest"),
    (("libgtest-dev", "cmake"), {"apt": False}, "missing: cmake libgtest-dev"),
    ((), {"include": "/opt/py/include/python3.12"}, "has no development headers"),
], ids=["not-root", "no-apt", "headerless-python"])
def test_stops_with_a_message_when_it_cannot_install(machine, lacking, kw, says):
    rc, out, logged = machine("test", lacking, **kw)
    assert rc == 1
    assert says in out
    assert logged == []


NPM = "npm install --prefix {} --no-audit --no-fund --loglevel=error pyright@"


@pytest.mark.parametrize("os_name,lacking,calls", [
    ("Linux", ("pyright",), [NPM]),
    ("FreeBSD", ("devel/py-pytest", "devel/gmake", "pyright"),
     ["pkg install -y devel/gmake devel/py-pytest", NPM]),
    ("FreeBSD", ("libmnl-dev", "libgtest-dev"), []),  # Debian's names mean nothing there
], ids=["pyright-from-npm", "freebsd-pkg", "freebsd-complete"])
def test_test_mode_installs_pyright_and_freebsd_packages(machine, tmp_path, os_name, lacking, calls):
    rc, out, logged = machine("test", lacking, include=None, os_name=os_name)
    assert rc == 0, out
    tools = str(tmp_path / "root" / "tools")
    assert [re.sub(r"pyright@\S+", "pyright@", c) for c in logged] == [c.format(tools) for c in calls]
