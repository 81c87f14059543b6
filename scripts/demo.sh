#!/bin/bash
# Builds the release kit for this machine and installs it here for the caller DEMO.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/release.sh x86_64
dist/tarvo_installer.x86_64.bin install caller=DEMO verbose
