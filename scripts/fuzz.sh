#!/bin/bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) in build-fuzz/ and runs
# each for SECONDS (default 15) on a scratch copy of its seed corpus, inside the
# sandbox. Any finding fails the run and leaves its input in build-fuzz/findings/.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_packages clang cmake libbz2-dev
seconds=${1:-15}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DTARVO_FUZZ=ON -DTARVO_TESTS=OFF >/dev/null
cmake --build build-fuzz --target fuzz_targets -j"$(nproc)" >/dev/null
mkdir -p build-fuzz/findings
for target in build-fuzz/fuzz/fuzz_*; do
    name=${target##*/}
    corpus=build-fuzz/corpus/$name
    rm -rf "$corpus" && mkdir -p "$corpus"
    cp tests/fuzz/corpus/"$name"/* "$corpus"/
    log=build-fuzz/$name.log
    if ! tests/sandbox.sh "$PWD/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$PWD/build-fuzz/findings/$name-" "$PWD/$corpus" >"$log" 2>&1; then
        tail -n 40 "$log"
        echo "fuzz: $name found a fault (input in build-fuzz/findings/)" >&2
        exit 1
    fi
    echo "fuzz: $name: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') runs in ${seconds}s, no finding"
done
