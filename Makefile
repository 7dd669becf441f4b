# Quick start: `make run` (snapshot of this machine), `make test` (every test).
# FreeBSD keeps bash under /usr/local (shells/bash, from tools/deps.sh).
SHELL := $(firstword $(wildcard /bin/bash /usr/local/bin/bash) /bin/sh)
PYTHONS := $(shell tools/pythons.sh 2>/dev/null)
PY := $(firstword $(PYTHONS))
JOBS ?= 2
# Debian's pytest, importable from the pyenv interpreters.
DIST := /usr/lib/python3/dist-packages
# On FreeBSD, pytest of the default interpreter's flavour (devel/py-pytest).
ifeq ($(shell uname -s),FreeBSD)
DIST := $(patsubst %/pytest/,%,$(firstword $(wildcard /usr/local/lib/python3.*/site-packages/pytest/)))
endif
# Asked for only by check, once the compiler is sure to be there.
ASAN_LIBS = $(shell g++ -print-file-name=libasan.so) $(shell g++ -print-file-name=libubsan.so)
# Under the sanitizers every fresh heap block is filled (up to 16 MiB of
# it, not only the first 4 KiB), so bytes nobody wrote read as the pattern.
ASAN_FILL = malloc_fill_byte=190:max_malloc_fill_size=16777216
# Options for the snapshot: make run ARGS="--all" or ARGS="--json".
ARGS ?=

# build/py3.X for each interpreter; build/asan-py3.X under sanitizers.
ver = $$($(1) -c 'import sys; print("%d.%d" % sys.version_info[:2])')
# " (first build: ...)" when build folder $(1) has never been configured.
first = $$([ -f $(1)/CMakeCache.txt ] || echo " (first build: a minute or two)")
need_python = @[ -n "$(PY)" ] || { echo "no CPython 3.12 or newer found; set PYTHON=..." >&2; exit 1; }

.PHONY: all build run record test check bench clean cross

all: build

build:
	$(need_python)
	@tools/deps.sh build $(PYTHONS)
	@set -e; for py in $(PYTHONS); do \
	  v=$(call ver,$$py); b=build/py$$v; \
	  tools/step.sh $$b.log "building the module and its tests for Python $$v$(call first,$$b)" \
	    sh -c "cmake -S . -B $$b -DPython3_EXECUTABLE=$$py && cmake --build $$b -j $(JOBS)"; \
	done

# Builds the module for the one interpreter it runs under, without the test
# hooks (build/run-py3.X), saying so in a line or two, and prints the
# report; the build's output only when the build fails.
run:
	$(need_python)
	@tools/deps.sh build $(PY)
	@v=$(call ver,$(PY)); b=build/run-py$$v; \
	tools/step.sh build/run.log "building the module for Python $$v$(call first,$$b)" \
	  sh -c "{ [ -f $$b/Makefile ] || cmake -S . -B $$b -DPython3_EXECUTABLE=$(PY) -DQUARN_TESTS=OFF; } && \
	    cmake --build $$b -j $(JOBS) --target _quarn_bsd" && \
	PYTHONPATH=$$b $(PY) tools/snapshot.py $(ARGS)

# Records this machine into OUT (make record OUT=FILE, ARGS="--raw" to keep
# everything); docs/recording.md.
record:
	$(need_python)
	@[ -n "$(OUT)" ] || { echo "make record OUT=FILE" >&2; exit 1; }
	@tools/deps.sh build $(PY)
	@v=$(call ver,$(PY)); b=build/py$$v; mkdir -p build; \
	{ { [ -f $$b/Makefile ] || cmake -S . -B $$b -DPython3_EXECUTABLE=$(PY); } && \
	  cmake --build $$b -j $(JOBS) --target _quarn_bsd; } >build/run.log 2>&1 || \
	  { cat build/run.log; exit 1; }; \
	PYTHONPATH=$$b:tools $(PY) -m quarn_record $(OUT) $(ARGS)

