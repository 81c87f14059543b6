#!/bin/bash
# What publishing the variables costs: the median wall time of a first install and of its forced removal with
# env=all against env=none, and the processes each starts (the installer and every run of the profile utility,
# counted with strace on a fresh machine), per kit. The kits take turns in every round. Run by hand, as root, on a
# quiet machine; it is not part of the test suite.
#   bash bench/profile_env.sh [--rounds N] KIT...
set -eu
if [ "${TARVO_SANDBOX:-}" != 1 ]; then
    exec "$(dirname "$0")/../tests/sandbox.sh" bash "$(realpath "$0")" "$@"
fi
rounds=11
if [ "${1:-}" = --rounds ]; then rounds=$2; shift 2; fi
mkdir /tmp/etc && cp -a /etc/. /tmp/etc/
fresh() { rm -f /etc/profile.QZ /etc/csh_login.QZ /etc/*.vornbackup && cp -a /tmp/etc/profile /tmp/etc/csh.login /etc/; }
processes() { strace -f -qq -e trace=execve -e signal=none -o /tmp/execs "$@" >/dev/null 2>&1; grep -c 'execve.*= 0$' /tmp/execs; }
timed() {  # appends the wall time in microseconds to the variable named $1
    local t
    t=$(date +%s%N)
    "${@:2}" >/dev/null 2>&1
    eval "$1=\"\${$1:-} $((($(date +%s%N) - t) / 1000))\""
}
median_ms() { tr ' ' '\n' | sed '/^$/d' | sort -n | awk '{ v[NR] = $1 } END { printf "%.1f", v[int((NR + 1) / 2)] / 1000 }'; }
k=0
for kit in "$@"; do
    k=$((k + 1))
    for env in none all; do
        fresh
        eval "p_${k}_$env=\"\$(processes \"\$kit\" install caller=BENCH env=\$env) \$(processes \"\$kit\" forceremove caller=BENCH env=\$env)\""
    done
done
for _ in $(seq "$rounds"); do
    k=0
    for kit in "$@"; do
        k=$((k + 1))
        for env in none all; do
            fresh
            timed "i_${k}_$env" "$kit" install caller=BENCH env=$env
            timed "r_${k}_$env" "$kit" forceremove caller=BENCH env=$env
        done
    done
done
k=0
for kit in "$@"; do
    k=$((k + 1))
    echo "$kit"
    for env in none all; do
        eval "set -- \$p_${k}_$env; i=\$i_${k}_$env r=\$r_${k}_$env"
        printf '  env=%-4s  install %7s ms, %3d processes;  forceremove %7s ms, %3d processes\n' "$env" \
            "$(median_ms <<<"$i")" "$1" "$(median_ms <<<"$r")" "$2"
    done
done
