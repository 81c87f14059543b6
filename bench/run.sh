#!/bin/bash
# Install benchmark, run by hand as root (never part of ctest):
#   bench/run.sh [--build DIR] [--work DIR] [--mb 200] [--files 1250] [--rounds 3] [--reuse] [--stage-only]
# Builds an optimised installer, a kit of about 200 MB of real files from /usr/lib and
# /usr/share, a tar.bz2 of the same tree and a kit of seven one-byte files, then runs
# bench/measure.sh inside tests/sandbox.sh, which prints the figures side by side.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=$src/build-bench
work=/var/tmp/tarvo-bench
mb=200
files=1250
rounds=3
reuse=0
stage_only=0
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        --mb) mb=$2; shift 2 ;;
        --files) files=$2; shift 2 ;;
        --rounds) rounds=$2; shift 2 ;;
        --reuse) reuse=1; shift ;;
        --stage-only) stage_only=1; shift ;;
        *) echo "usage: $0 [--build DIR] [--work DIR] [--mb N] [--files N] [--rounds N] [--reuse] [--stage-only]" >&2; exit 2 ;;
    esac
done
[ "$(id -u)" = 0 ] || { echo "run.sh: needs root (the sandbox uses a mount namespace)" >&2; exit 1; }

echo "== building the release programs in $build"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=MinSizeRel -DTARVO_RELEASE=ON -DTARVO_TESTS=OFF >/dev/null
cmake --build "$build" --target tarvo_setup uninstaller tarvo_kit bench_floor -j2 >/dev/null

mkdir -p "$work"
stamp="mb=$mb files=$files with uninstaller"
if [ "$reuse" = 1 ] && [ -f "$work/stage.done" ] && [ "$(cat "$work/stage.done")" = "$stamp" ]; then
    echo "== reusing the staged tree in $work/stage"
else
    echo "== choosing about $mb MB in $files files from /usr/lib and /usr/share"
    rm -rf "$work/stage" "$work/tree.tar.bz2" "$work/stage.done"
    python3 - "$work" "$mb" "$files" <<'PY'
import os, random, re, shutil, stat, sys

work, mb, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
prefix = "TARVO5/Linux/ppc64/64/"
# 8 directories with 4 subdirectories each: 40 directories below the platform directory.
dirs = []
for g in range(8):
    dirs.append("g%d" % g)
    dirs.extend("g%d/s%d" % (g, s) for s in range(4))

cands = []
for root in ("/usr/lib", "/usr/share"):
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames.sort()
        for name in sorted(filenames):
            path = os.path.join(dirpath, name)
            try:
                st = os.lstat(path)
            except OSError:
                continue
            if stat.S_ISREG(st.st_mode) and 4096 <= st.st_size <= 8 << 20 and os.access(path, os.R_OK):
                cands.append((path, st.st_size))
random.Random(20240607).shuffle(cands)

# Accept files near the average still needed, so count and size land together.
want = mb << 20
chosen, total = [], 0
for path, size in cands:
    left = count - len(chosen)
    if left == 0:
        break
    avg = (want - total) / left
    if avg <= 0:
        break
    if left == 1 or avg / 4 <= size <= avg * 4:
        chosen.append((path, size))
        total += size
if len(chosen) < count * 0.8 or total < want * 0.8:
    sys.exit("bench: not enough suitable files (%d, %d bytes)" % (len(chosen), total))

manifest = []
for i, (path, size) in enumerate(chosen):
    name = re.sub(r"[^A-Za-z0-9._+-]", "_", os.path.basename(path))[:24]
    rel = "%s%s/%04d_%s" % (prefix, dirs[i % len(dirs)], i, name)
    dest = os.path.join(work, "stage", rel)
    os.makedirs(os.path.dirname(dest), exist_ok=True)
    shutil.copyfile(path, dest)
    manifest.append((rel, dest))

# Offsets of a kit this size have at most 10 digits; the trailer allows 5 digits.
catalog = sum(len(rel) + 12 for rel, _ in manifest)
if catalog >= 99999:
    sys.exit("bench: catalog of about %d bytes would not fit the trailer" % catalog)
with open(os.path.join(work, "manifest"), "w") as out:
    for rel, dest in manifest:
        out.write("%s\t%s\n" % (rel, dest))
print("   %d files, %d bytes, %d directories" % (len(manifest), total, len(dirs)))
PY
    # Like every kit, it carries the uninstaller with its copy of the catalog.
    u=TARVO5/Linux/ppc64/64/uninstaller
    printf '%s\t%s\n' $u "$work/stage/$u" >>"$work/manifest"
    "$build/tarvo_kit" catalog-only --program "$build/uninstaller" --manifest "$work/manifest" --out "$work/stage/$u"
    echo "== compressing the tar.bz2 peer"
    tar -C "$work/stage" -cf - TARVO5 | bzip2 -9 >"$work/tree.tar.bz2"
    echo "$stamp" >"$work/stage.done"
fi
# bench/kit_build.sh needs the programs and the staged tree only.
[ "$stage_only" = 1 ] && exit 0

echo "== building the kits"
"$build/tarvo_kit" build --program "$build/tarvo_setup" --manifest "$work/manifest" --out "$work/kit.bin"
mkdir -p "$work/tiny"
: >"$work/tiny/manifest"
for rel in lib/libtarvo.so lib/libtarvo_thread_posix.so lib/libqzopenssl_crypto.so lib/libqzopenssl_ssl.so \
    tarvo/log/liblog_api.so tarvo/log/_tarvo_log.cfg uninstaller; do
    name=${rel//\//_}
    printf x >"$work/tiny/$name"
    printf 'TARVO5/Linux/ppc64/64/%s\t%s\n' "$rel" "$name" >>"$work/tiny/manifest"
done
printf x >"$work/tiny/program"
"$build/tarvo_kit" catalog-only --program "$work/tiny/program" --manifest "$work/tiny/manifest" --out "$work/tiny/uninstaller"
"$build/tarvo_kit" build --program "$build/tarvo_setup" --manifest "$work/tiny/manifest" --out "$work/tiny.bin"

"$src/tests/sandbox.sh" bash "$src/bench/measure.sh" "$build" "$work" "$rounds"
