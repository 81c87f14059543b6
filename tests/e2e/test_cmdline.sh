#!/bin/bash
# The command line, console and log routing, and the single-instance lock, through the real kit.
. "$(dirname "$0")/lib.sh"
LOG=/tmp/tarvo_install.log

# No argument at all.
run_kit "$KIT"
expect_rc 3 "no arguments"
expect_file "$OUT" "[TARVO]  Number of arguments are not sufficient "$'\n'
expect_file "$ERR" ""
expect_contains "$LOG" "Usage: tarvo_installer.bin <install|remove> caller=<CallerID> [options...]"
expect_lacks "$LOG" "unsuccessful"

# Rejections: the message and the usage text reach the log; the console only with verbose.
reject() {  # reject "message" args...
    local msg=$1; shift
    run_kit "$KIT" "$@"
    expect_rc 3 "$*"
    expect_contains "$LOG" "$msg"
    expect_contains "$LOG" "                      discover must be the last option if used."
}
reject "Discover must be the last option " discover install caller=app
reject "Installation mode may be specified only once" remove caller=app remove
reject "Caller should not start or end with space" install "caller= app"
reject "Caller contains non supported characters " install caller=app!
reject "Parameter expected for caller" install callerX
reject "Parameter expected for instdir" install caller=app instdir=
reject "Invalid parameter for env" install caller=app env=USER
reject "Environment variable setting mode may be specified only once" install caller=app env=none env=user
reject "Unexpected command-line parameter: Verbose" install caller=app Verbose
reject "Installation mode not specified" caller=app
reject "CallerID not specified" install
check "quiet rejection prints nothing" test ! -s "$OUT" -a ! -s "$ERR"
expect_contains "$LOG" "Install unsuccessful, return value is 3"

run_kit "$KIT" verbose remove caller=app remove
expect_rc 3 "verbose rejection"
expect_contains "$ERR" "[TARVO] Installation mode may be specified only once"
expect_contains "$ERR" "[TARVO] Usage: tarvo_installer.bin <install|remove> caller=<CallerID> [options...]"
expect_contains "$ERR" "[TARVO] Remove unsuccessful, return value is 3"

# A verbose install: console and log carry the same lines.
run_kit "$KIT" install caller=APP1 verbose
expect_rc 0 "verbose install"
expect_contains "$OUT" "[TARVO] Parameters: mode=install, caller=APP1, instdir=, env=none, verbose=true"
expect_contains "$OUT" "[TARVO] This installer contains TARVO Version 5.2.4"
expect_contains "$OUT" "[TARVO] Installation directory: /opt/QZ/SharedComponents/TARVO"
expect_contains "$OUT" "[TARVO] TARVO Install Successful, return Value is 0"
check "log equals console without prefixes" test "$(sed 's/^\[TARVO\] //' "$OUT")" = "$(cat "$LOG")"

# A second process while the first holds the lock: status 3 after about three seconds, lock kept.
sleep 60 &
holder=$!
native_int32 "$holder" > /tmp/.QZ_TARVO_Installer.lock
echo "running run's log" > "$LOG"
start=$(date +%s%N)
run_kit "$KIT" install caller=APP2 verbose
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
expect_rc 3 "second instance"
check "refused after about three seconds ($elapsed ms)" test "$elapsed" -ge 2900 -a "$elapsed" -lt 6000
expect_present /tmp/.QZ_TARVO_Installer.lock
expect_contains "$LOG" "running run's log"
expect_contains "$LOG" "This installer application is already running in another process."
expect_contains "$LOG" "Lock file: /tmp/.QZ_TARVO_Installer.lock"
check "no temporary utility left" test -z "$(ls /tmp/qzprof* 2>/dev/null)"
kill "$holder"; wait "$holder" 2>/dev/null

# A lock of a dead process is taken over at once.
start=$(date +%s%N)
run_kit "$KIT" install caller=APP2
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
expect_rc 0 "stale lock taken over"
check "no wait for a stale lock ($elapsed ms)" test "$elapsed" -lt 1500
expect_absent /tmp/.QZ_TARVO_Installer.lock

finish
