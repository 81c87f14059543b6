#!/bin/bash
# Removals that fail or are killed half-way are finished by a later run of any caller; record
# temporaries and lack of memory never leave a removal stuck.
. "$(dirname "$0")/lib.sh"
R=$DEFAULT_RECORDS

fresh() {
    local c
    rm -rf /opt/QZ /tmp/tarvo_install.log
    for c in "$@"; do run_kit "$KIT" install caller="$c"; expect_rc 0 "install for $c"; done
}

# Ways to break off the last caller's removal: lib is read-only, or the run is killed right after
# the caller's line left the registry (at the directory sync that follows its rename).
break_readonly() {
    mount --bind "$R/lib" "$R/lib" && mount -o remount,bind,ro "$R/lib"
    run_kit "$KIT" remove caller=APP1
    expect_rc 3 "removal with a read-only lib"
    expect_contains /tmp/tarvo_install.log "Failed to remove file $R/lib/libtarvo.so, must be done manually."
    expect_absent "$R/uninstaller"
    # Only what is still there stays listed.
    expect_file "$R/files.dat" "$(grep /lib/ <<<"$PAYLOAD_PATHS")"$'\n'
    umount "$R/lib"
}
break_killed() {
    RC=0
    (strace -f -o /dev/null -e trace=fsync -e inject=fsync:signal=SIGKILL:when=2 "$KIT" remove caller=APP1 \
        >"$OUT" 2>"$ERR"; exit $?) 2>/dev/null || RC=$?
    check "killed removal died ($RC)" test "$RC" = 137
    expect_file "$R/files.dat" "$PAYLOAD_PATHS"$'\n'
    rm -f /tmp/qzprof*  # a killed run cannot delete its temporary utility
}

for way in readonly killed; do
    for rerun in remove forceremove; do
        fresh APP1
        "break_$way"
        expect_file "$R/.installdb" $'CurrentVersion 5.2.4\n'
        run_kit "$KIT" "$rerun" caller=LATECOMER verbose
        expect_rc 0 "$rerun after a $way removal"
        expect_contains "$OUT" "[TARVO] No remaining dependencies so TARVO will be removed."
        expect_lacks /tmp/tarvo_install.log "not in dependency list"
        expect_absent /opt/QZ
        expect_no_leftovers
    done
done

# A removal killed after its records went leaves empty directories, which any caller removes; a
# record directory that holds a file or a link, even in an otherwise empty tree, is not ours to delete.
fresh APP1
(cd "$R" && find . ! -type d -delete)
mkdir /tmp/empty
for plant in "echo mine > $R/tarvo/log/note" "ln -s /tmp/empty $R/lib/evil"; do
    eval "$plant"
    run_kit "$KIT" remove caller=LATE
    expect_rc 3 "no records, but $plant"
    expect_contains /tmp/tarvo_install.log "Removal requested by LATE, but there appears to be no installation."
    check "$plant: kept" test -e "$R/tarvo/log/note" -o -L "$R/lib/evil"
    rm "$R/tarvo/log/note" "$R/lib/evil" 2>/dev/null || true
done
# Killed later still, only the empty platform directories above the records are left.
for left in "$R" "${R%/64}"; do
    mkdir -p "$left"
    run_kit "$KIT" forceremove caller=LATE verbose
    expect_rc 0 "removal of the empty tree $left"
    expect_contains "$OUT" "[TARVO] Removing the empty directories left by an interrupted removal"
    expect_absent /opt/QZ
    expect_present /tmp/empty
    expect_no_leftovers
done

# Record temporaries of a killed run go at the start of any run and never block the removal;
# an administrator's copies of the records are never deleted.
fresh APP1
: > "$R/.tarvotmp.Ab12Cd"
echo saved > "$R/.installdb.backup"
echo saved > "$R/.files.dat.saved1"
run_kit "$KIT" install caller=APP2
expect_rc 0 "install with a leftover record temporary"
expect_absent "$R/.tarvotmp.Ab12Cd"
expect_file "$R/.installdb.backup" $'saved\n'
expect_file "$R/.files.dat.saved1" $'saved\n'
rm "$R/.installdb.backup" "$R/.files.dat.saved1"
run_kit "$KIT" remove caller=APP1
: > "$R/.tarvotmp.Zz09Qq"
run_kit "$KIT" remove caller=APP2
expect_rc 0 "last removal with a leftover record temporary"
expect_absent /opt/QZ

# Out of memory ends the run like any failure. (The sanitizers cannot run under a memory limit.)
if ! ldd "$KIT" 2>/dev/null | grep -q libasan; then
    fresh APP1
    truncate -s 1G "$R/files.dat"
    RC=0
    (ulimit -v 262144 && exec "$KIT" remove caller=APP1) >"$OUT" 2>"$ERR" || RC=$?
    expect_rc 3 "removal out of memory"
    expect_contains /tmp/tarvo_install.log "Out of memory"
    expect_contains /tmp/tarvo_install.log "Remove unsuccessful, return value is 3"
    expect_no_leftovers
fi

finish
