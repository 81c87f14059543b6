#!/bin/bash
# Runs every fuzz target for FUZZ_SECONDS (default 15), two at a time, each inside the sandbox.
# Usage: tests/fuzz/run.sh BUILD_DIR (configured with -DTARVO_FUZZ=ON). Any finding fails the
# run; the input that caused it is kept in BUILD_DIR/fuzz-findings.
set -u
build=$(cd "$1" && pwd)
cd "$(dirname "$0")" || exit
seconds=${FUZZ_SECONDS:-15}
out=$build/fuzz-findings
mkdir -p "$out"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run_one() {
    local name=$1 corpus=$build/fuzz-corpus/$1 seeds=$PWD/seeds/${1#kit_} rc=0
    mkdir -p "$corpus"
    # New inputs go to the build's corpus; the seeds in the tree are only read. Both catalog
    # readers share the kit seeds.
    ../sandbox.sh "$build/fuzz_$name" -max_total_time="$seconds" -timeout=10 -artifact_prefix="$out/$name-" \
        "$corpus" "$seeds" >/dev/null 2>"$out/$name.log" || rc=$?
    echo "$rc" >"$out/$name.rc"
}

names="$(ls seeds) kit_catalog"
for name in $names; do
    [ "$(jobs -rp | wc -l)" -lt 2 ] || wait -n
    run_one "$name" &
done
wait

failed=0
for name in $names; do
    rc=$(cat "$out/$name.rc")
    [ "$rc" != 0 ] || { echo "fuzz_$name: $(grep -o 'Done [0-9]* runs' "$out/$name.log" | tail -1), no finding"; continue; }
    echo "fuzz_$name: FAILED (status $rc)"
    tail -40 "$out/$name.log"
    failed=1
done
exit "$failed"
