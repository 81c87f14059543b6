# Login files that cannot be renamed over or written, failing opens, signals and kills, and root with HOME in a user's
# directory.
. "$TARVO_SRC/tests/profile/lib.sh"

FILES="/etc/profile /etc/profile.QZ /etc/csh_login.QZ /etc/csh.login"
state() { ls -A /etc "$@"; stat -c '%n %a' $FILES; cat $FILES; } 2>/dev/null
# QZSHCOMP is set and /etc/csh.login lost its source line, so that setting QZLIB changes all four files.
prepare() { clean_machine; qzp -s QZSHCOMP /opt/x; sed -i '$d' /etc/csh.login; before=$(state /tmp); }
# "stub TOOL PATTERN ACTION": acts once when the arguments match, then becomes a link to the real tool, which the next stub replaces.
stub() {
    printf '#!/bin/sh\ncase "$*" in %s) ln -sf %s "$0"; %s ;; esac\nexec %s "$@"\n' "$2" "$(command -v "$1")" "$3" "$(command -v "$1")" >/opt/stub/new
    chmod 755 /opt/stub/new && mv -f /opt/stub/new "/opt/stub/$1"
}
stubbed() { PATH="/opt/stub:$PATH" "$SH" "$QZP" "$@"; }
# A stub's action that kills the run itself, also when a subshell of it started the tool.
KILL_RUN='p=$PPID; read -r _ _ _ pp _ </proc/$p/stat; cmp -s /proc/$p/cmdline /proc/$pp/cmdline && p=$pp; kill -KILL $p'
mkdir -p /opt/stub

for SH in $SHELLS; do
    start_shell
    # A bind-mounted login file cannot be renamed over: it is written in place.
    prepare
    cp /etc/csh.login /opt/bound && mount --bind /opt/bound /etc/csh.login
    expect_eq "$SH: set beside a bind-mounted login file: written in place, shared files whole with mode 644" "$(qzp -s QZLIB /opt/x/lib; echo $?; tail -qn 1 /opt/bound /etc/csh_login.QZ; stat -c %a /etc/*.QZ)" \
        "0$NL$CSH_SOURCE${NL}setenv QZLIB /opt/x/lib${NL}644${NL}644"
    umount /etc/csh.login

    # A read-only one cannot take the source line: it is skipped, and the set still publishes, silently.
    prepare
    mount --bind /etc/csh.login /etc/csh.login && mount -o remount,bind,ro /etc/csh.login
    expect_eq "$SH: set beside a read-only login file: that file skipped, the rest published" "$(qzp -s QZLIB /opt/x/lib 2>&1; echo $?; tail -n 1 /etc/csh.login | grep -c QZ; qzp -q QZLIB; tail -qn 1 /etc/csh_login.QZ /etc/profile)" \
        "0${NL}0$NL/opt/x/lib${NL}setenv QZLIB /opt/x/lib$NL$SH_SOURCE"
    umount /etc/csh.login
    # A signal at the start changes nothing.
    prepare
    stub mktemp '-d*' 'kill -TERM $PPID'
    expect_eq "$SH: set, signalled at its start: nothing changed" "$(stubbed -s QZLIB /opt/x/lib; echo $?; state /tmp)" "130$NL$before"

    # A signal while the scratch directory goes after a success.
    clean_machine && stub rm '-rf*' 'kill -TERM $PPID'
    expect_eq "$SH: set, signalled at its end: the set stands" "$(stubbed -s QZSHCOMP /opt/x; echo $?; qzp -q QZSHCOMP; ls /etc | grep -c -e QZ -e vornbackup)" "0${NL}/opt/x${NL}4"
    # A run killed while it renames leaves its scratch directory; the next run clears it, but never one of a live
    # run, of another user, or with another mode.
    prepare && stub mv '*' "$KILL_RUN"
    expect_status 137 "$SH: set, killed" stubbed -s QZLIB /opt/x/lib
    others="/etc/.qzprofile.$$.live /etc/.qzprofile.99999999.user /etc/.qzprofile.99999998.mode"
    mkdir -m 700 $others && chmod 755 /etc/.qzprofile.99999998.mode && chown 65534 /etc/.qzprofile.99999999.user
    qzp -s QZLIB /opt/x/lib
    expect_eq "$SH: what the killed run left is gone" "$(ls -d /etc/.qzprofile.* /etc/*.QZ.* /tmp/prof_* 2>/dev/null | tr '\n' ' ')" \
        "$(printf '%s\n' $others | sort | tr '\n' ' ')"
    rmdir $others
    # A shared file left empty by a delete that cannot be removed: exit 8, every file as it was.
    clean_machine && qzp -s QZSHCOMP /opt/x && before=$(state /tmp) && stub rm "*/etc/profile.QZ*" 'exit 1'
    expect_eq "$SH: delete, the emptied shared file not removable: nothing changed" "$(stubbed -d QZSHCOMP; echo $?; state /tmp)" "8$NL$before"
    # Every login-file edit is backed up, here the removal of a source line.
    clean_machine
    QZPROFILE_BACKUP_PROFILES=0 qzp -s QZSHCOMP /opt/x && cp -p /etc/profile /opt/before && qzp -d QZSHCOMP
    check "$SH: backup before a delete" cmp -s /etc/profile.vornbackup /opt/before

