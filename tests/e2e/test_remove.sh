#!/bin/bash
# Whole-kit removals: dependants, the last one out, files that are not ours, env modes.
. "$(dirname "$0")/lib.sh"
R=$DEFAULT_DIR/TARVO5/Linux/ppc64/64

install_for() {  # install_for CALLER... [-- extra args]
    local c
    for c in "$@"; do run_kit "$KIT" install caller="$c"; expect_rc 0 "install for $c"; done
}

# Nothing installed.
run_kit "$KIT" remove caller=APP1
expect_rc 3 "remove with nothing installed"
expect_contains /tmp/tarvo_install.log "Removal requested by APP1, but there appears to be no installation."
expect_contains /tmp/tarvo_install.log "Remove unsuccessful, return value is 3"

# Two callers, one leaves: nothing removed.
install_for APP1 APP2
run_kit "$KIT" remove caller=APP1 verbose
expect_rc 0 "first of two leaves"
expect_contains "$OUT" "[TARVO] There are 1 remaining dependencies, so nothing will be removed."
expect_file "$R/.installdb" $'CurrentVersion 5.2.4\nAPP2 5.2.4\n'
expect_installed "$KIT" "$DEFAULT_DIR"

# An unregistered caller.
run_kit "$KIT" remove caller=NOBODY
expect_rc 3 "unregistered caller"
expect_contains /tmp/tarvo_install.log "Removal requested by NOBODY which is not in dependency list."

# forceremove while another dependant remains: only the caller's line goes.
install_for APP3
run_kit "$KIT" forceremove caller=APP3
expect_rc 0 "forceremove with another dependant"
expect_file "$R/.installdb" $'CurrentVersion 5.2.4\nAPP2 5.2.4\n'

# The last one leaves: everything goes, /opt/QZ included.
run_kit "$KIT" remove caller=APP2 veryverbose
expect_rc 0 "last caller leaves"
expect_contains "$OUT" "[TARVO] No remaining dependencies so TARVO will be removed."
expect_absent /opt/QZ
expect_no_leftovers

# A user file in .../64/lib: that directory, its parents and the records stay, the others go; once
# the file is gone, any caller finishes the removal.
install_for APP1
echo mine > "$R/lib/user.txt"
run_kit "$KIT" remove caller=APP1
expect_rc 3 "user file in lib"
expect_contains /tmp/tarvo_install.log "Failed to remove $R/lib: Directoy not empty , must be done manually."
expect_contains /tmp/tarvo_install.log "Failed to remove $R: Directoy not empty , must be done manually."
expect_absent "$R/tarvo"
expect_present "$R/lib/user.txt"
expect_absent "$R/lib/libtarvo.so"
expect_file "$R/.installdb" $'CurrentVersion 5.2.4\n'
rm "$R/lib/user.txt"
run_kit "$KIT" remove caller=LATE
expect_rc 0 "rerun once the user file is gone"
expect_absent /opt/QZ

# A second product's file in the install directory: non-fatal, success.
install_for APP1
echo other > "$DEFAULT_DIR/other_product.cfg"
run_kit "$KIT" remove caller=APP1 verbose
expect_rc 0 "second product's file"
expect_contains /tmp/tarvo_install.log "Failed to remove directory $DEFAULT_DIR/, may be other installation OR user files are present. continuing considering it as non-fatal. Please check them manually"
expect_present "$DEFAULT_DIR/other_product.cfg"
expect_absent "$DEFAULT_DIR/TARVO5"
rm -rf /opt/QZ

# A legacy library blocks the final removal; the caller's line is already gone.
install_for APP1
: > "$DEFAULT_DIR/liborvan2.so"
run_kit "$KIT" remove caller=APP1
expect_rc 3 "legacy library present"
expect_contains /tmp/tarvo_install.log "Found file $DEFAULT_DIR/liborvan2.so, which indicates that a legacy version of ORVAN has been installed and may still be in use. Removal will not continue."
expect_file "$R/.installdb" $'CurrentVersion 5.2.4\n'
expect_installed "$KIT" "$DEFAULT_DIR"
rm -rf /opt/QZ

# forceremove with env=user takes exactly the recorded lines out of $HOME/.profile.
printf 'PS1=x\nQZLIB="/elsewhere"; export QZLIB\n' > "$HOME/.profile"
run_kit "$KIT" install caller=U1 env=user
expect_rc 0 "env=user install"
echo 'alias ll=ls' >> "$HOME/.profile"
run_kit "$KIT" remove caller=U1 env=user
expect_rc 0 "plain remove keeps the profile"
# The plain remove took the files; reinstall to test the forced one.
cp "$HOME/.profile" /tmp/profile.kept
run_kit "$KIT" install caller=U1 env=user
run_kit "$KIT" forceremove caller=U1 env=user
expect_rc 0 "forceremove env=user"
expect_file "$HOME/.profile" $'PS1=x\nQZLIB="/elsewhere"; export QZLIB\nalias ll=ls\n'
expect_absent /opt/QZ

# The last removal with env=all leaves no shared profile file and no source line.
rm -f "$HOME/.profile"
cp /etc/profile /tmp/profile.orig
run_kit "$KIT" install caller=A1 env=all
expect_rc 0 "env=all install"
expect_present /etc/profile.QZ
run_kit "$KIT" remove caller=A1 env=all
expect_rc 0 "env=all removal"
expect_absent /etc/profile.QZ
expect_absent /etc/csh_login.QZ
expect_lacks /etc/profile "/etc/profile.QZ"
check "/etc/profile back to its content" cmp -s /etc/profile /tmp/profile.orig
for sh in bash dash; do
    got=$(env -i HOME="$HOME" PATH=/usr/bin:/bin "$sh" -l -c 'echo "$QZSHCOMP$QZLIB$QZBIN"' 2>/dev/null)
    check "$sh -l sees no variable after removal ($got)" test -z "$got"
done
if command -v tcsh >/dev/null; then
    got=$(env -i HOME="$HOME" PATH=/usr/bin:/bin tcsh -l <<<'echo "${?QZSHCOMP}${?QZLIB}${?QZBIN}"' 2>/dev/null | tail -n 1)
    check "tcsh -l sees no variable after removal ($got)" test "$got" = 000
fi

finish
