#!/bin/bash
# A hostile user: things planted at the fixed /tmp names.
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

finish
