# Quick start: `make run` (snapshot of this machine), `make test` (every test).
SHELL := /bin/bash
PYTHONS := $(shell tools/pythons.sh)
PY := $(firstword $(PYTHONS))
JOBS ?= 2
# Debian's pytest, importable from the pyenv interpreters.
DIST := /usr/lib/python3/dist-packages
ASAN_LIBS := $(shell g++ -print-file-name=libasan.so) $(shell g++ -print-file-name=libubsan.so)

# build/py3.X for each interpreter; build/asan-py3.X under sanitizers.
ver = $$($(1) -c 'import sys; print("%d.%d" % sys.version_info[:2])')

.PHONY: all build run test check bench clean

all: build

build:
	@set -e; for py in $(PYTHONS); do \
	  v=$(call ver,$$py); \
	  cmake -S . -B build/py$$v -DPython3_EXECUTABLE=$$py >/dev/null; \
	  cmake --build build/py$$v -j $(JOBS) -- --no-print-directory; \
	done

run: build
	@v=$(call ver,$(PY)); PYTHONPATH=build/py$$v $(PY) tools/snapshot.py

test: build
	@set -e; for py in $(PYTHONS); do \
	  v=$(call ver,$$py); \
	  echo "== C++ suites, Python $$v"; \
	  build/py$$v/quarn_cpp_tests --gtest_brief=1; \
	  echo "== Python suites, Python $$v"; \
	  PYTHONPATH=build/py$$v:$(DIST) $$py -m pytest -q -p no:cacheprovider tests; \
	done

check:
	@set -e; for py in $(PYTHONS); do \
	  v=$(call ver,$$py); \
	  cmake -S . -B build/asan-py$$v -DPython3_EXECUTABLE=$$py -DQUARN_SANITIZE=ON >/dev/null; \
	  cmake --build build/asan-py$$v -j $(JOBS) -- --no-print-directory; \
	  echo "== C++ suites under ASan+UBSan, Python $$v"; \
	  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	    build/asan-py$$v/quarn_cpp_tests --gtest_brief=1; \
	  echo "== Python suites under ASan+UBSan, Python $$v"; \
	  LD_PRELOAD="$(ASAN_LIBS)" ASAN_OPTIONS=detect_leaks=0 \
	    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 QUARN_SANITIZED=1 \
	    PYTHONPATH=build/asan-py$$v:$(DIST) $$py -m pytest -q -p no:cacheprovider tests; \
	done

bench: build
	@v=$(call ver,$(PY)); for b in bench/*.py; do PYTHONPATH=build/py$$v:tests $(PY) $$b; done

clean:
	rm -rf build

# Coverage-guided fuzzing of the walkers of kernel answers (clang, libFuzzer,
# ASan+UBSan); never part of `make test`. FUZZ_RUNS, FUZZ_TARGETS as in
# fuzz/run.sh.
.PHONY: fuzz
fuzz:
	@command -v clang++ >/dev/null || { echo "make fuzz needs clang and libclang-rt-14-dev"; exit 1; }
	@CXX=clang++ cmake -S fuzz -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ \
	  -DPython3_EXECUTABLE=$(PY) >/dev/null
	@cmake --build build/fuzz -j $(JOBS) --target quarn_fuzz -- --no-print-directory
	@fuzz/run.sh

# The churn and thread tests at length (bounded by time and count).
.PHONY: stress
stress: build
	@v=$(call ver,$(PY)); QUARN_STRESS=1 PYTHONPATH=build/py$$v:$(DIST) \
	  $(PY) -m pytest -q -s -p no:cacheprovider tests/test_churn.py
