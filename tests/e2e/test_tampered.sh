#!/bin/bash
# Damaged kits and links inside the tree: a clear failure, and nothing of the earlier release replaced.
. "$(dirname "$0")/lib.sh"
R=$DEFAULT_DIR/TARVO5/Linux/ppc64/64
LOG=/tmp/tarvo_install.log

# An earlier release that any sound kit replaces whole.
old_release() {
    rm -rf /opt/QZ $LOG
    run_kit "$KIT" install caller=APP1
    for p in $PAYLOAD_PATHS; do printf 'old %s\n' "$p" > "$DEFAULT_DIR/$p"; done
    sed -i 's/ 5\.2\.4$/ 5.2.3/' "$R/.installdb"
}

# damage NAME EDIT... : copies the kit to /tmp/NAME.bin and applies the python statement EDIT to its bytes b.
damage() {
    python3 - "$KIT" "/tmp/$1.bin" "$2" <<'PY'
import sys
b = bytearray(open(sys.argv[1], "rb").read())
n = int(b[b.rindex(b";") + 1:-1])
start = len(b) - len(str(n)) - 1 - (n - 1)
catalog = bytes(b[start:start + n - 1])
def recatalog(old, new):
    global b
    c = catalog.replace(old, new, 1)
    b = b[:start] + c + str(len(c) + 1).encode() + b"\n"
exec(sys.argv[3])
open(sys.argv[2], "wb").write(b)
PY
    chmod +x "/tmp/$1.bin"
}

first=$("$TOOL" list "$KIT" | head -1 | cut -f1)
last_off=$("$TOOL" list "$KIT" | tail -1 | cut -f2)
damage truncated 'b = b[:-1]'
damage trailer_digit 'b[-2] ^= 1'
damage separator 'b[start + catalog.index(b";")] ^= 1'
damage path_letter 'b[start] ^= 1'
damage dotdot "recatalog(b'$first=', b'TARVO5/Linux/ppc64/64/../../../../../../../../../../../../etc/evil=')"
damage absolute "recatalog(b'$first=', b'/etc/evil=')"
damage last_stream "b[$last_off + 5000:$last_off + 5004] = b'\\xff\\xff\\xff\\xff'"

damaged="The installer file is damaged: "
while IFS='|' read -r kit message; do
    old_release
    before=$(tree_state /opt)
    run_kit "/tmp/$kit.bin" install caller=APP2
    expect_rc 3 "$kit"
    expect_contains $LOG "$message"
    expect_contains $LOG "Install unsuccessful, return value is 3"
    check "$kit: the earlier release is intact" test "$(tree_state /opt)" = "$before"
    expect_absent /etc/evil
    expect_no_leftovers
done <<EOF_KITS
truncated|${damaged}it does not end in the catalog length and a line feed
trailer_digit|${damaged}catalog path
separator|is not a path, "=" and an offset
path_letter|${damaged}catalog path UARVO5/Linux/ppc64/64/lib/libtarvo.so does not begin with
dotdot|holds ".."
absolute|${damaged}catalog path /etc/evil does not begin with
last_stream|Failed to decompress uninstaller to $R/pk.
EOF_KITS

# Killed before any link, rename or unlink of the moves: every path holds its whole old or whole new
# file, and the next run finishes the job.
run_kit "$KIT" install caller=S instdir=/tmp/sound
new_sums=$(cd /tmp/sound/TARVO && md5sum $PAYLOAD_PATHS)
for at in linkat:1 linkat:4 renameat:1 renameat:7 rename:2 rename:4 unlinkat:1 unlinkat:7; do
    old_release
    old_sums=$(cd "$DEFAULT_DIR" && md5sum $PAYLOAD_PATHS)
    (strace -f -o /dev/null -e inject=${at%:*}:signal=SIGKILL:when=${at#*:} "$KIT" install caller=APP2; true) >/dev/null 2>&1
    for p in $PAYLOAD_PATHS; do
        sum=$(cd "$DEFAULT_DIR" && md5sum "$p" 2>/dev/null)
        check "killed at $at: $p is whole" grep -qxF "${sum:-missing}" <<<"$old_sums"$'\n'"$new_sums"
    done
    run_kit "$KIT" install caller=APP2
    expect_rc 0 "rerun after a kill at $at"
    expect_installed "$KIT" "$DEFAULT_DIR"
    # A killed run cannot delete its temporary utility; the tree must still be clean.
    check "no placeholder after a kill at $at" test -z "$(find /opt -name 'pk.*')"
done
rm -f /tmp/qzprof*

# A removal reads the catalog only for its paths, so a bad stream does not stand in its way.
run_kit /tmp/last_stream.bin remove caller=APP2
expect_rc 0 "remove with a kit whose last stream is bad"

# A link in the tree is never followed: not by the clean-up ...
rm -rf /opt/QZ
run_kit "$KIT" install caller=APP1
ln -s /etc "$R/lib/evil"
printf 'TARVO5/Linux/ppc64/64/lib/evil/victim\n' >> "$R/files.dat"
: > /etc/pk.victim
run_kit "$KIT" install caller=APP2
expect_present /etc/pk.victim
expect_contains $LOG "A component of $R/lib/evil is a symbolic link, which is never followed"
rm -f /etc/pk.victim

# ... nor by placement.
old_release
mkdir -p /tmp/elsewhere
mv "$R/tarvo/log" /tmp/elsewhere/ && rmdir "$R/tarvo" && ln -s /tmp/elsewhere "$R/tarvo"
before=$(tree_state /opt; tree_state /tmp/elsewhere)
run_kit "$KIT" install caller=APP2
expect_rc 3 "a link in the tree"
expect_contains $LOG "A component of $R/tarvo/log is a symbolic link, which is never followed"
check "nothing placed through the link" test "$(tree_state /opt; tree_state /tmp/elsewhere)" = "$before"
expect_no_leftovers

# ... nor by the records, which are read and written by path: a link on the way to them stops the run.
rm -rf /opt/QZ /tmp/outside
mkdir -p "$DEFAULT_DIR/TARVO5" /tmp/outside/ppc64/64
printf 'CurrentVersion 5.2.4\nAPP1 5.2.4\n' > /tmp/outside/ppc64/64/.installdb
ln -s /tmp/outside "$DEFAULT_DIR/TARVO5/Linux"
before=$(tree_state /opt; tree_state /tmp/outside)
for mode in install remove; do
    run_kit "$KIT" $mode caller=APP1
    expect_rc 3 "$mode with a link to the records"
    expect_contains $LOG "The record directory $R is reached through a symbolic link or a non-directory; nothing will be changed"
    check "$mode: nothing changed through the link" test "$(tree_state /opt; tree_state /tmp/outside)" = "$before"
done
expect_no_leftovers

# The install directory itself may be reached through links.
mkdir -p /tmp/real && ln -s /tmp/real /tmp/linked
run_kit "$KIT" install caller=APP1 instdir=/tmp/linked
expect_rc 0 "install through a linked install directory"
expect_installed "$KIT" /tmp/real/TARVO

finish
