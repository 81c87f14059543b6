#!/bin/bash
# Discovery reports, alone and in front of an install.
. "$(dirname "$0")/lib.sh"
R=$DEFAULT_DIR/TARVO5/Linux/ppc64/64

# Nothing found.
run_kit "$KIT" discover
expect_rc 0 "discover with nothing installed"
expect_file "$OUT" $'[TARVO] Unable to discover TARVO installation \n'
expect_absent /tmp/.QZ_TARVO_Installer.lock
check "no temporary utility left" test -z "$(ls /tmp/qzprof* 2>/dev/null)"

# install ... discover: the report, then a quiet install.
run_kit "$KIT" install caller=APP1 env=all discover
expect_rc 0 "install after discover"
expect_file "$OUT" $'[TARVO] Unable to discover TARVO installation \n'
run_kit "$KIT" install caller=APP2 env=all
# The global installation, from the shared profile files.
run_kit "$KIT" discover
expect_rc 0 "global discover"
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
expect_absent /tmp/.QZ_TARVO_Installer.lock

# The non-global one, from the process environment; an empty line cuts the list.
mkdir -p /tmp/other/TARVO/TARVO5/Linux/ppc64/64
printf 'CurrentVersion 5.2.4\nX1 5.2.4\n\nX2 5.2.4\n' > /tmp/other/TARVO/TARVO5/Linux/ppc64/64/.installdb
mv /etc/profile.QZ /tmp/profile.QZ.saved
QZSHCOMP=/tmp/other run_kit "$KIT" discover
expect_rc 0 "non-global discover"
expect_contains "$OUT" "[TARVO] Found non-global installation of TARVO in /tmp/other/TARVO."
expect_contains "$OUT" "[TARVO] X1 5.2.4 "
expect_lacks "$OUT" "X2"
# A registry of one line: no header lines.
printf 'CurrentVersion 5.2.4\n' > /tmp/other/TARVO/TARVO5/Linux/ppc64/64/.installdb
QZSHCOMP=/tmp/other run_kit "$KIT" discover
expect_contains "$OUT" "[TARVO] CurrentVersion 5.2.4 "
expect_lacks "$OUT" "caller Installed Version"
rm -rf /tmp/other
mv /tmp/profile.QZ.saved /etc/profile.QZ

finish
