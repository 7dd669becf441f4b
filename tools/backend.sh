#!/bin/sh
# Lays out build/backend: the system's meson-python and what it imports, for
# `pip install --no-build-isolation .` from an interpreter that is not the
# system's (a pyenv build on Debian, python3.12 beside FreeBSD's default
# 3.11). Prints the folder to put on PYTHONPATH.
#
#   tools/backend.sh PYTHON
#
# Meson before 1.2 asks an interpreter about itself through distutils,
# which CPython 3.12 no longer has; setuptools' own copy of it serves then.
set -eu
cd "${0%/*}/.."
py=${1:?usage: tools/backend.sh PYTHON}
out=$PWD/build/backend
site=""
for d in /usr/lib/python3/dist-packages /usr/local/lib/python3.*/site-packages; do
    if [ -e "$d/mesonpy/__init__.py" ]; then site=$d; break; fi
done
[ -n "$site" ] || {
    echo "tools/backend.sh: no meson-python installed (Debian: python3-mesonpy; FreeBSD: devel/meson-python)" >&2
    exit 1
}
rm -rf "$out"
mkdir -p "$out"
for m in mesonpy pyproject_metadata packaging; do
    ln -s "$site/$m" "$out/$m"
done
if ! "$py" -c 'import distutils' 2>/dev/null; then
    [ -e "$site/setuptools/_distutils/__init__.py" ] || {
        echo "tools/backend.sh: $py has no distutils and $site no setuptools" >&2
        exit 1
    }
    ln -s "$site/setuptools/_distutils" "$out/distutils"
fi
echo "$out"
