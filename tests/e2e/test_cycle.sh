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

# Started through PATH, the kit still finds its payload (a runner needs a path).
if [ -z "$RUN" ]; then
    mkdir -p /tmp/bin && cp "$KIT" /tmp/bin/kit_on_path
    PATH=/tmp/bin:$PATH run_kit kit_on_path install caller=PATHAPP
    expect_rc 0 "kit started through PATH"
    expect_installed "$KIT" "$DEFAULT_DIR"
    PATH=/tmp/bin:$PATH run_kit kit_on_path remove caller=PATHAPP
    expect_rc 0 "removal through PATH"
    rm -rf /tmp/bin
fi

# Upgrade from an older recorded version by a second caller: placed again, obsolete files deleted.
kit_ok install caller=APP1 env=all
sed -i 's/^CurrentVersion .*/CurrentVersion 5.2.3/' "$R/.installdb"
touch "$R/lib/libcryptocme.sig" "$R/lib/libccme_base.so" "$R/lib/libccme_base.so.1"
inode=$(stat -c %i "$R/lib/libtarvo.so")
kit_ok install caller=APP2 env=all
check "payload placed again on upgrade" test "$(stat -c %i "$R/lib/libtarvo.so")" != "$inode"
expect_absent "$R/lib/libcryptocme.sig" "$R/lib/libccme_base.so"
expect_present "$R/lib/libccme_base.so.1" && rm "$R/lib/libccme_base.so.1"
expect_db "CurrentVersion 5.2.4" "APP1 5.2.4" "APP2 5.2.4"
kit_ok remove caller=APP1 env=all
kit_ok remove caller=APP2 env=all
rm -f /etc/*.vornbackup "$HOME/.profile.vornbackup" $LOG $OUT $ERR
after=$(machine_state)
check "machine as it was (apart from login-file backups)" test "$after" = "$before"
[ "$after" = "$before" ] || diff <(echo "$before") <(echo "$after") >&2
finish
