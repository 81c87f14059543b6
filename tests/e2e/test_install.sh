#!/bin/bash
# Whole-kit installs: callers, versions, env modes, the legacy step; failed installs leave the old one whole.
. "$(dirname "$0")/lib.sh"
kit_ok install caller=APP1
expect_db "CurrentVersion 5.2.4" "APP1 5.2.4"
check "directories are 0755" test "$(stat -c %a /opt/QZ /opt/QZ/SharedComponents "$DEFAULT_DIR" "$R" "$R/lib" "$R/tarvo/log" | sort -u)" = 755

# A second caller: nothing placed again, goes last; the same caller again keeps one line.
inode=$(stat -c %i "$R/lib/libtarvo.so")
kit_ok install caller=APP2 veryverbose
check "no file replaced" test "$(stat -c %i "$R/lib/libtarvo.so")" = "$inode"
expect_contains $LOG "File $R/uninstaller is present in existing installation."
kit_ok install caller=APP1
expect_db "CurrentVersion 5.2.4" "APP1 5.2.4" "APP2 5.2.4"

# One payload file missing: everything is placed again.
rm "$R/tarvo/log/_tarvo_log.cfg"
kit_ok install caller=APP1 verbose
expect_installed "$KIT" "$DEFAULT_DIR"
check "library replaced" test "$(stat -c %i "$R/lib/libtarvo.so")" != "$inode"
expect_contains "$OUT" "[TARVO] File $R/tarvo/log/_tarvo_log.cfg is not present in existing installation."
expect_lacks $LOG "Please remove"  # every old copy went

# A newer version installed: nothing placed, the caller still registered, and files a release no longer ships
# (here tarvo/) stay listed; an upgrade deletes them and the directories they leave empty, and the removals
# then leave no tree.
sed -i 's/^CurrentVersion .*/CurrentVersion 5.10.0/' "$R/.installdb"
rm "$R/lib/libtarvo.so"
kit_without /tarvo/ /tmp/notarvo.bin
expect_run 0 /tmp/notarvo.bin install caller=APP3
expect_absent "$R/lib/libtarvo.so"
expect_present "$R/tarvo/log/_tarvo_log.cfg"
expect_contains $LOG "Existing Version is higher than installing Version"
expect_db "CurrentVersion 5.10.0" "APP1 5.2.4" "APP2 5.2.4" "APP3 5.2.4"
expect_file "$R/files.dat" "$(grep -v /tarvo/ <<<"$PAYLOAD_PATHS"; grep /tarvo/ <<<"$PAYLOAD_PATHS")"$'\n'
cp -a /opt/QZ /tmp/newer.tree
sed -i 's/^CurrentVersion .*/CurrentVersion 5.2.3/' "$R/.installdb"
expect_run 0 /tmp/notarvo.bin install caller=APP3 veryverbose
expect_absent "$R/tarvo"
expect_file "$R/files.dat" "$(grep -v /tarvo/ <<<"$PAYLOAD_PATHS")"$'\n'
expect_contains $LOG "Removed obsolete file $R/tarvo/log/_tarvo_log.cfg" "Removed directory $R/tarvo"
for caller in APP1 APP2 APP3; do expect_run 0 /tmp/notarvo.bin remove caller=$caller; done
expect_absent /opt/QZ
mv /tmp/newer.tree /opt/QZ

# An invalid recorded version: remove refuses, install goes on as for no version.
sed -i 's/^CurrentVersion .*/CurrentVersion 5.x.0/' "$R/.installdb"
kit_fails remove caller=APP3
expect_contains $LOG "Existing installation of TARVO found: Invalid version" "Remove unsuccessful, return value is 3"
kit_ok install caller=APP3
expect_db "CurrentVersion 5.2.4" "APP1 5.2.4" "APP2 5.2.4" "APP3 5.2.4"

# A leftover placeholder of an interrupted run is cleaned by the next run, a look-alike is not.
touch "$R/lib/pk.Ab12Cd" "$R/lib/xpk.1"
kit_ok install caller=APP2
expect_absent "$R/lib/pk.Ab12Cd"
expect_present "$R/lib/xpk.1"

# A destination name that is a directory: the files already moved are rolled back.
printf 'old library\n' > "$R/lib/libtarvo.so"
rm -r "$R/lib/libqzopenssl_ssl.so" "$R/tarvo/log/_tarvo_log.cfg" && mkdir "$R/lib/libqzopenssl_ssl.so"
before=$(tree_state /opt)
kit_fails_logging "Failed to move $R/lib/libqzopenssl_ssl.so  to " install caller=APP4 veryverbose
check "tree rolled back" test "$(tree_state /opt)" = "$before"
expect_no_leftovers

# A disk that fills up (an install holds the old and the new tree until it commits), then room again; the
# install directory is reached through a link, which is allowed.
rm -rf /opt/QZ
S=/tmp/small/TARVO
mkdir -p $S && mount -t tmpfs -o size=16m tarvo-small $S && ln -s /tmp/small /tmp/linked
kit_ok install caller=APP1 instdir=/tmp/small
dd if=/dev/zero of=$S/filler bs=1k count=$(($(df -k --output=avail $S | tail -1) - 8)) status=none 2>/dev/null
rm "$S/TARVO5/Linux/ppc64/64/tarvo/log/_tarvo_log.cfg"
before=$(tree_state $S/TARVO5)
kit_fails_logging "Error writing to file" install caller=APP2 instdir=/tmp/small
check "tree unchanged on a full disk" test "$(tree_state $S/TARVO5)" = "$before"
expect_no_leftovers /tmp/small
rm $S/filler
kit_ok install caller=APP2 instdir=/tmp/linked
expect_installed "$KIT" $S
umount $S

# env=user: three profile lines and an Environment section, kept by env=none; Update_User_Profile=0 records zeros.
rm -rf /opt/QZ
printf 'PS1=x\n' > "$HOME/.profile"
Update_User_Profile=0 kit_ok install caller=U0 env=user
expect_file "$HOME/.profile" $'PS1=x\n'
expect_contains "$R/files.dat" "env.usr.QZSHCOMP.set=0"
rm -rf /opt/QZ
kit_ok install caller=U1 env=user
expect_file "$HOME/.profile" 'PS1=x
QZLIB="/opt/QZ/SharedComponents/lib"; export QZLIB
QZBIN="/opt/QZ/SharedComponents/bin"; export QZBIN
QZSHCOMP="/opt/QZ/SharedComponents"; export QZSHCOMP
'
kit_ok install caller=U2
expect_file "$R/files.dat" "$PAYLOAD_PATHS"$'\n*#*#*#*#*#-Environment\nenv.usr.QZSHCOMP.set=1\nenv.usr.QZLIB.set=1\nenv.usr.QZBIN.set=1\n'

# ORVANHOME: the old uninstaller is asked to drop the caller, one word per argument.
printf '#!/bin/sh\nfor a in "$@"; do printf "<%%s>" "$a"; done > /tmp/orvan.args\n' | install -D /dev/stdin "/tmp/old orvan/uninstaller"
ORVANHOME="/tmp/old orvan" kit_ok install 'caller=my app(2)' verbose
expect_file /tmp/orvan.args '<remove><caller=my app(2)>'
expect_contains "$OUT" "Older version of ORVAN installation found at /tmp/old orvan."
ORVANHOME=/tmp/nowhere kit_ok install caller=APP8

finish
