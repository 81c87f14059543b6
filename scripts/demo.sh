#!/bin/bash
# Builds everything (the test build and the release kit for this machine) and installs the
# release kit here for the caller DEMO.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_packages g++ make cmake libbz2-dev libgtest-dev bzip2
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
bash scripts/release.sh x86_64
dist/tarvo_installer.x86_64.bin install caller=DEMO verbose
