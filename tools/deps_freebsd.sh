#!/bin/sh
# tools/deps.sh on FreeBSD: installs with pkg what the project needs and the
# machine lacks. Same modes and arguments as tools/deps.sh.
#
# The Makefile is GNU make's (gmake). A CPython 3.12 or later comes from
# lang/python312 unless one is on PATH already; pytest is FreeBSD's own
# (the default interpreter's flavour), run from the newer interpreter with
# its site-packages on the path, as Debian's is on Linux. The C++ suites and
# the fuzz campaigns need the stand-in and have nothing to do here.
set -eu

root=${QUARN_DEPS_ROOT:-}
me=tools/deps.sh

say() {
    printf '%s: %s\n' "$me" "$*" >&2
}

case "${1:-}" in
build | test | cross | wheel) mode=$1 ;;
fuzz)
    say "the fuzz campaigns run on the stand-in build only (Linux)"
    exit 1
    ;;
*)
    say "usage: tools/deps.sh build|test|fuzz|cross [PYTHON...]"
    exit 2
    ;;
esac
shift

# Each line: package origin, what it is for, how to see it is there (a
# command on PATH, or a file pattern under /usr/local).
PACKAGES='
devel/gmake      build cmd  gmake
shells/bash      build cmd  bash
devel/cmake-core build cmd  cmake
devel/pkgconf    build cmd  pkg-config
devel/py-pytest  test  glob /usr/local/lib/python3.*/site-packages/pytest/__init__.py
www/npm          test  cmd  npm
devel/meson-python wheel glob /usr/local/lib/python3.*/site-packages/mesonpy/__init__.py
devel/ninja      wheel cmd  ninja
'

missing=""
add() {
    case " $missing " in
    *" $1 "*) ;;
    *) missing="${missing:+$missing }$1" ;;
    esac
}

set -f
# shellcheck disable=SC2086
set -- $PACKAGES -- "$@"
set +f
while [ "$1" != "--" ]; do
    package=$1 need=$2 kind=$3 probe=$4
    shift 4
    [ "$need" = build ] || [ "$need" = "$mode" ] || continue
    case $kind in
    cmd) command -v "$probe" >/dev/null 2>&1 || add "$package" ;;
    glob)
        found=""
        for f in $root$probe; do [ -e "$f" ] && found=1; done
        [ -n "$found" ] || add "$package"
        ;;
    esac
done
shift

# Without an interpreter named, one must be on PATH (tools/pythons.sh).
if [ $# -eq 0 ] && ! PYTHON= "${0%/*}/pythons.sh" >/dev/null 2>&1; then
    add lang/python312
fi
for py in "$@"; do
    inc=$("$py" -c 'import sysconfig; print(sysconfig.get_paths()["include"])' 2>/dev/null) || {
        say "cannot run $py"
        exit 1
    }
    [ -e "$root$inc/Python.h" ] || {
        say "$py has no development headers ($inc/Python.h); use an interpreter built with them"
        exit 1
    }
done

npm_tools() {
    [ "$mode" = test ] || return 0
    "${0%/*}/pyright.sh" install
}

[ -z "$missing" ] && { npm_tools; exit 0; }

by_hand="pkg install -y $missing"
priv=""
if [ "$(id -u)" != 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true >/dev/null 2>&1; then
        priv=sudo
    else
        say "missing: $missing"
        say "installing needs root; run as root:"
        say "    $by_hand"
        exit 1
    fi
fi

say "installing: $missing"
# shellcheck disable=SC2086
if ! ASSUME_ALWAYS_YES=yes $priv pkg install -y $missing; then
    say "installing failed; run as root:"
    say "    $by_hand"
    exit 1
fi
npm_tools
