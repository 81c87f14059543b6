#!/bin/bash
# Size and install time of whole kits, run by hand as root (never part of ctest):
#   bench/demo_kit.sh KIT...      e.g. dist/tarvo_installer-5.2.4.x86_64.bin build/tarvo_installer.bin
# For each kit: its size and the median wall time of eleven installs with env=none
# into the sandbox's empty /opt, the kits taking turns so that they share the machine's mood.
set -euo pipefail
if [ "${TARVO_SANDBOX:-}" != 1 ]; then
    kits=()
    for k in "$@"; do kits+=("$(realpath "$k")"); done
    exec "$(dirname "$0")/../tests/sandbox.sh" bash "$(realpath "$0")" "${kits[@]}"
fi
[ $# -gt 0 ] || { echo "usage: $0 KIT..." >&2; exit 2; }

usecs() { local t=$EPOCHREALTIME; echo "${t/./}"; }
declare -A times
for ((r = 1; r <= 11; r++)); do
    for k in "$@"; do
        rm -rf /opt/QZ /tmp/tarvo_install.log
        cat "$k" >/dev/null
        t0=$(usecs)
        "$k" install caller=BENCH env=none >/dev/null 2>&1 || { echo "bench: $k failed" >&2; exit 1; }
        t1=$(usecs)
        times[$k]="${times[$k]:-} $((t1 - t0))"
    done
done
for k in "$@"; do
    # shellcheck disable=SC2086 # the list of times is meant to split
    median=$(printf '%s\n' ${times[$k]} | sort -n | sed -n 6p)
    printf '%-50s %8d bytes   install %6.1f ms (median of 11)\n' "$k" "$(stat -c %s "$k")" "$(echo "$median / 1000" | bc -l)"
done
echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"
