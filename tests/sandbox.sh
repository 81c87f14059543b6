#!/bin/bash
# Runs one test command where the installer's fixed paths are private:
# a mount namespace with fresh tmpfs on /tmp and /opt, a private copy of /etc
# bound over /etc, and HOME in a private folder. Nothing reaches the real machine.
set -eu

if [ "${TARVO_SANDBOX_INNER:-}" != 1 ]; then
    [ "$(id -u)" = 0 ] || { echo "sandbox.sh: needs root for a mount namespace" >&2; exit 1; }
    base=$(mktemp -d /var/tmp/tarvo-sandbox.XXXXXX)
    rc=0
    TARVO_SANDBOX_INNER=1 TARVO_SANDBOX_BASE=$base \
        unshare --mount --propagation private "$0" "$@" || rc=$?
    rmdir "$base" 2>/dev/null || rm -rf "$base"
    exit "$rc"
fi

base=$TARVO_SANDBOX_BASE
unset TARVO_SANDBOX_INNER TARVO_SANDBOX_BASE
mount -t tmpfs -o mode=0755 tarvo-sandbox "$base"
mkdir "$base/etc" "$base/home"
cp -a /etc/. "$base/etc/"
mount --bind "$base/etc" /etc
# A checkout or build below /tmp stays visible through the fresh /tmp.
keep=()
for dir in "$(cd "$(dirname "$0")/.." && pwd)" "${TARVO_BUILD:-}"; do
    case $dir in /tmp/?*) keep+=("$dir") ;; esac
done
for i in "${!keep[@]}"; do
    mkdir "$base/keep$i"
    mount --bind "${keep[$i]}" "$base/keep$i"
done
mount -t tmpfs -o mode=1777 tarvo-tmp /tmp
for i in "${!keep[@]}"; do
    mkdir -p "${keep[$i]}"
    mount --bind "$base/keep$i" "${keep[$i]}"
done
mount -t tmpfs -o mode=0755 tarvo-opt /opt
export HOME=$base/home
export TARVO_SANDBOX=1
# Variables of a real installation must not steer the tests.
unset QZSHCOMP QZLIB QZBIN ORVANHOME Update_Profile Update_User_Profile QZPROFILE_OVERRIDE QZPROFILE_RUNONCE
cd "$HOME"
exec "$@"
