#!/bin/sh
# The type checker that make test runs over the module's stub and the
# example client: pyright from the npm registry, kept under build/tools.
#
#   tools/pyright.sh install   install it unless it is there (quietly)
#   tools/pyright.sh check     type-check src/_quarn_bsd.pyi and examples/
#
# QUARN_TOOLS names another folder to keep it in.
set -eu
cd "${0%/*}/.."
version=1.1.414
tools=${QUARN_TOOLS:-build/tools}
bin=$tools/node_modules/.bin/pyright

case "${1:-}" in
install)
    [ -x "$bin" ] && exit 0
    echo "tools/pyright.sh: installing pyright $version into $tools" >&2
    npm install --prefix "$tools" --no-audit --no-fund --loglevel=error "pyright@$version" >&2
    ;;
check)
    [ -x "$bin" ] || { echo "tools/pyright.sh: no pyright in $tools; run tools/deps.sh test" >&2; exit 1; }
    # The stub stands for the module: the checker reads it, never the build.
    exec "$bin" -p pyrightconfig.json
    ;;
*)
    echo "usage: tools/pyright.sh install|check" >&2
    exit 2
    ;;
esac