done

# Root with HOME in a directory that uid 65534 owns (su without -, sudo -E). That user plants a link at .profile, or,
# watching with inotify, swaps a link to a root-only file in for every new name there and one to a root-owned shell in
# for .profile once it changes. Root leaves that .profile alone: the file and the shell keep bytes, owner and mode.
U=/opt/home-u
mkdir -m 755 $U && chown 65534:65534 $U && cp /etc/shadow /opt/secret && chmod 600 /opt/secret && install -m 755 /bin/true /opt/shell
guarded() { stat -c '%n %a %u %s' /opt/secret /opt/shell; md5sum /opt/secret /opt/shell; }
as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
ATTACKER='import ctypes, os, sys
fd = ctypes.CDLL(None).inotify_init()
ctypes.CDLL(None).inotify_add_watch(fd, sys.argv[1].encode(), 0x100 | 0x80 | 0x8 | 0x4)   # create, moved to, close write, attrib
print("ready", flush=True)
profile_swapped = False
while True:
    buf, at = os.read(fd, 65536), 0
    while at < len(buf):
        size = int.from_bytes(buf[at + 12:at + 16], sys.byteorder)
        name, at = buf[at + 16:at + 16 + size].rstrip(b"\0").decode(), at + 16 + size
        if name == ".stop":
            sys.exit(0)
        if name.startswith(".swap") or name == ".profile" and profile_swapped:
            continue
        profile_swapped |= name == ".profile"
        os.symlink("/opt/shell" if name == ".profile" else "/opt/secret", sys.argv[1] + "/.swap")
        os.rename(sys.argv[1] + "/.swap", sys.argv[1] + "/" + name)'
before=$(guarded)
# Each run's guarded state is kept, since a delete that wrote through could put the old bytes back.
set_and_delete() { for SH in $SHELLS; do HOME=$U qzp -s V x; guarded; HOME=$U qzp -d V; guarded; done; }
as_user ln -s /opt/secret $U/.profile
expect_eq "root, HOME a user's, .profile a link" "$(set_and_delete | sort -u; readlink $U/.profile)" "$(sort -u <<<"$before")$NL/opt/secret"
rm $U/.profile && as_user sh -c "echo PS1=x >$U/.profile && chmod 4755 $U/.profile"
exec {watch}< <(as_user /usr/bin/python3 -c "$ATTACKER" $U)
read -r -u $watch ready && check "the attacker watches" test "$ready" = ready
states=$(set_and_delete | sort -u)
touch $U/.stop && cat <&$watch
expect_eq "root, HOME a user's, that user racing" "$states$NL$(stat -c '%a %U %F' $U/.profile; cat $U/.profile)" \
    "$(sort -u <<<"$before")${NL}4755 nobody regular file${NL}PS1=x"

# An open refused anywhere in a run (the Nth open of every process, after the four that start the shell and
# read the script) ends it with exit 8 and every file as it was, or it succeeds, silently either way; a clean
# rerun then gives what a clean run gives. (The scratch directory may stay when its removal is refused.)
SH=dash
start_shell
prepare
before=$(state) && mkdir -p /opt/start && cp -p $FILES /opt/start/
qzp -s QZLIB /opt/x/lib
after=$(state)
for n in 5 7 9 12 16 21 27 34 42; do
    cp -p /opt/start/* /etc/
    out=$(strace -f -o /dev/null -e trace=openat -e inject=openat:error=EACCES:when=$n "$SH" "$QZP" -s QZLIB /opt/x/lib 2>&1)
    case $?:$out:$(state) in
        "0::$after" | "8::$before") pass ;;
        *) fail "open $n refused: status or output wrong, or files neither old nor new" ;;
    esac
    qzp -s QZLIB /opt/x/lib
    expect_eq "open $n refused: rerun" "$(state)" "$after"
done
finish
