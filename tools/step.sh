#!/usr/bin/env bash
# tools/step.sh LOG "what is being done" COMMAND...
#
# Says what is being done in one line, runs COMMAND with its output in LOG,
# and while it runs says every few seconds how far it is (the build's own
# percentage when it prints one), so a long build never looks hung. The
# output is shown only when COMMAND fails; the status is COMMAND's.
set -u
log=$1 what=$2
shift 2
mkdir -p "$(dirname "$log")"
echo "$what" >&2
"$@" >"$log" 2>&1 &
pid=$!
# Ctrl-C stops the command too, not only this script.
trap 'kill "$pid" 2>/dev/null; exit 130' INT TERM
start=$SECONDS said=$SECONDS
while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    if [ $((SECONDS - said)) -ge 5 ]; then
        said=$SECONDS
        done=$(grep -o '^\[ *[0-9]*%\]' "$log" | tail -n 1 | tr -dc '0-9')
        echo "  ... $((SECONDS - start)) s${done:+, $done% done}" >&2
    fi
done
wait "$pid"
rc=$?
if [ "$rc" -ne 0 ]; then
    echo "failed (status $rc); its output ($log):" >&2
    cat "$log" >&2
fi
exit "$rc"
