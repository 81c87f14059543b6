#!/bin/bash
# The measuring half of bench/run.sh; runs inside tests/sandbox.sh.
#   measure.sh BUILD WORK ROUNDS
# Each round times, back to back: (a) the installer, (b) the libbz2 floor, (c) tar -xjf,
# each followed by sync, each into an empty directory, with its input already in the page cache.
set -euo pipefail
[ "${TARVO_SANDBOX:-}" = 1 ] || { echo "measure.sh: run through tests/sandbox.sh" >&2; exit 1; }

build=$1 work=$2 rounds=$3
kit=$work/kit.bin tiny=$work/tiny.bin tarball=$work/tree.tar.bz2 target=$work/target
rss=$work/rss

usecs() { local t=$EPOCHREALTIME; echo "${t/./}"; }

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Runs one measured command under /usr/bin/time; prints its wall time (command + sync) in µs.
timed() {
    local name=$1; shift
    local t0 t1
    t0=$(usecs)
    /usr/bin/time -f %M -o "$rss.$name" "$@" >"$work/out.$name" 2>&1 ||
        { echo "bench: '$*' failed:" >&2; cat "$work/out.$name" >&2; exit 1; }
    sync
    t1=$(usecs)
    echo $((t1 - t0))
}

fresh() {
    rm -rf "$target" /opt/QZ /tmp/tarvo_install.log
    mkdir -p "$target/$1"
    sync
    cat "$2" >/dev/null
}

# Compares an extracted tree with the staged one; the installer adds its records.
check_tree() {
    local root
    root=$(find "$target/$1" -maxdepth 3 -type d -name TARVO5 | head -n 1)
    if [ -z "$root" ] || ! diff -rq -x files.dat -x .installdb "$work/stage/TARVO5" "$root" >/dev/null; then
        echo "bench: tree of ($1) differs from the staged tree" >&2
        exit 1
    fi
}

declare -a ta tb tc
for ((r = 1; r <= rounds; r++)); do
    fresh a "$kit"
    v=$(timed a "$kit" install caller=BENCH "instdir=$target/a" env=none)
    ta+=("$v")
    [ "$r" = 1 ] && check_tree a
    fresh b "$kit"
    v=$(timed b "$build/bench_floor" "$kit" "$target/b")
    tb+=("$v")
    [ "$r" = 1 ] && check_tree b
    fresh c "$tarball"
    v=$(timed c tar -xjf "$tarball" -C "$target/c")
    tc+=("$v")
    [ "$r" = 1 ] && check_tree c
    echo "   round $r: a ${ta[-1]} us, b ${tb[-1]} us, c ${tc[-1]} us"
done
rss_a=$(cat "$rss.a") rss_b=$(cat "$rss.b") rss_c=$(cat "$rss.c")
rm -rf "$target"

declare -a tf
for ((r = 1; r <= 11; r++)); do
    fresh fixed "$tiny"
    t0=$(usecs)
    "$tiny" install caller=BENCH env=none >/dev/null 2>&1 || { echo "bench: tiny install failed" >&2; exit 1; }
    t1=$(usecs)
    tf+=($((t1 - t0)))
done
[ -f /opt/QZ/SharedComponents/TARVO/TARVO5/Linux/ppc64/64/uninstaller ] ||
    { echo "bench: tiny install left no tree" >&2; exit 1; }
/usr/bin/time -f %M -o "$rss.fixed" "$tiny" install caller=BENCH2 env=none >/dev/null 2>&1 || true
rss_f=$(cat "$rss.fixed")

a=$(median "${ta[@]}") b=$(median "${tb[@]}") c=$(median "${tc[@]}") f=$(median "${tf[@]}")
nfiles=$(grep -c . "$work/manifest")
bytes=$(du -sb "$work/stage" | cut -f1)
ndirs=$(find "$work/stage/TARVO5/Linux/ppc64/64" -mindepth 1 -type d | wc -l)

awk -v a="$a" -v b="$b" -v c="$c" -v f="$f" -v ra="$rss_a" -v rb="$rss_b" -v rc="$rss_c" -v rf="$rss_f" \
    -v n="$nfiles" -v by="$bytes" -v d="$ndirs" -v k="$(stat -c %s "$kit")" -v t="$(stat -c %s "$tarball")" \
    -v rounds="$rounds" 'function ok(x) { return x ? "ok" : "MISSED" }
BEGIN {
    printf "\n%d files, %.1f MB, %d directories; kit %.1f MB, tar.bz2 %.1f MB; median of %d rounds\n",
        n, by / 1e6, d, k / 1e6, t / 1e6, rounds
    printf "  (a) installer, first install   %8.3f s   peak RSS %6d KiB\n", a / 1e6, ra
    printf "  (b) floor, libbz2 only         %8.3f s   peak RSS %6d KiB\n", b / 1e6, rb
    printf "  (c) tar -xjf                   %8.3f s   peak RSS %6d KiB\n", c / 1e6, rc
    printf "  a/b  %.3f   (target <= 1.05)  %s\n", a / b, ok(a / b <= 1.05)
    printf "  a/c  %.3f   (target <= 1.0)   %s\n", a / c, ok(a / c <= 1.0)
    printf "  installer peak RSS %.2f MiB   (target < 8 MiB)  %s\n", ra / 1024, ok(ra < 8192)
    printf "  fixed cost, 7 one-byte files, env=none: %.1f ms (median of 11; peak RSS %d KiB)   (target < 15 ms)  %s\n",
        f / 1e3, rf, ok(f < 15000)
}'
