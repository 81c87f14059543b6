#!/bin/bash
# The command line, console and log routing, discovery reports and the single-instance lock.
. "$(dirname "$0")/lib.sh"
USAGE="Usage: tarvo_installer.bin <install|remove> caller=<CallerID> [options...]"

kit_fails
expect_file "$OUT" "[TARVO]  Number of arguments are not sufficient "$'\n'
expect_file "$ERR" ""
expect_contains $LOG "$USAGE"
expect_lacks $LOG "unsuccessful"

# Rejections: the message and the usage text reach the log, the console stays quiet.
while IFS='|' read -r msg args; do
    eval "run_kit \"\$KIT\" $args"
    expect_rc 3 "$args"
    expect_contains $LOG "$msg" "                      discover must be the last option if used."
    check "quiet rejection of $args prints nothing" test ! -s "$OUT" -a ! -s "$ERR"
done <<'EOF_REJECT'
Discover must be the last option |discover install caller=app
Caller should not start or end with space|install "caller= app"
Caller contains non supported characters |install caller=app!
Parameter expected for caller|install callerX
Parameter expected for instdir|install caller=app instdir=
Invalid parameter for env|install caller=app env=USER
Environment variable setting mode may be specified only once|install caller=app env=none env=user
Unexpected command-line parameter: Verbose|install caller=app Verbose
Installation mode not specified|caller=app
CallerID not specified|install
EOF_REJECT
expect_contains $LOG "Install unsuccessful, return value is 3"
kit_fails verbose remove caller=app remove
expect_contains "$ERR" "[TARVO] Installation mode may be specified only once" "[TARVO] $USAGE" "[TARVO] Remove unsuccessful, return value is 3"

# install ... discover: the report, then a quiet install.
kit_ok install caller=APP1 env=all discover
expect_file "$OUT" $'[TARVO] Unable to discover TARVO installation \n'
# A verbose install: console and log carry the same lines.
kit_ok install caller=APP2 env=all verbose
expect_contains "$OUT" "[TARVO] Parameters: mode=install, caller=APP2, instdir=, env=all, verbose=true" \
    "[TARVO] This installer contains TARVO Version 5.2.4" "[TARVO] TARVO Install Successful, return Value is 0"
check "log equals console without prefixes" test "$(sed 's/^\[TARVO\] //' "$OUT")" = "$(cat $LOG)"
# The global installation, from the shared profile files.
kit_ok discover
expect_file "$OUT" "[TARVO] -----------Starting Discovery-----------

[TARVO] Found global installation of TARVO in /opt/QZ/SharedComponents/TARVO.
[TARVO] Found & Opened .installdb
[TARVO] CurrentVersion 5.2.4 
[TARVO] Existing installations will be displayed as
[TARVO] caller Installed Version
[TARVO] APP1 5.2.4 
[TARVO] APP2 5.2.4 
[TARVO] -----------Discovery Complete-----------

"
expect_no_leftovers
# A non-global one, from the process environment: an empty line ends the list; one line, no header.
O=/tmp/other/TARVO/TARVO5/Linux/ppc64/64
mkdir -p $O && rm /etc/profile.QZ
printf 'CurrentVersion 5.2.4\nX1 5.2.4\n\nX2 5.2.4\n' > $O/.installdb
QZSHCOMP=/tmp/other kit_ok discover
expect_contains "$OUT" "[TARVO] Found non-global installation of TARVO in /tmp/other/TARVO." "[TARVO] X1 5.2.4 "
expect_lacks "$OUT" "X2"
printf 'CurrentVersion 5.2.4\n' > $O/.installdb
QZSHCOMP=/tmp/other kit_ok discover
expect_contains "$OUT" "[TARVO] CurrentVersion 5.2.4 "
expect_lacks "$OUT" "caller Installed Version"

# A second process while a live one holds the lock: status 3 after about three seconds, lock and log kept;
# the lock of a dead process is taken over at once.
timed() { local t0; t0=$(date +%s%N); "$@"; MS=$((($(date +%s%N) - t0) / 1000000)); }
sleep 60 & holder=$!
hold_lock "$holder"
echo "running run's log" > $LOG
timed kit_fails install caller=APP2 verbose
check "refused after about three seconds ($MS ms)" test "$MS" -ge 2900 -a "$MS" -lt 6000
expect_present $LOCK
expect_contains $LOG "running run's log" "This installer application is already running in another process." "Lock file: $LOCK"
kill "$holder"; wait "$holder" 2>/dev/null
timed kit_ok install caller=APP2
check "no wait for a stale lock ($MS ms)" test "$MS" -lt 1500
expect_no_leftovers
finish
