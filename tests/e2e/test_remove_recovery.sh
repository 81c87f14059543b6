#!/bin/bash
# Lack of memory never leaves a removal stuck.
. "$(dirname "$0")/lib.sh"
R=$DEFAULT_RECORDS

fresh() {
    local c
    rm -rf /opt/QZ /tmp/tarvo_install.log
    for c in "$@"; do run_kit "$KIT" install caller="$c"; expect_rc 0 "install for $c"; done
}

# Out of memory ends the run like any failure. (The sanitizers cannot run under a memory limit.)
if ! ldd "$KIT" 2>/dev/null | grep -q libasan; then
    fresh APP1
    truncate -s 1G "$R/files.dat"
    RC=0
    (ulimit -v 262144 && exec "$KIT" remove caller=APP1) >"$OUT" 2>"$ERR" || RC=$?
    expect_rc 3 "removal out of memory"
    expect_contains /tmp/tarvo_install.log "Out of memory"
    expect_contains /tmp/tarvo_install.log "Remove unsuccessful, return value is 3"
    expect_no_leftovers
fi

finish
