#!/bin/bash
# The installed uninstaller, and a full cycle that leaves the machine as it was.
. "$(dirname "$0")/lib.sh"
R=$DEFAULT_DIR/TARVO5/Linux/ppc64/64

machine_state() { tree_state /opt; tree_state /etc; tree_state "$HOME"; }
before=$(machine_state)

# The installed uninstaller removes everything the kit installed, from any working directory.
run_kit "$KIT" install caller=APP1 env=all
expect_rc 0 "install"
mkdir -p /tmp/elsewhere && cd /tmp/elsewhere
cp "$R/uninstaller" /tmp/uninstaller.copy
run_kit "$R/uninstaller" install caller=X verbose
expect_rc 3 "uninstaller refuses install"
expect_contains "$ERR" "Usage: uninstaller <install|remove> caller=<CallerID> [options...]"
expect_contains /tmp/tarvo_install.log "Install unsuccessful, return value is 3"
run_kit "$R/uninstaller" remove caller=APP1 env=all
expect_rc 0 "installed uninstaller removes"
expect_absent /opt/QZ
expect_absent /etc/profile.QZ
cd /

# Started through PATH, the kit still finds its payload (a runner needs a path).
if [ -z "$RUN" ]; then
    mkdir -p /tmp/bin && cp "$KIT" /tmp/bin/tarvo_kit_on_path
    PATH=/tmp/bin:$PATH run_kit tarvo_kit_on_path install caller=PATHAPP
    expect_rc 0 "kit started through PATH"
    expect_installed "$KIT" "$DEFAULT_DIR"
    PATH=/tmp/bin:$PATH run_kit tarvo_kit_on_path remove caller=PATHAPP
    expect_rc 0 "removal through PATH"
    rm -rf /tmp/bin
fi

# Install by two callers, upgrade from an older recorded version, removal by both.
run_kit "$KIT" install caller=APP1 env=all
expect_rc 0 "cycle install 1"
sed -i 's/^CurrentVersion .*/CurrentVersion 5.2.3/' "$R/.installdb"
: > "$R/lib/libcryptocme.sig"
: > "$R/lib/libccme_base.so"
: > "$R/lib/libccme_base.so.1"
before_upgrade=$(stat -c %i "$R/lib/libtarvo.so")
run_kit "$KIT" install caller=APP2 env=all
expect_rc 0 "upgrade by the second caller"
check "payload placed again on upgrade" test "$(stat -c %i "$R/lib/libtarvo.so")" != "$before_upgrade"
expect_absent "$R/lib/libcryptocme.sig"
expect_absent "$R/lib/libccme_base.so"
expect_present "$R/lib/libccme_base.so.1"
rm "$R/lib/libccme_base.so.1"
expect_file "$R/.installdb" $'CurrentVersion 5.2.4\nAPP1 5.2.4\nAPP2 5.2.4\n'
run_kit "$KIT" remove caller=APP1 env=all
expect_rc 0 "cycle remove 1"
run_kit "$KIT" remove caller=APP2 env=all
expect_rc 0 "cycle remove 2"
rm -f /etc/profile.vornbackup /etc/csh.login.vornbackup /etc/cshrc.vornbackup "$HOME/.profile.vornbackup"
rm -f /tmp/tarvo_install.log /tmp/uninstaller.copy /tmp/.t_out /tmp/.t_err; rmdir /tmp/elsewhere
after=$(machine_state)
check "machine as it was (apart from login-file backups)" test "$after" = "$before"
[ "$after" = "$before" ] || diff <(echo "$before") <(echo "$after") >&2

finish
