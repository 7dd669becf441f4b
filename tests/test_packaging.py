"""pip's build (meson.build) compiles the same sources as CMake's: every
module and stand-in source that a CMakeLists.txt names outside the test
builds' hooks, and no other."""

import os
import re

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def cmake_sources():
    found = set()
    for folder, dirs, files in os.walk(ROOT):
        dirs[:] = [d for d in dirs if d not in ("build", "fuzz", "tests", ".git")]
        if "CMakeLists.txt" in files:
            text = open(os.path.join(folder, "CMakeLists.txt")).read()
            text = re.sub(r"#.*", "", text)
            # What only test builds compile (the allocation hooks) is not the module's.
            text = re.sub(r"if\(QUARN_TEST_HOOKS\).*?endif\(\)", "", text, flags=re.S)
            for src in re.findall(r"[\w./${}-]+\.cpp\b", text):
                if src.startswith("tests/"):
                    continue
                path = os.path.normpath(os.path.join(folder, src.replace("${CMAKE_CURRENT_SOURCE_DIR}/", "")))
                found.add(os.path.relpath(path, ROOT))
    return found


def meson_sources():
    text = re.sub(r"#.*", "", open(os.path.join(ROOT, "meson.build")).read())
    return set(re.findall(r"'([\w./-]+\.cpp)'", text))


def test_meson_and_cmake_compile_the_same_sources():
    cmake = cmake_sources()
    assert "src/_quarn_bsd.cpp" in cmake and len(cmake) > 20
    assert meson_sources() == cmake
