#!/bin/bash
# Damaged kits, links in the tree, a hostile user: a clear failure, nothing written through a planted name.
. "$(dirname "$0")/lib.sh"
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
# An earlier release that any sound kit replaces whole.
old_release() {
    rm -rf /opt/QZ $LOG
    run_kit "$KIT" install caller=APP1
    for p in $PAYLOAD_PATHS; do printf 'old %s\n' "$p" > "$DEFAULT_DIR/$p"; done
    sed -i 's/ 5\.2\.4$/ 5.2.3/' "$R/.installdb"
}
first=$("$TOOL" list "$KIT" | sed -n 2p | cut -f1)
first_off=$("$TOOL" list "$KIT" | sed -n 2p | cut -f2) last_off=$("$TOOL" list "$KIT" | tail -1 | cut -f2)
# Each kit is this one with a python statement applied to its bytes b; recatalog(old, new) edits the catalog.
while IFS='|' read -r kit edit message; do
    python3 - "$KIT" "/tmp/$kit.bin" "$edit" <<'PY' && chmod +x "/tmp/$kit.bin"
import sys
b = bytearray(open(sys.argv[1], "rb").read())
n = int(b[b.rindex(b";") + 1:-1])
start = len(b) - len(str(n)) - n
catalog = bytes(b[start:start + n - 1])
def recatalog(old, new):
    c = catalog.replace(old, new, 1)
    return b[:start] + c + str(len(c) + 1).encode() + b"\n"
exec(sys.argv[3])
open(sys.argv[2], "wb").write(b)
PY
    old_release
    before=$(tree_state /opt)
    expect_run 3 "/tmp/$kit.bin" install caller=APP2
    expect_contains $LOG "$message" "Install unsuccessful, return value is 3"
    check "$kit: the earlier release is intact" test "$(tree_state /opt)" = "$before"
    expect_no_leftovers
done <<EOF_KITS
truncated|b = b[:-1]|The installer file is damaged: it does not end in the catalog length and a line feed
dotdot|b = recatalog(b'$first=', b'TARVO5/Linux/ppc64/64/../../../../../../../../../../../../etc/evil=')|holds ".."
absolute|b = recatalog(b'$first=', b'/etc/evil=')|catalog path /etc/evil does not begin with
last_stream|b[$last_off + 5000:$last_off + 5004] = b'\xff\xff\xff\xff'|Unable to extract embedded binary file TARVO5/Linux/ppc64/64/uninstaller
first_stream|b[$first_off + 100:$first_off + 104] = b'\xff\xff\xff\xff'|Failed to decompress libtarvo.so to $R/lib/pk.
flipped|b = recatalog(b'/lib/libtarvo.so=', b'/l3b/libtarvo.so=')|its catalog names ${first/lib/l3b} where the copy in TARVO5/Linux/ppc64/64/uninstaller names $first
no_copy|b = recatalog(b'/uninstaller=', b'/uninstallar=')|its catalog does not name TARVO5/Linux/ppc64/64/uninstaller, which carries its copy
EOF_KITS
# A removal reads the catalog only for its paths, so a bad stream does not stand in its way.
expect_run 0 /tmp/last_stream.bin remove caller=APP1

