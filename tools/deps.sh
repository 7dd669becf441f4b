#!/bin/sh
# Installs the Debian packages this project needs and the machine lacks.
#
#   tools/deps.sh build [PYTHON...]   what building the module needs
#   tools/deps.sh test  [PYTHON...]   that, plus what the test suites need
#   tools/deps.sh fuzz  [PYTHON...]   that, plus what make fuzz needs
#   tools/deps.sh cross [PYTHON...]   what building, plus make cross, needs
#   tools/deps.sh wheel [PYTHON...]   that, plus pip's build (meson-python)
#
# On FreeBSD the same modes install FreeBSD's packages with pkg instead
# (tools/deps_freebsd.sh).
# Each PYTHON named is checked for its development headers too. With
# everything present it installs nothing and prints nothing. It installs as
# root, or through sudo when that needs no password; otherwise it stops and
# names the packages to install by hand.
#
# QUARN_DEPS_ROOT looks for files under another root instead of /, so the
# script's decisions can be tried without touching this machine's packages.
# Commands are looked for on PATH.
set -eu

# The one list. Each line: package, what it is for (build or test), and how
# to see that it is there (a command on PATH, or a file).
PACKAGES='
make           build cmd  make
cmake          build cmd  cmake
g++            build cmd  g++
pkg-config     build cmd  pkg-config
libmnl-dev     build file /usr/include/libmnl/libmnl.h
liblzma-dev    build file /usr/include/lzma.h
libgtest-dev   test  file /usr/include/gtest/gtest.h
python3-pytest test  file /usr/lib/python3/dist-packages/pytest/__init__.py
iproute2       test  cmd  ss
tmux           test  cmd  tmux
chromium       test  cmd  chromium
npm            test  cmd  npm
clang          fuzz  cmd  clang++
libclang-rt-14-dev fuzz file /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a
clang          cross cmd  clang++
libc++-14-dev  cross file /usr/lib/llvm-14/include/c++/v1/vector
python3-mesonpy wheel file /usr/lib/python3/dist-packages/mesonpy/__init__.py
meson          wheel cmd  meson
ninja-build    wheel cmd  ninja
'

root=${QUARN_DEPS_ROOT:-}
me=tools/deps.sh

say() {
    printf '%s: %s\n' "$me" "$*" >&2
}

# QUARN_DEPS_OS stands for uname's answer in the script's own tests.
if [ "${QUARN_DEPS_OS:-$(uname -s 2>/dev/null || true)}" = FreeBSD ]; then
    exec /bin/sh "${0%/*}/deps_freebsd.sh" "$@"
fi

case "${1:-}" in
build | test | fuzz | cross | wheel) mode=$1 ;;
*)
    say "usage: tools/deps.sh build|test|fuzz|cross|wheel [PYTHON...]"
    exit 2
    ;;
esac
shift

missing=""
add() {
    case " $missing " in
    *" $1 "*) ;;
    *) missing="${missing:+$missing }$1" ;;
    esac
}

# Set off the list's lines as positional words, four at a time.
set -f
# shellcheck disable=SC2086
set -- $PACKAGES -- "$@"
set +f
while [ "$1" != "--" ]; do
    package=$1 need=$2 kind=$3 probe=$4
    shift 4
    # Build lines serve every mode, test lines test and fuzz, others their own.
    case $need in
    build) ;;
    test) case $mode in test | fuzz) ;; *) continue ;; esac ;;
    *) [ "$need" = "$mode" ] || continue ;;
    esac
    case $kind in
    cmd) command -v "$probe" >/dev/null 2>&1 || add "$package" ;;
    file) [ -e "$root$probe" ] || add "$package" ;;
    esac
done
shift

# An interpreter's headers: Debian's own interpreters get them from
# python3.X-dev; any other must have been built with them.
for py in "$@"; do
    inc=$("$py" -c 'import sysconfig; print(sysconfig.get_paths()["include"])' 2>/dev/null) || {
        say "cannot run $py"
        exit 1
    }
    [ -e "$root$inc/Python.h" ] && continue
    case $inc in
    /usr/include/python3.[0-9]*)
        ver=${inc#/usr/include/python}
        ver=${ver%%[!0-9.]*}
        add "python$ver-dev"
        ;;
    *)
        say "$py has no development headers ($inc/Python.h); use an interpreter built with them"
        exit 1
        ;;
    esac
done

# pyright comes from npm once npm is there (tools/pyright.sh).
npm_tools() {
    [ "$mode" = test ] || return 0
    "${0%/*}/pyright.sh" install
}

[ -z "$missing" ] && { npm_tools; exit 0; }

by_hand="apt-get update && apt-get install -y --no-install-recommends $missing"
if ! command -v apt-get >/dev/null 2>&1; then
    say "missing: $missing"
    say "apt-get is not available here; install these (Debian's names) by hand"
    exit 1
fi
sudo=""
if [ "$(id -u)" != 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true >/dev/null 2>&1; then
        sudo=sudo
    else
        say "missing: $missing"
        say "installing needs root; run as root:"
        say "    $by_hand"
        exit 1
    fi
fi

say "installing: $missing"
export DEBIAN_FRONTEND=noninteractive
# shellcheck disable=SC2086
if ! { $sudo apt-get update -q && $sudo apt-get install -y -q --no-install-recommends $missing; }; then
    say "installing failed; run as root:"
    say "    $by_hand"
    exit 1
fi
npm_tools