test:
	$(need_python)
	@tools/deps.sh test $(PYTHONS)
	@$(MAKE) --no-print-directory build
	@echo "== Type check of the stub and examples/ (pyright)"
	@tools/pyright.sh check
	@set -e; for py in $(PYTHONS); do \
	  v=$(call ver,$$py); \
	  echo "C++ suites, Python $$v"; \
	  if [ -x build/py$$v/quarn_cpp_tests ]; then build/py$$v/quarn_cpp_tests --gtest_brief=1; \
	  else echo "skipped: the C++ suites test the stand-in, which a native build has not"; fi; \
	done
	@DIST=$(DIST) tools/suites.sh $(PYTHONS)

check:
	$(need_python)
	@tools/deps.sh test $(PYTHONS)
	@set -e; for py in $(PYTHONS); do \
	  v=$(call ver,$$py); \
	  cmake -S . -B build/asan-py$$v -DPython3_EXECUTABLE=$$py -DQUARN_SANITIZE=ON >/dev/null; \
	  cmake --build build/asan-py$$v -j $(JOBS) -- --no-print-directory; \
	  echo "== C++ suites under ASan+UBSan, Python $$v"; \
	  ASAN_OPTIONS=detect_leaks=0:$(ASAN_FILL) UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	    build/asan-py$$v/quarn_cpp_tests --gtest_brief=1; \
	  echo "== Python suites under ASan+UBSan, Python $$v"; \
	  LD_PRELOAD="$(ASAN_LIBS)" ASAN_OPTIONS=detect_leaks=0:$(ASAN_FILL) \
	    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 QUARN_SANITIZED=1 \
	    PYTHONPATH=build/asan-py$$v:$(DIST) $$py -m pytest -q -p no:cacheprovider tests; \
	done

bench:
	@$(MAKE) --no-print-directory build
	@v=$(call ver,$(PY)); for b in bench/*.py; do PYTHONPATH=build/py$$v:tests $(PY) $$b; done

clean:
	rm -rf build

# Coverage-guided fuzzing of the walkers of kernel answers (clang, libFuzzer,
# ASan+UBSan); never part of `make test`. FUZZ_RUNS, FUZZ_TARGETS as in
# fuzz/run.sh. One build per interpreter: a CMake cache cannot change its
# Python.
.PHONY: fuzz
fuzz:
	@tools/deps.sh fuzz $(PY)
	@v=$(call ver,$(PY)); b=build/fuzz-py$$v; \
	  CXX=clang++ cmake -S fuzz -B $$b -DCMAKE_CXX_COMPILER=clang++ \
	    -DPython3_EXECUTABLE=$(PY) >/dev/null && \
	  cmake --build $$b -j $(JOBS) --target quarn_fuzz -- --no-print-directory && \
	  FUZZ_BUILD=$$b fuzz/run.sh

# The churn and thread tests at length (bounded by time and count).
.PHONY: stress
stress: build
	@v=$(call ver,$(PY)); QUARN_STRESS=1 PYTHONPATH=build/py$$v:$(DIST) \
	  $(PY) -m pytest -q -s -p no:cacheprovider tests/module/test_churn.py

# The native build compiled for FreeBSD 14 amd64 with clang, every source
# with the project's own flags at release optimisation, against the FreeBSD
# /usr/include under FREEBSD_SYSROOT=DIR. Compiles only; links nothing.
FREEBSD_SYSROOT ?=
cross:
	$(need_python)
	@[ -n "$(FREEBSD_SYSROOT)" ] || { echo "make cross needs FREEBSD_SYSROOT=DIR (a FreeBSD /usr/include under DIR)" >&2; exit 2; }
	@tools/deps.sh cross
	@inc=$$($(PY) -c 'import sysconfig; print(sysconfig.get_paths()["include"])'); \
	  cmake -S . -B build/cross-freebsd14 -DCMAKE_TOOLCHAIN_FILE=cmake/freebsd14-amd64.cmake \
	    -DFREEBSD_SYSROOT=$(abspath $(FREEBSD_SYSROOT)) -DCMAKE_BUILD_TYPE=Release \
	    -DQUARN_TESTS=OFF -DQUARN_CROSS_PYTHON_INCLUDE=$$inc >/dev/null && \
	  cmake --build build/cross-freebsd14 -j $(JOBS) --target quarn_objects -- --no-print-directory
