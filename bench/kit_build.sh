#!/bin/bash
# Kit build benchmark, run by hand as root (never part of ctest):
#   bench/kit_build.sh [--rounds 3] [--work DIR]
# On the payload that bench/run.sh stages (about 200 MB in 1,250 files), times
# tarvo_kit build -j 1 and -j 2 against tar -cjf of the same tree, and checks
# that -j 1 and -j 2 write the same bytes.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
work=/var/tmp/tarvo-bench
rounds=3
while [ $# -gt 0 ]; do
    case $1 in
        --rounds) rounds=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        *) echo "usage: $0 [--rounds N] [--work DIR]" >&2; exit 2 ;;
    esac
done
bash "$src/bench/run.sh" --work "$work" --reuse --stage-only
build=$src/build-bench
out=$work/kitbuild
mkdir -p "$out"

usecs() { local t=$EPOCHREALTIME; echo "${t/./}"; }
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
timed() {  # timed command... : wall time in µs, output flushed to disk
    local t0 t1
    t0=$(usecs)
    "$@" >/dev/null
    sync
    t1=$(usecs)
    echo $((t1 - t0))
}

find "$work/stage" -type f -exec cat {} + >/dev/null
declare -a t1 t2 tt
for ((r = 1; r <= rounds; r++)); do
    rm -f "$out"/*
    t1+=("$(timed "$build/tarvo_kit" build -j 1 --program "$build/tarvo_setup" --manifest "$work/manifest" --out "$out/kit.j1")")
    t2+=("$(timed "$build/tarvo_kit" build -j 2 --program "$build/tarvo_setup" --manifest "$work/manifest" --out "$out/kit.j2")")
    tt+=("$(timed tar -C "$work/stage" -cjf "$out/tree.tar.bz2" TARVO5)")
    cmp -s "$out/kit.j1" "$out/kit.j2" || { echo "bench: -j 1 and -j 2 wrote different kits" >&2; exit 1; }
    echo "   round $r: -j 1 ${t1[-1]} us, -j 2 ${t2[-1]} us, tar -cjf ${tt[-1]} us"
done
a=$(median "${t1[@]}") b=$(median "${t2[@]}") c=$(median "${tt[@]}")
awk -v a="$a" -v b="$b" -v c="$c" -v k="$(stat -c %s "$out/kit.j2")" -v t="$(stat -c %s "$out/tree.tar.bz2")" \
    -v n="$(grep -c . "$work/manifest")" -v rounds="$rounds" -v la="$(cut -d' ' -f1-3 /proc/loadavg)" \
    'BEGIN {
    printf "\n%d files; kit %.1f MB, tar.bz2 %.1f MB; median of %d rounds; load average %s\n", n, k / 1e6, t / 1e6, rounds, la
    printf "  tarvo_kit build -j 1   %8.3f s\n", a / 1e6
    printf "  tarvo_kit build -j 2   %8.3f s   -j 1 / -j 2 = %.2f   (target >= 1.8)  %s\n", b / 1e6, a / b, a / b >= 1.8 ? "ok" : "MISSED"
    printf "  tar -cjf               %8.3f s   tar / -j 2 = %.2f\n", c / 1e6, c / b
    printf "  -j 1 and -j 2 kits identical\n"
}'
rm -rf "$out"
