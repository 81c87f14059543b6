#!/bin/bash
# Builds everything and runs the whole suite: plain, then under AddressSanitizer and
# UndefinedBehaviorSanitizer, plus shellcheck of the profile utility.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_packages g++ make cmake libbz2-dev libgtest-dev bzip2 shellcheck tcsh util-linux mawk gawk strace python3
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
# The profile utility as the installer carries it, with its awk programs in.
shellcheck -s sh build/qzprofile
echo "shellcheck: build/qzprofile is clean"
(cd build && ctest -j"$jobs" --output-on-failure)

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTARVO_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest -j"$jobs" --output-on-failure)
