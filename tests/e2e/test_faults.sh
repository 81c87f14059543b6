#!/bin/bash
# Failed system calls and kills over an upgrade and a last removal: files and records whole, a rerun finishes.
. "$(dirname "$0")/lib.sh"
W=/tmp/faults
mkdir -p "$W"
# syscall_counts SYSCALLS command... : "name count" of each syscall of the command's own process (strace's when=).
syscall_counts() {
    local set=$1 log=/tmp/.t_counts; shift
    env "$UNDER_STRACE" strace -f -qq -o "$log" -e trace="$set" "$@" >/dev/null 2>&1
    awk 'NR == 1 { main = $1 } $1 == main && match($2, /^[a-z0-9_]+\(/) { n[substr($2, 1, RLENGTH - 1)]++ }
         END { for (s in n) print s, n[s] }' "$log"
}

# Fault points: phase, syscalls, then each fault with where it strikes: in percent of the calls of each
# of those syscalls that the run's own process makes in a clean run (strace's when= counts each on its own),
# or, negative, counted from its last call (-1).
POINTS='
install rename,renameat,renameat2 EIO 1 15 30 45 60 75 90 100 -2 KILL 5 20 35 50 65 80 95 100 -2
install unlink,unlinkat,link,linkat,mkdir,mkdirat EROFS 30 70 100 KILL 50 100
install unlinkat                  EROFS -4 -3 -2 -1 KILL -4 -3 -2 -1
install write                     ENOSPC 30 60 95 KILL 45 90
install fsync,fdatasync,openat    EIO 20 60 100 KILL 40 80
remove  unlink,unlinkat           EIO 1 25 50 70 80 100 KILL 10 30 55 65 75 80 90 100
remove  rmdir                     EBUSY 1 50 100 KILL 30 80
remove  rename,renameat,renameat2,fsync,fdatasync EIO 100 KILL 100
remove  write,openat              EIO 60 KILL 50
'
ALL_CALLS=rename,renameat,renameat2,unlink,unlinkat,link,linkat,mkdir,mkdirat,write,fsync,fdatasync,openat,rmdir

# The upgrade starts from an older release for APP1 (other bytes, obsolete crypto files, files the new one no
# longer ships: the last upgrade calls delete them); the removal, from APP2 alone.
DROPS=$(printf "TARVO5/Linux/ppc64/64/%s\n" lib/libold.so old/sub/gone.cfg)
kit_ok install caller=APP1
(cd "$DEFAULT_DIR" && for p in $PAYLOAD_PATHS $DROPS; do mkdir -p "${p%/*}" && echo "old $p" > "$p"; done &&
    md5sum $PAYLOAD_PATHS $DROPS) > "$W/sums"
printf 'CurrentVersion 5.2.3\nAPP1 5.2.3\n' > "$R/.installdb"
printf '%s\n' "$DROPS" >> "$R/files.dat"
touch "$R/lib/libcryptocme.sig" "$R/lib/libccme_base.so" "$R/lib/libccme_base.so.1"
cp -a /opt/QZ "$W/install.tree" && cp "$R/files.dat" "$W/install.dat"
syscall_counts $ALL_CALLS "$KIT" install caller=APP2 > "$W/install.counts"
expect_installed "$KIT" "$DEFAULT_DIR"
expect_absent "$R/lib/libcryptocme.sig" "$R/lib/libccme_base.so" "$R/lib/libold.so" "$R/old"
(cd "$DEFAULT_DIR" && md5sum $PAYLOAD_PATHS) >> "$W/sums"
(cd "$DEFAULT_DIR" && find . | sort) > "$W/install.list"
expect_present "$R/lib/libccme_base.so.1" && rm "$R/lib/libccme_base.so.1"
kit_ok remove caller=APP1
cp -a /opt/QZ "$W/remove.tree" && cp "$R/files.dat" "$W/remove.dat"
syscall_counts $ALL_CALLS "$KIT" remove caller=APP2 > "$W/remove.counts"

