#!/bin/bash
# Builds everything and installs the demo kit on this machine for the caller DEMO.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_packages g++ make cmake libbz2-dev libgtest-dev bzip2
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
build/tarvo_installer.bin install caller=DEMO verbose
