#!/bin/bash
# Whole-kit installs: first install, more callers, upgrade decisions, env modes, the legacy step.
. "$(dirname "$0")/lib.sh"
R=$DEFAULT_DIR/TARVO5/Linux/ppc64/64

# First install to the default directory.
run_kit "$KIT" install caller=APP1
expect_rc 0 "first install"
expect_installed "$KIT" "$DEFAULT_DIR"
expect_file "$R/files.dat" "$(files_dat_plain)"$'\n'
expect_file "$R/.installdb" $'CurrentVersion 5.2.4\nAPP1 5.2.4\n'
expect_no_leftovers
check "quiet install prints nothing" test ! -s "$OUT" -a ! -s "$ERR"
for d in /opt/QZ /opt/QZ/SharedComponents "$DEFAULT_DIR" "$R" "$R/lib" "$R/tarvo/log"; do
    check "$d is 0755" test "$(stat -c %a "$d")" = 755
done

# A second caller: nothing placed again, the caller goes last.
before=$(stat -c %i "$R/lib/libtarvo.so")
run_kit "$KIT" install caller=APP2 veryverbose
expect_rc 0 "second caller"
check "no file replaced" test "$(stat -c %i "$R/lib/libtarvo.so")" = "$before"
expect_contains /tmp/tarvo_install.log "File $R/uninstaller is present in existing installation."
expect_file "$R/.installdb" $'CurrentVersion 5.2.4\nAPP1 5.2.4\nAPP2 5.2.4\n'

# The same caller twice keeps one line.
run_kit "$KIT" install caller=APP1
expect_rc 0 "same caller again"
expect_file "$R/.installdb" $'CurrentVersion 5.2.4\nAPP1 5.2.4\nAPP2 5.2.4\n'

# One payload file missing: everything is placed again.
rm "$R/tarvo/log/_tarvo_log.cfg"
run_kit "$KIT" install caller=APP1 verbose
expect_rc 0 "reinstall after a deletion"
expect_installed "$KIT" "$DEFAULT_DIR"
check "library replaced" test "$(stat -c %i "$R/lib/libtarvo.so")" != "$before"
expect_contains "$OUT" "[TARVO] File $R/tarvo/log/_tarvo_log.cfg is not present in existing installation."
expect_no_leftovers

# A newer version installed: nothing placed, the caller still registered.
sed -i 's/^CurrentVersion .*/CurrentVersion 5.10.0/' "$R/.installdb"
rm "$R/lib/libtarvo.so"
run_kit "$KIT" install caller=APP3
expect_rc 0 "newer version installed"
expect_absent "$R/lib/libtarvo.so"
expect_contains /tmp/tarvo_install.log "Existing Version is higher than installing Version"
expect_file "$R/.installdb" $'CurrentVersion 5.10.0\nAPP1 5.2.4\nAPP2 5.2.4\nAPP3 5.2.4\n'

# An invalid recorded version: install goes on as for no version, remove refuses.
sed -i 's/^CurrentVersion .*/CurrentVersion 5.x.0/' "$R/.installdb"
run_kit "$KIT" remove caller=APP3
expect_rc 3 "remove with an invalid version"
expect_contains /tmp/tarvo_install.log "Existing installation of TARVO found: Invalid version"
expect_contains /tmp/tarvo_install.log "Remove unsuccessful, return value is 3"
run_kit "$KIT" install caller=APP3
expect_rc 0 "install over an invalid version"
expect_installed "$KIT" "$DEFAULT_DIR"
expect_file "$R/.installdb" $'CurrentVersion 5.2.4\nAPP1 5.2.4\nAPP2 5.2.4\nAPP3 5.2.4\n'

# env=user: three lines in $HOME/.profile and the Environment section, written once.
rm -rf /opt/QZ
printf 'PS1=x\n' > "$HOME/.profile"
run_kit "$KIT" install caller=U1 env=user
expect_rc 0 "env=user install"
expect_file "$HOME/.profile" 'PS1=x
QZLIB="/opt/QZ/SharedComponents/lib"; export QZLIB
QZBIN="/opt/QZ/SharedComponents/bin"; export QZBIN
QZSHCOMP="/opt/QZ/SharedComponents"; export QZSHCOMP
'
expect_file "$R/files.dat" "$(files_dat_plain)"$'\n*#*#*#*#*#-Environment\nenv.usr.QZSHCOMP.set=1\nenv.usr.QZLIB.set=1\nenv.usr.QZBIN.set=1\n'
run_kit "$KIT" install caller=U2
expect_rc 0 "env=none after env=user keeps the section"
expect_contains "$R/files.dat" "env.usr.QZBIN.set=1"

# Update_User_Profile=0 leaves the profile alone and records zeros.
rm -rf /opt/QZ
printf 'PS1=x\n' > "$HOME/.profile"
Update_User_Profile=0 run_kit "$KIT" install caller=U1 env=user
expect_rc 0 "Update_User_Profile=0"
expect_file "$HOME/.profile" $'PS1=x\n'
expect_contains "$R/files.dat" "env.usr.QZSHCOMP.set=0"

# env=all: real login shells see the three values.
rm -rf /opt/QZ
cp /etc/profile /tmp/profile.orig
run_kit "$KIT" install caller=A1 env=all
expect_rc 0 "env=all install"
expect_file "$R/files.dat" "$(files_dat_plain)"$'\n*#*#*#*#*#-Environment\nenv.all.QZSHCOMP.set=1\nenv.all.QZLIB.set=1\nenv.all.QZBIN.set=1\n'
for sh in bash dash; do
    got=$(env -i HOME="$HOME" PATH=/usr/bin:/bin "$sh" -l -c 'echo "$QZSHCOMP|$QZLIB|$QZBIN"' 2>/dev/null)
    check "$sh -l sees the variables ($got)" test "$got" = "/opt/QZ/SharedComponents|/opt/QZ/SharedComponents/lib|/opt/QZ/SharedComponents/bin"
done
if command -v tcsh >/dev/null; then
    got=$(env -i HOME="$HOME" PATH=/usr/bin:/bin tcsh -l <<<'echo "$QZSHCOMP|$QZLIB|$QZBIN"' 2>/dev/null | tail -n 1)
    check "tcsh -l sees the variables ($got)" test "$got" = "/opt/QZ/SharedComponents|/opt/QZ/SharedComponents/lib|/opt/QZ/SharedComponents/bin"
fi

# ORVANHOME: the old uninstaller is asked to drop the caller, one word per argument.
mkdir -p "/tmp/old orvan"
cat > "/tmp/old orvan/uninstaller" <<'SH'
#!/bin/sh
for a in "$@"; do printf '<%s>' "$a"; done > /tmp/orvan.args
SH
chmod +x "/tmp/old orvan/uninstaller"
ORVANHOME="/tmp/old orvan" run_kit "$KIT" install caller=APP9 env=user verbose
expect_rc 0 "install with ORVANHOME"
expect_file /tmp/orvan.args '<remove><caller=APP9><env=user>'
expect_contains "$OUT" "Older version of ORVAN installation found at /tmp/old orvan."
ORVANHOME="/tmp/old orvan" run_kit "$KIT" install 'caller=my app(2)'
expect_rc 0 "caller with a blank and parentheses"
expect_file /tmp/orvan.args '<remove><caller=my app(2)>'
ORVANHOME=/tmp/nowhere run_kit "$KIT" install caller=APP8
expect_rc 0 "a missing old uninstaller changes nothing"

finish
