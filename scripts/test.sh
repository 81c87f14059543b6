#!/bin/bash
# Builds everything and runs the whole suite: plain, then under AddressSanitizer and
# UndefinedBehaviorSanitizer, plus shellcheck of the profile utility and a lint of the manual
# pages, then every fuzz target for about 15 seconds (clang's libFuzzer, with both sanitizers).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_packages g++ make cmake libbz2-dev libgtest-dev bzip2 shellcheck tcsh util-linux clang mandoc man-db ansible-core
jobs=$(nproc)

shellcheck -s sh setup/qzprofile.sh
echo "shellcheck: setup/qzprofile.sh is clean"
mandoc -Tlint man/*.[18]
echo "mandoc: the manual pages are clean"

need_packages strace  # the fault-injection test runs the installer under it
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest -j"$jobs" --output-on-failure)

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTARVO_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest -j"$jobs" --output-on-failure)

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTARVO_FUZZ=ON -DTARVO_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target fuzz_targets
tests/fuzz/run.sh build-fuzz
