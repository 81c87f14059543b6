#!/bin/bash
# A hostile user and hostile directory names: things planted at the fixed /tmp names,
# shell code in the published directory, a $HOME/.profile that cannot be read.
. "$(dirname "$0")/lib.sh"
LOCK=/tmp/.QZ_TARVO_Installer.lock LOG=/tmp/tarvo_install.log
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
bounded_run() { run_kit timeout 20 "$@"; }

# FIFOs and hard links planted at the lock and the log by an unprivileged user. The log is
# only reopened without removal by a run that is refused, so those cases hold the lock.
sleep 60 &
holder=$!
hold_lock() { printf "$(printf '\\%03o' $((holder & 255)) $((holder >> 8 & 255)) $((holder >> 16 & 255)) 0)" >$LOCK; }
for case in "$LOCK fifo 0" "$LOCK link 0" "$LOG fifo 3" "$LOG link 3"; do
    read -r name kind want <<<"$case"
    rm -rf /opt/QZ $LOCK $LOG /tmp/victim
    as_nobody sh -c 'echo keep >/tmp/victim'
    [ "$name" = $LOG ] && hold_lock
    if [ "$kind" = fifo ]; then as_nobody mkfifo "$name"; else as_nobody ln /tmp/victim "$name"; fi
    bounded_run "$KIT" install caller=APP1
    expect_rc "$want" "$kind at $name"
    expect_file /tmp/victim $'keep\n'
    [ "$name" = $LOG ] || expect_absent $LOCK
done
kill "$holder"; wait "$holder" 2>/dev/null

# Directory names that are shell code: a login shell reads the very directory and runs nothing,
# and a forced removal takes out exactly the lines that were written.
code='b`touch /tmp/ran1`"q\w$(touch /tmp/ran2)$HOME'
while IFS='|' read -r how root; do
    rm -rf /opt/* /tmp/ran*
    printf 'PS1=x\n' >"$HOME/.profile"
    case $how in
    instdir) set -- "instdir=$root" ;;
    QZSHCOMP) set -- ; export QZSHCOMP=$root ;;
    QZLIB) set -- ; export QZLIB=$root/lib ;;
    esac
    bounded_run "$KIT" install caller=APP1 env=user "$@"
    expect_rc 0 "install with $how $root"
    for sh in bash dash; do
        got=$(env -u QZSHCOMP -u QZLIB "$sh" -l -c 'printf "%s|%s|%s" "$QZSHCOMP" "$QZLIB" "$QZBIN"' </dev/null)
        check "$sh -l reads $root" test "$got" = "$root|$root/lib|$root/bin"
    done
    check "nothing ran for $root" test -z "$(ls /tmp/ran* 2>/dev/null)"
    bounded_run "$KIT" forceremove caller=APP1 env=user "$@"
    expect_rc 0 "forceremove with $how $root"
    expect_file "$HOME/.profile" $'PS1=x\n'
    unset QZSHCOMP QZLIB
done <<EOF
instdir|/opt/$code
QZSHCOMP|/opt/c$code
QZLIB|/opt/d$code
EOF

# A $HOME/.profile that exists but cannot be read (root without the right to override
# permissions, as on an NFS home with root squashed) is left as it was.
rm -rf /opt/QZ
printf 'PS1=x\nmine\n' >"$HOME/.profile"
chmod 0200 "$HOME/.profile"
bounded_run setpriv --inh-caps=-all --bounding-set=-dac_override,-dac_read_search "$KIT" install caller=APP1 env=user
expect_rc 3 "install with an unreadable profile"
expect_contains $LOG "Unable to read $HOME/.profile, environment variable setting failed"
expect_file "$HOME/.profile" $'PS1=x\nmine\n'

finish
