#!/bin/bash
# Seeds each target's corpus from the live host (once), then fuzzes the
# targets one after the other, and appends each one's figures to summary.txt.
#   FUZZ_RUNS     executions per target (default 10^6)
#   FUZZ_SECONDS  a time limit per target as well (default none)
#   FUZZ_TARGETS  the targets to run (default: every target of targets.txt)
#   FUZZ_TIMEOUT  seconds of wall time one input may take (default 60: at
#                 nice 10 on a busy machine, inputs of 20 ms were starved
#                 past 10 s; a walk that does not end still shows)
#   QUARN_FUZZ_NO_CLAIMS=1  no claimed lengths (see harness.cpp)
set -u
build=${FUZZ_BUILD:-build/fuzz}
runs=${FUZZ_RUNS:-1000000}
seconds=${FUZZ_SECONDS:-0}
timeout=${FUZZ_TIMEOUT:-60}
bin=$build/quarn_fuzz
targets=${FUZZ_TARGETS:-$(QUARN_FUZZ_TARGET=list "$bin")}
# An allocation over 32 MB sized by an answer fails as on a host without
# the memory: the module must say MemoryError, not crash.
# Every fresh heap block is filled, whole, so bytes nobody wrote are seen.
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:max_allocation_size_mb=32:malloc_fill_byte=190:max_malloc_fill_size=33554432
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
mkdir -p "$build/logs"
for t in $targets; do
    corpus=$build/corpus/$t
    artifacts=$build/artifacts/$t
    mkdir -p "$corpus" "$artifacts" "fuzz/regressions/$t"
    if [ -z "$(ls -A "$corpus")" ]; then
        QUARN_FUZZ_TARGET=$t QUARN_FUZZ_SEED=$corpus QUARN_FUZZ_SEED_PID=$$ "$bin" >/dev/null || exit 1
    fi
    # Made-up seeds for answers the host may not have (no login records).
    seeds=
    [ -d "fuzz/seeds/$t" ] && seeds="fuzz/seeds/$t"
    log=$build/logs/$t.log
    QUARN_FUZZ_TARGET=$t nice -n 10 "$bin" -runs="$runs" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" \
        "$corpus" "fuzz/regressions/$t" $seeds >"$log" 2>&1
    rc=$?
    execs=$(grep -o 'number_of_executed_units: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
    cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1)
    if grep -q 'not in the module yet' "$log"; then
        result="skipped: $(grep -m1 -o '[a-z_]* is not in the module yet' "$log")"
    elif [ $rc -eq 0 ]; then
        result="no finding"
    else
        result="FINDING: $(grep -m1 -E 'ERROR:|quarn-fuzz:|runtime error|out-of-memory|timeout' "$log" | cut -c1-160)"
    fi
    line="$(date -u +%FT%TZ) $t executions=${execs:-?} ${cov:-cov: ?} $result"
    echo "$line" | tee -a "$build/summary.txt"
done
