#!/bin/bash
# The kit and the installed uninstaller: a cycle that leaves the machine as it was.
. "$(dirname "$0")/lib.sh"
machine_state() { tree_state /opt; tree_state /etc; tree_state "$HOME"; }
before=$(machine_state)

kit_ok install caller=APP1 env=all
kit_ok install caller=APP2 env=all
for sh in bash dash tcsh; do check "$sh -l sees the variables" test "$(login_vars "$sh")" = "$VALUES"; done
mkdir -p /tmp/elsewhere && cd /tmp/elsewhere
expect_run 3 "$R/uninstaller" install caller=X verbose
expect_contains "$ERR" "Usage: uninstaller <install|remove> caller=<CallerID> [options...]"
for c in APP1 APP2; do expect_run 0 "$R/uninstaller" remove caller=$c env=all; done
cd / && rm -f /etc/*.vornbackup "$HOME/.profile.vornbackup" $LOG $OUT $ERR
after=$(machine_state)
check "machine as it was, but for login-file backups: $(diff <(echo "$before") <(echo "$after"))" test "$after" = "$before"
finish
