#!/usr/bin/env bash
# tools/suites.sh PYTHON...
#
# The Python suites under every interpreter at once: each in its own
# process against its own build (build/py3.X), its output in
# build/pytest-py3.X.log. On a shared machine two runs get the CPU time of
# two, where one after the other would wait twice. Every 5 s a line says how
# far each has got; at the end each one's summary, and the whole log of any
# that failed. The status is 1 if any failed. DIST is where Debian's pytest
# lives.
set -u
dist=${DIST:-/usr/lib/python3/dist-packages}
pids=() logs=() names=()
for py in "$@"; do
    v=$("$py" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    log=build/pytest-py$v.log
    PYTHONPATH=build/py$v:$dist "$py" -m pytest -q -p no:cacheprovider tests >"$log" 2>&1 &
    pids+=($!) logs+=("$log") names+=("$v")
done
echo "Python suites, Python ${names[*]}, side by side (a few minutes; logs in build/)"
trap 'kill "${pids[@]}" 2>/dev/null; exit 130' INT TERM
start=$SECONDS
running() {
    for pid in "${pids[@]}"; do
        kill -0 "$pid" 2>/dev/null && return 0
    done
    return 1
}
while running; do
    for _ in 1 2 3 4 5; do
        running || break
        sleep 1
    done
    line="  ... $((SECONDS - start)) s:"
    for i in "${!pids[@]}"; do
        done=$(grep -o '\[ *[0-9]*%\]' "${logs[$i]}" | tail -n 1 | tr -dc '0-9')
        line+=" Python ${names[$i]} ${done:-0}%"
    done
    echo "$line"
done
rc=0
for i in "${!pids[@]}"; do
    if wait "${pids[$i]}"; then
        echo "Python ${names[$i]}: $(tail -n 1 "${logs[$i]}")"
    else
        rc=1
        echo "Python ${names[$i]} failed; its log (${logs[$i]}):"
        cat "${logs[$i]}"
    fi
done
exit $rc
