#!/bin/bash
# Whole-kit removals: dependants, the last one out, files that are not ours.
. "$(dirname "$0")/lib.sh"
install_for() { local c; for c in "$@"; do kit_ok install caller="$c"; done; }

kit_fails_logging "Removal requested by APP1, but there appears to be no installation." remove caller=APP1

# Of two callers one leaves: nothing removed; an unregistered caller is refused; a forced removal while another
# dependant remains takes only its caller's line; the last one out takes everything, /opt/QZ included.
install_for APP1 APP2
kit_ok remove caller=APP1 verbose
expect_contains "$OUT" "[TARVO] There are 1 remaining dependencies, so nothing will be removed."
expect_db "CurrentVersion 5.2.4" "APP2 5.2.4"
expect_installed "$KIT" "$DEFAULT_DIR"
kit_fails_logging "Removal requested by NOBODY which is not in dependency list." remove caller=NOBODY
install_for APP3
kit_ok forceremove caller=APP3
expect_db "CurrentVersion 5.2.4" "APP2 5.2.4"
kit_ok remove caller=APP2 veryverbose
expect_contains "$OUT" "[TARVO] No remaining dependencies so TARVO will be removed."
expect_absent /opt/QZ

# A user file in lib keeps lib, its parents and the records; once it is gone, any caller finishes.
install_for APP1
echo mine > "$R/lib/user.txt"
kit_fails remove caller=APP1
for d in "$R/lib" "$R"; do expect_contains $LOG "Failed to remove $d: Directoy not empty , must be done manually."; done
rm "$R/lib/user.txt"
kit_ok remove caller=LATE
expect_absent /opt/QZ

# A second product's file in the install directory: non-fatal, success.
install_for APP1
echo other > "$DEFAULT_DIR/other_product.cfg"
kit_ok remove caller=APP1 verbose
expect_contains $LOG "Failed to remove directory $DEFAULT_DIR/, may be other installation OR user files are present. continuing considering it as non-fatal. Please check them manually"
expect_present "$DEFAULT_DIR/other_product.cfg" && rm -rf /opt/QZ

# A legacy library blocks the final removal; the caller's line is already gone.
install_for APP1
: > "$DEFAULT_DIR/liborvan2.so"
kit_fails_logging "Found file $DEFAULT_DIR/liborvan2.so, which indicates that a legacy version of ORVAN has been installed and may still be in use. Removal will not continue." remove caller=APP1
expect_db "CurrentVersion 5.2.4"
rm -rf /opt/QZ

finish
