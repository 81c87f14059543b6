#!/bin/bash
# Half-done removals are finished by any caller; record temporaries and lack of memory never stick.
. "$(dirname "$0")/lib.sh"
fresh() { rm -rf /opt/QZ $LOG; kit_ok install caller=APP1; }

# The last caller's removal breaks off on a read-only lib; a latecomer finishes it, either way.
for rerun in remove forceremove; do
    fresh
    mount --bind "$R/lib" "$R/lib" && mount -o remount,bind,ro "$R/lib"
    kit_fails_logging "Failed to remove file $R/lib/libtarvo.so, must be done manually." remove caller=APP1
    expect_file "$R/files.dat" "$(grep /lib/ <<<"$PAYLOAD_PATHS")"$'\n'
    umount "$R/lib"
    kit_ok "$rerun" caller=LATECOMER
    expect_absent /opt/QZ
    expect_no_leftovers
done

# A removal killed after its records leaves empty directories for any caller; a file or link there is not ours.
fresh
(cd "$R" && find . ! -type d -delete)
mkdir /tmp/empty
for plant in "echo mine > $R/tarvo/log/note" "ln -s /tmp/empty $R/lib/evil"; do
    eval "$plant"
    kit_fails_logging "Removal requested by LATE, but there appears to be no installation." remove caller=LATE
    check "$plant: kept" test -e "$R/tarvo/log/note" -o -L "$R/lib/evil"
    rm -f "$R/tarvo/log/note" "$R/lib/evil"
done
# Killed later still, only the empty platform directories above the records are left.
rmdir "$R"
kit_ok forceremove caller=LATE verbose
expect_contains "$OUT" "[TARVO] Removing the empty directories left by an interrupted removal"
expect_absent /opt/QZ
expect_present /tmp/empty
expect_no_leftovers

# A killed run's record temporaries go at the start of any run; an administrator's copies stay.
fresh
: > "$R/.tarvotmp.Ab12Cd"
echo saved | tee "$R/.installdb.backup" > "$R/.files.dat.saved1"
kit_ok install caller=APP2
expect_absent "$R/.tarvotmp.Ab12Cd"
check "an administrator's copies stay" test "$(cat "$R/.installdb.backup" "$R/.files.dat.saved1")" = $'saved\nsaved'

# The disk-check probe that a failed unlink or a kill leaves beside the install directory goes at the
# next run, and so does one of the name that earlier releases used; another user's file of that name stays.
P=/opt/QZ/SharedComponents/.QZ_TARVO_Installer.probe OLD=/opt/QZ/SharedComponents/kawabonka
for inject in error=EIO signal=SIGKILL; do
    fresh
    : > $OLD
    run_kit env "$UNDER_STRACE" strace -f -qq -o /dev/null -P $P -e trace=unlink -e inject=unlink:$inject "$KIT" remove caller=APP1
    expect_present $P
    rm -f /tmp/qzprof*  # the killed run's temporary utility
    kit_ok install caller=APP1
    expect_absent $P $OLD
done
fresh
echo mine > $OLD && chown 65534 $OLD
kit_ok install caller=APP2
expect_file $OLD $'mine\n'

# Out of memory ends the run like any failure. (The sanitizers cannot run under a memory limit.)
if ! ldd "$KIT" 2>/dev/null | grep -q libasan; then
    fresh
    truncate -s 1G "$R/files.dat"
    expect_run 3 bash -c 'ulimit -v 262144 && exec "$0" remove caller=APP1' "$KIT"
    expect_contains $LOG "Out of memory" "Remove unsuccessful, return value is 3"
    expect_no_leftovers
fi
finish