# whole phase what: every payload path holds the whole old or new file (a removal may have deleted it),
# each record what some complete step leaves; files.dat may list fewer paths: during a removal, or an upgrade's
# dropped files once gone, but never fewer than are on disk.
whole() {
    local sums db dat p
    sums=$(cd "$DEFAULT_DIR" 2>/dev/null && md5sum $PAYLOAD_PATHS $DROPS 2>/dev/null)
    if grep -vxF -f "$W/sums" <<<"$sums" | grep -q .; then fail "$2: a torn file: $(grep -vxF -f "$W/sums" <<<"$sums")"
    elif [ "$1" = install ] && [ "$(grep -cvF "$DROPS" <<<"$sums")" != 7 ]; then fail "$2: a payload file is missing"
    else pass; fi
    for p in $DROPS; do
        if { [ -e "$DEFAULT_DIR/$p" ] || [ -e "$DEFAULT_DIR/${p%/sub/*}" ]; } && ! grep -qxF "$p" "$R/files.dat"; then
            fail "$2: $p or its directory is on disk but not listed"; fi
    done
    db=$(cat "$R/.installdb" 2>/dev/null || echo absent)
    dat=$(cat "$R/files.dat" 2>/dev/null || echo absent)
    case $1:$db in install:$'CurrentVersion 5.2.3\nAPP1 5.2.3' | install:$'CurrentVersion 5.2.4\nAPP1 5.2.3' | \
        install:$'CurrentVersion 5.2.4\nAPP1 5.2.3\nAPP2 5.2.4' | remove:absent | remove:'CurrentVersion 5.2.4' | \
        remove:$'CurrentVersion 5.2.4\nAPP2 5.2.4') pass ;; *) fail "$2: .installdb holds: $db" ;; esac
    if [ "$dat" = "$(cat "$W/$1.dat")" ] || { [ "$1" = remove ] && [ "$dat" = absent ]; } ||
        { [ -z "$(tail -c1 "$R/files.dat")" ] &&
        { [ "$1" = remove ] || ! grep -qvxF -f "$R/files.dat" <<<"$PAYLOAD_PATHS"; } &&
        awk 'NR == FNR { want[++n] = $0; next } { do i++; while (i <= n && want[i] != $0); if (i > n) bad = 1 }
             END { exit bad }' "$W/$1.dat" "$R/files.dat"; }; then pass
    else fail "$2: files.dat holds: $dat"; fi
}

# finished phase what [listing]: an install's new files, final records (with listing, nothing else); a removal's nothing.
finished() {
    if [ "$1" = remove ]; then
        # Directories above the record directory may stay when they cannot be removed: others share them.
        check "$2: the installation is gone (left: $(find "$R" "$DEFAULT_DIR" ! -type d 2>/dev/null | head -3))" \
            test ! -e "$R" -a -z "$(find "$DEFAULT_DIR" ! -type d 2>/dev/null)"
        return
    fi
    check "$2: every file new, final records" test "$(cd "$DEFAULT_DIR" && md5sum $PAYLOAD_PATHS 2>/dev/null; cat "$R/.installdb")" = \
        "$(tail -7 "$W/sums"; printf 'CurrentVersion 5.2.4\nAPP1 5.2.3\nAPP2 5.2.4')"
    [ -z "${3:-}" ] || check "$2: nothing but payload and records: $(cd "$DEFAULT_DIR" && find . | sort | diff - "$W/install.list")" \
        test "$(cd "$DEFAULT_DIR" && find . | sort)" = "$(cat "$W/install.list")"
}

# row_points phase calls faults-and-percents... : "fault syscall when" of each point; none for a syscall never made.
row_points() {
    local phase=$1 call; shift
    for call in ${1//,/ }; do
        awk -v c="$call" -v p="${*:2}" '$1 == c { n = split(p, q, " "); for (i = 1; i <= n; i++)
            if (q[i] ~ /^[A-Z]/) f = q[i]; else if (q[i] < 0) { if ($2 + q[i] >= 0) print f, c, $2 + q[i] + 1 }
            else print f, c, int(($2 * q[i] + 99) / 100) }' "$W/$phase.counts"
    done | sort -u -k1,2 -k3n
}
while read -r -u 3 phase calls faults; do
    [ -n "$phase" ] || continue
    points=$(row_points "$phase" "$calls" $faults)
    while read -r -u 4 fault call when; do
        [ -n "$call" ] || continue
        if [ "$fault" = KILL ]; then inject=signal=SIGKILL; else inject=error=$fault; fi
        cmd=(strace -f -qq -o /dev/null -e trace="$call" -e inject="$call:$inject:when=$when" "$KIT" "$phase" caller=APP2)
        what="${cmd[*]}"
        rm -rf /opt/QZ && cp -a "$W/$phase.tree" /opt/QZ
        RC=0
        { env "$UNDER_STRACE" timeout -s KILL 20 "${cmd[@]}" </dev/null >/dev/null 2>&1 || RC=$?; } 2>/dev/null
        case $fault:$RC in *:0) finished "$phase" "$what (status 0)" ;; KILL:* | *:3) pass ;; *) fail "$what: status $RC" ;; esac
        # An install's last renameat registers the caller.
        [ "$phase $call $fault $when" != "install renameat EIO $(awk '$1 == "renameat" { print $2 }' "$W/install.counts")" ] ||
            expect_contains $LOG "Failed to add dependency on TARVO"
        whole "$phase" "$what"
        # The clean rerun: an install as before; a removal by its caller while still registered, else by any.
        [ "$phase" = install ] || [ -e "$R" ] || continue
        caller=APP2; [ "$phase" = install ] || grep -q '^APP2 ' "$R/.installdb" 2>/dev/null || caller=LATE
        run_kit "$KIT" "$phase" caller=$caller </dev/null
        if [ "$RC" = 0 ]; then finished "$phase" "$what, then a rerun by $caller" listing
        else fail "$what, then a rerun by $caller: status $RC: $(grep -m1 -v '^$' /tmp/tarvo_install.log)"; fi
    done 4<<<"$points"
done 3<<<"$POINTS"

finish
