#!/bin/bash
# Installs that go wrong must leave the earlier installation intact and nothing temporary behind.
. "$(dirname "$0")/lib.sh"
R=$DEFAULT_DIR/TARVO5/Linux/ppc64/64

fresh_install() {
    rm -rf /opt/QZ /tmp/tarvo_install.log
    run_kit "$KIT" install caller=APP1
    expect_rc 0 "setup install"
}

# A corrupt stream: nothing moved, no temporary file.
fresh_install
cp "$KIT" /tmp/corrupt.bin
off=$("$TOOL" list "$KIT" | awk '$1 ~ /libtarvo_thread_posix.so$/ { print $2 }')
printf '\377\377\377\377' | dd of=/tmp/corrupt.bin bs=1 seek=$((off + 40)) conv=notrunc status=none
printf 'old library\n' > "$R/lib/libtarvo.so"
rm "$R/tarvo/log/_tarvo_log.cfg"
before=$(tree_state /opt)
run_kit /tmp/corrupt.bin install caller=APP2
expect_rc 3 "corrupt stream"
expect_contains /tmp/tarvo_install.log "Failed to decompress libtarvo_thread_posix.so to $R/lib/"
expect_contains /tmp/tarvo_install.log "Install unsuccessful, return value is 3"
check "tree unchanged after a corrupt stream" test "$(tree_state /opt)" = "$before"
expect_no_leftovers

# A destination name that is a directory: the directory's files are rolled back.
fresh_install
printf 'old library\n' > "$R/lib/libtarvo.so"
rm "$R/lib/libqzopenssl_ssl.so" && mkdir "$R/lib/libqzopenssl_ssl.so"
rm "$R/tarvo/log/_tarvo_log.cfg"
before=$(tree_state /opt)
run_kit "$KIT" install caller=APP2 veryverbose
expect_rc 3 "destination is a directory"
expect_contains /tmp/tarvo_install.log "Failed to move $R/lib/libqzopenssl_ssl.so  to "
check "tree rolled back" test "$(tree_state /opt)" = "$before"
expect_file "$R/.installdb" $'CurrentVersion 5.2.4\nAPP1 5.2.4\n'
expect_no_leftovers

# A disk that fills up during extraction. An install holds the old and the new tree at once until it commits.
rm -rf /opt/QZ
mkdir -p /tmp/small/TARVO
mount -t tmpfs -o size=16m tarvo-small /tmp/small/TARVO
run_kit "$KIT" install caller=APP1 instdir=/tmp/small
expect_rc 0 "install on the small file system"
SR=/tmp/small/TARVO/TARVO5/Linux/ppc64/64
avail=$(df -k --output=avail /tmp/small/TARVO | tail -1)
dd if=/dev/zero of=/tmp/small/TARVO/filler bs=1k count=$((avail - 8)) status=none 2>/dev/null
rm "$SR/tarvo/log/_tarvo_log.cfg"
before=$(tree_state /tmp/small/TARVO/TARVO5)
run_kit "$KIT" install caller=APP2 instdir=/tmp/small
expect_rc 3 "disk full"
expect_contains /tmp/tarvo_install.log "Error writing to file"
check "tree unchanged on a full disk" test "$(tree_state /tmp/small/TARVO/TARVO5)" = "$before"
expect_no_leftovers /tmp/small
rm /tmp/small/TARVO/filler
run_kit "$KIT" install caller=APP2 instdir=/tmp/small
expect_rc 0 "install once there is room again"
expect_installed "$KIT" /tmp/small/TARVO
umount /tmp/small/TARVO

# A leftover placeholder of an interrupted run is cleaned by the next run.
fresh_install
: > "$R/lib/pk.Ab12Cd"
: > "$R/lib/xpk.1"
run_kit "$KIT" install caller=APP2
expect_rc 0 "install with a leftover placeholder"
expect_absent "$R/lib/pk.Ab12Cd"
expect_present "$R/lib/xpk.1"
rm "$R/lib/xpk.1"

# Killed at several moments, then run again: it succeeds and every file is whole.
for delay in 0 0.001 0.003 0.006 0.01 0.02 0.04 0.08; do
    rm -rf /opt/QZ
    $RUN "$KIT" install caller=K1 >/dev/null 2>&1 &
    pid=$!
    sleep "$delay"
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    run_kit "$KIT" install caller=K1
    expect_rc 0 "install after a kill at ${delay}s"
    expect_installed "$KIT" "$DEFAULT_DIR"
    expect_file "$R/.installdb" $'CurrentVersion 5.2.4\nK1 5.2.4\n'
    # A killed run cannot delete its temporary utility; the tree must still be clean.
    check "no placeholder after a kill at ${delay}s" test -z "$(find /opt -name 'pk.*' -o -name '.tarvotmp.*')"
done

finish
