#!/bin/bash
# The installed uninstaller, a kit started through PATH, an upgrade: a cycle that leaves the machine as it was.
. "$(dirname "$0")/lib.sh"
machine_state() { tree_state /opt; tree_state /etc; tree_state "$HOME"; }
before=$(machine_state)

# env=all reaches login shells; the installed uninstaller, from anywhere, removes all and installs nothing.
kit_ok install caller=APP1 env=all
for sh in bash dash tcsh; do check "$sh -l sees the variables" test "$(login_vars "$sh")" = "$VALUES"; done
mkdir -p /tmp/elsewhere && cd /tmp/elsewhere
run_kit "$R/uninstaller" install caller=X verbose
expect_rc 3 "uninstaller refuses install"
expect_contains "$ERR" "Usage: uninstaller <install|remove> caller=<CallerID> [options...]"
expect_contains $LOG "Install unsuccessful, return value is 3"
run_kit "$R/uninstaller" remove caller=APP1 env=all
expect_rc 0 "installed uninstaller removes"
expect_absent /opt/QZ /etc/profile.QZ
cd / && rmdir /tmp/elsewhere

# Upgrade from an older recorded version by a second caller: placed again, obsolete files deleted.
# The first install is by a kit started through PATH, which still finds its payload (a runner needs a path).
k=$KIT; [ -n "$RUN" ] || { mkdir -p /tmp/bin && cp "$KIT" /tmp/bin/kit_on_path && k=kit_on_path; }
PATH=/tmp/bin:$PATH run_kit "$k" install caller=APP1 env=all
expect_rc 0 "install by $k"
sed -i 's/^CurrentVersion .*/CurrentVersion 5.2.3/' "$R/.installdb"
touch "$R/lib/libcryptocme.sig" "$R/lib/libccme_base.so" "$R/lib/libccme_base.so.1"
kit_ok install caller=APP2 env=all
expect_absent "$R/lib/libcryptocme.sig" "$R/lib/libccme_base.so"
expect_present "$R/lib/libccme_base.so.1" && rm "$R/lib/libccme_base.so.1"
expect_db "CurrentVersion 5.2.4" "APP1 5.2.4" "APP2 5.2.4"
kit_ok remove caller=APP1 env=all
kit_ok remove caller=APP2 env=all
rm -f /etc/*.vornbackup "$HOME/.profile.vornbackup" $LOG $OUT $ERR
after=$(machine_state)
check "machine as it was, but for login-file backups: $(diff <(echo "$before") <(echo "$after"))" test "$after" = "$before"
finish