# A link in the tree is never followed: not by the clean-up ...
kit_ok install caller=APP1
ln -s /etc "$R/lib/evil"
printf 'TARVO5/Linux/ppc64/64/lib/evil/victim\n' >> "$R/files.dat"
: > /etc/pk.victim
run_kit "$KIT" install caller=APP2
expect_present /etc/pk.victim && rm /etc/pk.victim
expect_contains $LOG "A component of $R/lib/evil is a symbolic link, which is never followed"
# ... nor by placement ...
old_release
mkdir -p /tmp/elsewhere
mv "$R/tarvo/log" /tmp/elsewhere/ && rmdir "$R/tarvo" && ln -s /tmp/elsewhere "$R/tarvo"
before=$(tree_state /opt; tree_state /tmp/elsewhere)
kit_fails_logging "A component of $R/tarvo/log is a symbolic link, which is never followed" install caller=APP2
check "nothing placed through the link" test "$(tree_state /opt; tree_state /tmp/elsewhere)" = "$before"
expect_no_leftovers
# ... nor by an upgrade's clean-up, with a lib link and a kit that ships no lib: what is there stays listed.
kit_without /lib/ /tmp/nolib.bin
old_release
mkdir -p /tmp/libtarget && mv "$R/lib"/* /tmp/libtarget/ && rmdir "$R/lib" && ln -s /tmp/libtarget "$R/lib"
touch /tmp/libtarget/libcryptocme.sig /tmp/libtarget/libccme_base.so
before=$(tree_state /tmp/libtarget)
expect_run 0 /tmp/nolib.bin install caller=APP2
check "nothing deleted through the lib link" test "$(tree_state /tmp/libtarget)" = "$before"
expect_contains $LOG "A component of $R/lib is a symbolic link, which is never followed"
expect_contains "$R/files.dat" $(grep /lib/ <<<"$PAYLOAD_PATHS")
# ... nor by the records, which are read and written by path: a link on the way to them stops the run.
rm -rf /opt/QZ /tmp/outside
mkdir -p "$DEFAULT_DIR/TARVO5" /tmp/outside/ppc64/64
printf 'CurrentVersion 5.2.4\nAPP1 5.2.4\n' > /tmp/outside/ppc64/64/.installdb
ln -s /tmp/outside "$DEFAULT_DIR/TARVO5/Linux"
before=$(tree_state /opt; tree_state /tmp/outside)
for mode in install remove; do
    kit_fails_logging "The record directory $R is reached through a symbolic link or a non-directory; nothing will be changed" $mode caller=APP1
    check "$mode: nothing changed through the link" test "$(tree_state /opt; tree_state /tmp/outside)" = "$before"
done
expect_no_leftovers

# FIFOs and hard links planted at the lock and the log (a refused run reopens the log: hold the lock).
sleep 60 & holder=$!
# At the lock they are never opened or removed by name (a racer's fresh lock could have taken the name).
for case in "$LOCK fifo 3" "$LOCK link 3" "$LOG fifo 3" "$LOG link 3"; do
    read -r name kind want <<<"$case"
    rm -rf /opt/QZ $LOCK $LOG /tmp/victim
    as_nobody sh -c 'echo keep >/tmp/victim'
    [ "$name" = $LOG ] && hold_lock "$holder"
    if [ "$kind" = fifo ]; then as_nobody mkfifo "$name"; else as_nobody ln /tmp/victim "$name"; fi
    expect_run "$want" timeout 20 "$KIT" install caller=APP1
    expect_file /tmp/victim $'keep\n'
    if [ "$name" = $LOCK ]; then expect_contains $LOG "The lock file $LOCK "; expect_present $LOCK; fi
done
kill "$holder"; wait "$holder" 2>/dev/null

# Directory names of shell code: read by login shells, never run, removed exactly by forceremove.
code='b`touch /tmp/ran1`"q\w$(touch /tmp/ran2)$HOME'
for root in "/opt/$code" "/opt/c$code"; do
    rm -rf /opt/* /tmp/ran*
    printf 'PS1=x\n' >"$HOME/.profile"
    if [ "$root" = "/opt/$code" ]; then set -- "instdir=$root"; else set --; export QZSHCOMP=$root; fi
    kit_ok install caller=APP1 env=user "$@"
    for sh in bash dash; do check "$sh -l reads $root" test "$(login_vars "$sh")" = "$root|$root/lib|$root/bin"; done
    check "nothing ran for $root" test -z "$(ls /tmp/ran* 2>/dev/null)"
    kit_ok forceremove caller=APP1 env=user "$@"
    expect_file "$HOME/.profile" $'PS1=x\n'
    unset QZSHCOMP
done

# A $HOME/.profile that root may not read (as on an NFS home with root squashed) is left as it was.
rm -rf /opt/QZ
printf 'PS1=x\nmine\n' >"$HOME/.profile"
chmod 0200 "$HOME/.profile"
expect_run 3 timeout 20 setpriv --inh-caps=-all --bounding-set=-dac_override,-dac_read_search "$KIT" install caller=APP1 env=user
expect_contains $LOG "Unable to read $HOME/.profile, environment variable setting failed"
expect_file "$HOME/.profile" $'PS1=x\nmine\n'
# $HOME/.profile as a link, a FIFO or a hard link is neither read nor written, whatever the mode; a forced
# removal that must leave its lines there fails. victim: a root-only file; /etc/created: a name to create.
printf 'root only\n' >/etc/victim && chmod 0600 /etc/victim
victims() { stat -c '%n %u %a' /etc/victim "$HOME/victim" 2>&1; md5sum /etc/victim "$HOME/victim" 2>&1; ls /etc/created /etc/.profile 2>&1; }
while IFS='|' read -r kind args want text; do
    rm -rf /opt/QZ "$HOME/.profile" "$HOME/victim" && printf 'PS1=x\n' >"$HOME/.profile"
    [ "${args%% *}" = install ] || kit_ok install caller=APP1 env=user
    rm "$HOME/.profile" && cp -p /etc/victim "$HOME/victim"
    case $kind in
    link) ln -s /etc/victim "$HOME/.profile" ;;
    dangling) ln -s /etc/created "$HOME/.profile" ;;
    fifo) mkfifo "$HOME/.profile" ;;
    hardlink) ln "$HOME/victim" "$HOME/.profile" ;;
    esac
    before=$(victims)
    expect_run "$want" timeout 20 "$KIT" $args
    expect_contains $LOG "$HOME/.profile is $text; it is neither read nor written"
    check "$kind, $args: nothing read or written through it" test "$(victims)" = "$before"
done <<'EOF_PROFILES'
link|install caller=APP1 env=user|3|a symbolic link
dangling|install caller=APP1 env=user|3|a symbolic link
fifo|install caller=APP1 env=user|3|not a regular file
hardlink|install caller=APP1 env=user|3|a file with more than one link
link|remove caller=APP1 env=user|0|a symbolic link
dangling|forceremove caller=APP1 env=user|3|a symbolic link
fifo|forceremove caller=APP1 env=user|3|not a regular file
EOF_PROFILES
expect_contains $LOG "Failed to remove environment variables, must be done manually."
expect_absent /opt/QZ

# A HOME that uid 65534 controls is used with that user's rights only: not for a file of root's in it,
# nor for a root-owned directory that its link leads to. Its own profile works and keeps its owner.
U=/tmp/uhome && mkdir $U && chown 65534:65534 $U && as_nobody ln -s /etc $U/etc
printf 'PS1=x\n' >$U/.profile
for home in $U $U/etc; do
    rm -rf /opt/QZ && before=$(victims; md5sum $U/.profile)
    expect_run 3 env HOME=$home timeout 20 "$KIT" install caller=APP1 env=user verbose
    expect_contains $LOG "Unable to open $home/.profile for writing, environment variable setting failed"
    check "HOME=$home: root's rights reached nothing" test "$(victims; md5sum $U/.profile)" = "$before"
done
rm -rf /opt/QZ $U/.profile && as_nobody sh -c "printf 'PS1=x\n' >$U/.profile"
expect_run 0 env HOME=$U "$KIT" install caller=APP1 env=user
check "the user's profile has the lines and its owner" test "$(stat -c %u $U/.profile; grep -c export $U/.profile)" = $'65534\n3'
expect_run 0 env HOME=$U "$KIT" forceremove caller=APP1 env=user
check "and loses them again" test "$(stat -c %u $U/.profile; cat $U/.profile)" = $'65534\nPS1=x'

# A FIFO or a dangling link at a record file: every run ends at once with a message naming it.
for case in ".installdb fifo" "files.dat fifo" ".installdb dangling" "files.dat dangling"; do
    read -r name kind <<<"$case"
    rm -rf /opt/QZ && kit_ok install caller=APP1 && rm "$R/$name"
    if [ $kind = fifo ]; then mkfifo "$R/$name"; else ln -s /etc/created "$R/$name"; fi
    before=$(tree_state /opt)
    for mode in install remove; do
        expect_run 3 timeout 20 "$KIT" $mode caller=APP2
        expect_contains $LOG "$R/$name is "
        check "$kind $name, $mode: nothing changed" test "$(tree_state /opt)" = "$before"
        expect_absent /etc/created $LOCK
    done
done

# A line break cannot stand in a login file: no directory holding one is installed.
for source in instdir QZSHCOMP QZLIB; do
    rm -rf /opt/*
    case $source in instdir) set -- "instdir=/opt/a"$'\n'"b" ;; *) set -- "$source=/opt/a"$'\n'"b/lib" ;; esac
    if [ $source = instdir ]; then kit_fails install caller=APP1 "$1"; else expect_run 3 env "$1" "$KIT" install caller=APP1; fi
    expect_contains $LOG "The installation directory must not contain a line break"
    check "$source: nothing placed" test -z "$(ls /opt)"
done

# A kit started through PATH by its bare name reads its own payload, not that of a user's kit of the
# same name in the current directory; without /proc too, where an empty PATH entry is never searched.
mkdir -p /tmp/kitdir /tmp/user && cp "$KIT" /tmp/kitdir/tarvo_installer.bin
cp -r "$TARVO_BUILD/kit/payload" /tmp/user/p && echo "user's" > /tmp/user/p/_tarvo_log.cfg
"$TOOL" build --program "$TARVO_BUILD/tarvo_setup" --manifest /tmp/user/p/manifest --out /tmp/user/tarvo_installer.bin
# (The sanitizers cannot run without /proc.)
for proc in mounted $(ldd "$KIT" 2>/dev/null | grep -q libasan || echo missing); do
    rm -rf /opt/QZ
    # shellcheck disable=SC2016 # expanded by the inner shell
    expect_run 0 unshare --mount bash -c '[ $0 = mounted ] || mount -t tmpfs none /proc
        cd /tmp/user && PATH=:/tmp/kitdir:$PATH exec -a tarvo_installer.bin /tmp/kitdir/tarvo_installer.bin install caller=APP1' $proc
    expect_installed "$KIT" $DEFAULT_DIR
done
finish
