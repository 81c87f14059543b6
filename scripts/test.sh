#!/bin/bash
# Builds everything and runs the whole suite: plain, then under AddressSanitizer and
# UndefinedBehaviorSanitizer, plus shellcheck of the profile utility and a lint of the manual
# pages, then the whole-kit tests against the release kits of every target, and every fuzz
# target for about 15 seconds (clang's libFuzzer, with both sanitizers).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_packages g++ make cmake libbz2-dev libgtest-dev bzip2 shellcheck tcsh util-linux coreutils mawk gawk strace clang mandoc man-db ansible-core python3
need_ppc64le
need_s390x
jobs=$(nproc)

mandoc -Tlint man/*.[18]
echo "mandoc: the manual pages are clean"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
# The profile utility as the installer carries it, with its awk programs in.
shellcheck -s sh build/qzprofile
echo "shellcheck: build/qzprofile is clean"
(cd build && ctest -j"$jobs" --output-on-failure)

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTARVO_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest -j"$jobs" --output-on-failure)

# The release kits: the ppc64le kit through the whole-kit tests under qemu-user,
# the big-endian s390x kit through the lock and a whole cycle, and the x86-64
# kit in a root that holds nothing it could lean on.
bash scripts/release.sh x86_64
bash scripts/release.sh ppc64le
bash scripts/release.sh s390x
# The release files: each kit named by the version it carries, all in SHA256SUMS.
version=$(build/tarvo_kit --version | cut -d' ' -f2)
(cd dist && sha256sum --quiet -c SHA256SUMS && for t in x86_64 ppc64le s390x; do
    grep -qx "[0-9a-f]\{64\}  tarvo_installer-$version\.$t\.bin" SHA256SUMS; done)
echo "dist: the kits of version $version match SHA256SUMS"
release_test() {  # release_test TARGET SCRIPT [RUNNER]
    local log
    log=$(mktemp)
    if TARVO_BUILD=$PWD/build-release-$1 TARVO_SRC=$PWD TARVO_RUNNER=${3:-} \
        TARVO_KIT_TOOL=$PWD/build-release-x86_64/tarvo_kit tests/sandbox.sh bash "$PWD/$2" >"$log" 2>&1; then
        echo "$1 $2: $(tail -n 1 "$log")"
        rm -f "$log"
    else
        cat "$log"; rm -f "$log"
        echo "$1 $2: FAILED" >&2
        return 1
    fi
}
for t in cmdline cycle install remove; do
    release_test ppc64le "tests/e2e/test_$t.sh" qemu-ppc64le
done
for t in cmdline cycle; do
    release_test s390x "tests/e2e/test_$t.sh" qemu-s390x
done
release_test x86_64 tests/e2e/target_bare_root.sh

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTARVO_FUZZ=ON -DTARVO_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target fuzz_targets
tests/fuzz/run.sh build-fuzz
