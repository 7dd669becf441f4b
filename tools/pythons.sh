#!/bin/sh
# Prints the CPython interpreters (3.12 or newer) to build and test with, one
# per minor version, newest first. PYTHON=... names the only one to use.
set -eu
if [ -n "${PYTHON:-}" ]; then
    echo "$PYTHON"
    exit 0
fi
found=""
for minor in 19 18 17 16 15 14 13 12; do
    best=""
    # On PATH first, then pyenv's own builds (newest last); never its shims.
    onpath=$(command -v python3."$minor" 2>/dev/null || true)
    case "$onpath" in */.pyenv/shims/*) onpath="" ;; esac
    for cand in $onpath $(ls -d "$HOME"/.pyenv/versions/3."$minor".*/bin/python3."$minor" 2>/dev/null | sort -V); do
        if [ -x "$cand" ]; then best="$cand"; fi
    done
    if [ -z "$best" ]; then
        continue
    fi
    if "$best" -c 'import sys; sys.exit(0 if sys.version_info >= (3, 12) else 1)' 2>/dev/null; then
        found="$found $best"
    fi
done
if [ -z "$found" ]; then
    echo "no CPython 3.12 or newer found; set PYTHON=..." >&2
    exit 1
fi
for p in $found; do echo "$p"; done
