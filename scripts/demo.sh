#!/bin/bash
# Builds everything (the test build and the release kit for this machine) and installs the
# release kit here for the caller DEMO.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_packages g++ make cmake libbz2-dev libgtest-dev bzip2
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
kit=$(bash scripts/release.sh x86_64 | sed -n 's/: [0-9]* bytes$//p')
"$kit" install caller=DEMO verbose
